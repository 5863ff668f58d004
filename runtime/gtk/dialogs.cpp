// The host's dialogs in the window: the modal message box, balloon tips as popovers at their
// anchor, and notices (in the main window, and as desktop notifications where the session has a
// notification service).
#include <gio/gio.h>

#include "host/dock_form.h"
#include "host/msgbox.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/gtk/window_view.h"

namespace tavi::runtime::gtk {
namespace {

struct BoxState {
    int answer = 0;
    bool done = false;
};

void BoxResponse(GtkDialog* dialog, int response, gpointer data) {
    auto* state = static_cast<BoxState*>(data);
    state->answer = response > 0 ? response : 0;
    state->done = true;
    gtk_window_destroy(GTK_WINDOW(dialog));
}

gboolean PopdownBalloon(gpointer data) {
    GtkWidget* popover = GTK_WIDGET(data);
    gtk_popover_popdown(GTK_POPOVER(popover));
    gtk_widget_unparent(popover);
    g_object_unref(popover);
    return G_SOURCE_REMOVE;
}

} // namespace

int GtkSkinView::RunMessageBox(int buttons, const std::string& titleUtf8, const std::string& textUtf8) {
    SyncNow();
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* dialog = gtk_message_dialog_new(MainWindow(), static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                                               buttons == kMsgBoxButtonsOk ? GTK_MESSAGE_INFO : GTK_MESSAGE_QUESTION,
                                               GTK_BUTTONS_NONE, "%s", textUtf8.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), titleUtf8.c_str());
    if (buttons == kMsgBoxButtonsOk) {
        gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", kMsgBoxAnswerYes);
    } else {
        gtk_dialog_add_button(GTK_DIALOG(dialog), "_No", kMsgBoxAnswerNo);
        if (buttons == kMsgBoxButtonsYesNoCancel)
            gtk_dialog_add_button(GTK_DIALOG(dialog), "_Cancel", kMsgBoxAnswerCancel);
        gtk_dialog_add_button(GTK_DIALOG(dialog), "_Yes", kMsgBoxAnswerYes);
    }
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kMsgBoxAnswerYes);
    G_GNUC_END_IGNORE_DEPRECATIONS
    BoxState state;
    g_signal_connect(dialog, "response", G_CALLBACK(BoxResponse), &state);
    gtk_window_present(GTK_WINDOW(dialog));
    GtkWidget* outer = openBox_;
    openBox_ = dialog;
    // The box is modal: the loop runs (the host's own work included) until it is answered.
    while (!state.done) {
        if (duringModal && duringModal())
            continue;
        g_main_context_iteration(nullptr, TRUE);
    }
    openBox_ = outer;
    if (state.answer == 0)
        state.answer = buttons == kMsgBoxButtonsYesNoCancel ? kMsgBoxAnswerCancel
                       : buttons == kMsgBoxButtonsOk      ? kMsgBoxAnswerYes
                                                          : kMsgBoxAnswerNo;
    return state.answer;
}

bool GtkSkinView::AnswerOpenMessageBox(int answer) {
    if (openBox_ == nullptr)
        return false;
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(openBox_), answer);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (button == nullptr)
        return false;
    // The button's click, at once (activating it would click only after its pressed look).
    g_signal_emit_by_name(button, "clicked");
    return true;
}

void GtkSkinView::ShowBalloon(const std::string& anchorId, const std::string& textUtf8, int milliseconds) {
    SyncNow();
    GtkWidget* anchor = nullptr;
    for (auto& [window, view] : windows_) {
        if (anchorId.empty() || !window->IsWindowVisible())
            continue;
        CSkinObject* object = view->Wnd()->GetSkinObject()->FindControlRecusive(anchorId);
        ControlView* control = object ? view->ViewOf(object) : nullptr;
        if (control && gtk_widget_get_visible(control->Widget())) {
            anchor = control->Widget();
            break;
        }
    }
    if (anchor == nullptr) {
        GtkWindow* main = MainWindow();
        if (main == nullptr)
            return;
        anchor = gtk_window_get_child(main);
    }
    GtkWidget* popover = gtk_popover_new();
    g_object_ref_sink(popover);
    GtkWidget* label = gtk_label_new(textUtf8.c_str());
    gtk_label_set_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 40);
    gtk_popover_set_child(GTK_POPOVER(popover), label);
    gtk_popover_set_autohide(GTK_POPOVER(popover), FALSE);
    gtk_widget_add_css_class(popover, "skin-balloon");
    gtk_widget_set_parent(popover, anchor);
    gtk_popover_popup(GTK_POPOVER(popover));
    g_timeout_add(static_cast<guint>(milliseconds > 0 ? milliseconds : 2000), PopdownBalloon, popover);
}

void GtkSkinView::ShowNotice(const std::string& titleUtf8, const std::string& contentUtf8, int milliseconds) {
    // A desktop notification where the session has a bus (and so a notification service).
    if (!notificationsTried_) {
        notificationsTried_ = true;
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (bus != nullptr) {
            g_object_unref(bus);
            notifications_ = g_application_new(kApplicationId, G_APPLICATION_NON_UNIQUE);
            if (!g_application_register(notifications_, nullptr, nullptr)) {
                g_object_unref(notifications_);
                notifications_ = nullptr;
            }
        }
    }
    if (notifications_ != nullptr) {
        GNotification* notification = g_notification_new(titleUtf8.c_str());
        g_notification_set_body(notification, contentUtf8.c_str());
        g_application_send_notification(notifications_, "microblog-notice", notification);
        g_object_unref(notification);
    }
    // And in the main window, at its foot, for the notice's time.
    GtkWindow* main = MainWindow();
    auto found = windows_.find(CSkinWndManager::GetInstance()->GetMainForm());
    if (main == nullptr || found == windows_.end())
        return;
    if (noticeBar_ == nullptr) {
        noticeBar_ = gtk_revealer_new();
        gtk_revealer_set_transition_type(GTK_REVEALER(noticeBar_), GTK_REVEALER_TRANSITION_TYPE_SLIDE_UP);
        gtk_widget_set_valign(noticeBar_, GTK_ALIGN_END);
        gtk_widget_set_halign(noticeBar_, GTK_ALIGN_FILL);
        noticeLabel_ = gtk_label_new("");
        gtk_label_set_wrap(GTK_LABEL(noticeLabel_), TRUE);
        gtk_label_set_xalign(GTK_LABEL(noticeLabel_), 0);
        gtk_widget_add_css_class(noticeLabel_, "skin-notice");
        gtk_accessible_update_property(GTK_ACCESSIBLE(noticeLabel_), GTK_ACCESSIBLE_PROPERTY_LABEL, "notice", -1);
        gtk_revealer_set_child(GTK_REVEALER(noticeBar_), noticeLabel_);
        gtk_overlay_add_overlay(found->second->Overlay(), noticeBar_);
    }
    std::string text = titleUtf8.empty() ? contentUtf8 : titleUtf8 + "\n" + contentUtf8;
    gtk_label_set_text(GTK_LABEL(noticeLabel_), text.c_str());
    gtk_revealer_set_reveal_child(GTK_REVEALER(noticeBar_), TRUE);
    if (noticeTimer_ != 0)
        g_source_remove(noticeTimer_);
    noticeTimer_ = g_timeout_add(
        static_cast<guint>(milliseconds > 0 ? milliseconds : 5000),
        [](gpointer data) -> gboolean {
            auto* self = static_cast<GtkSkinView*>(data);
            self->noticeTimer_ = 0;
            if (self->noticeBar_)
                gtk_revealer_set_reveal_child(GTK_REVEALER(self->noticeBar_), FALSE);
            return G_SOURCE_REMOVE;
        },
        this);
}

std::string GtkSkinView::GetShownNotice() const {
    if (noticeBar_ == nullptr || !gtk_revealer_get_reveal_child(GTK_REVEALER(noticeBar_)))
        return std::string();
    return gtk_label_get_text(GTK_LABEL(noticeLabel_));
}

} // namespace tavi::runtime::gtk
