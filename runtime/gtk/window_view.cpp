#include "runtime/gtk/window_view.h"

#include <webkit/webkit.h>

#include "host/common.h"
#include "host/dock_form.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/skin/skin_runtime.h"

namespace tavi::runtime::gtk {
namespace {

// The smallest the main window may be made; forms keep the size their build gives them.
constexpr int kMainMinWidth = 300;
constexpr int kMainMinHeight = 360;


} // namespace

WindowView::WindowView(GtkSkinView& view, CSkinWnd* window)
    : view_(view), wnd_(window), handle_(window->GetSafeHwnd()) {
    window_ = gtk_window_new();
    g_object_ref(window_);
    gtk_widget_add_css_class(window_, "skin-window");
    overlay_ = gtk_overlay_new();
    gtk_window_set_child(GTK_WINDOW(window_), overlay_);
    sizer_ = gtk_drawing_area_new();
    gtk_widget_set_hexpand(sizer_, TRUE);
    gtk_widget_set_vexpand(sizer_, TRUE);
    gtk_overlay_set_child(GTK_OVERLAY(overlay_), sizer_);
    fixed_ = gtk_fixed_new();
    gtk_overlay_add_overlay(GTK_OVERLAY(overlay_), fixed_);
    g_signal_connect(sizer_, "resize", G_CALLBACK(Resized), this);
    g_signal_connect(window_, "close-request", G_CALLBACK(CloseRequest), this);

    GtkEventController* keys = gtk_event_controller_key_new();
    gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
    g_signal_connect(keys, "key-pressed", G_CALLBACK(KeyPressed), this);
    gtk_widget_add_controller(window_, keys);

}

WindowView::~WindowView() {
    controls_.clear();
    g_signal_handlers_disconnect_by_data(window_, this);
    g_signal_handlers_disconnect_by_data(sizer_, this);
    if (!detached_)
        gtk_window_destroy(GTK_WINDOW(window_));
    g_object_unref(window_);
}

bool WindowView::IsMainForm() const {
    return static_cast<CWnd*>(CSkinWndManager::GetInstance()->GetMainForm()) == wnd_;
}

bool WindowView::ModelAlive() const {
    return !detached_ && CWnd::FromHandle(handle_) == wnd_;
}

void WindowView::Detach() {
    if (detached_)
        return;
    detached_ = true;
    gtk_window_destroy(GTK_WINDOW(window_));
}

ControlView* WindowView::ViewOf(CSkinObject* object) const {
    auto it = controls_.find(object);
    return it != controls_.end() && it->second->Object() == object ? it->second.get() : nullptr;
}

void WindowView::Sync() {
    if (!ModelAlive())
        return;
    SyncScope scope;
    // The main window carries the signed-in messenger account; a form its own caption.
    std::string title = IsMainForm() && !view_.GetMainTitle().empty() ? view_.GetMainTitle()
                                                                      : Utf8Of(wnd_->GetWindowText());
    if (title.empty())
        title = wnd_->GetObjectID();
    const char* shownTitle = gtk_window_get_title(GTK_WINDOW(window_));
    if (shownTitle == nullptr || title != shownTitle)
        gtk_window_set_title(GTK_WINDOW(window_), title.c_str());

    if (!configured_) {
        // The host registers its main form only after creating it, so this waits for the first sync.
        configured_ = true;
        if (IsMainForm()) {
            gtk_widget_set_size_request(sizer_, kMainMinWidth, kMainMinHeight);
            if (view_.decorateMainWindow)
                view_.decorateMainWindow(GTK_WINDOW(window_));
        } else {
            gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
            if (GtkWindow* main = view_.MainWindow())
                gtk_window_set_transient_for(GTK_WINDOW(window_), main);
        }
    }
    SkinRect rect = wnd_->GetWindowRect();
    if (!sized_ || rect.Width() != shownRect_.Width() || rect.Height() != shownRect_.Height()) {
        sized_ = true;
        shownRect_ = rect;
        gtk_window_set_default_size(GTK_WINDOW(window_), rect.Width(), rect.Height());
        if (!IsMainForm())
            gtk_widget_set_size_request(sizer_, rect.Width(), rect.Height());
    }

    std::set<CSkinObject*> seen;
    if (CSkinObject* root = wnd_->GetSkinObject())
        SyncObject(root, seen);
    for (auto it = controls_.begin(); it != controls_.end();) {
        if (seen.count(it->first) == 0 || it->second->Object() == nullptr) {
            gtk_fixed_remove(GTK_FIXED(fixed_), it->second->Widget());
            it = controls_.erase(it);
        } else {
            ++it;
        }
    }

    bool visible = wnd_->IsWindowVisible();
    if (visible && !gtk_widget_get_visible(window_))
        gtk_window_present(GTK_WINDOW(window_));
    else if (!visible && gtk_widget_get_visible(window_))
        gtk_widget_set_visible(window_, FALSE);
    SyncFocus();
}

void WindowView::SyncObject(CSkinObject* object, std::set<CSkinObject*>& seen) {
    seen.insert(object);
    auto it = controls_.find(object);
    if (it == controls_.end() || it->second->Object() != object) {
        if (it != controls_.end())
            gtk_fixed_remove(GTK_FIXED(fixed_), it->second->Widget());
        std::unique_ptr<ControlView> made = MakeControlView(view_, object);
        gtk_fixed_put(GTK_FIXED(fixed_), made->Widget(), 0, 0);
        it = controls_.insert_or_assign(object, std::move(made)).first;
    }
    ControlView* control = it->second.get();
    GtkWidget* widget = control->Widget();
    CSkinWnd* own = CSkinWnd::FromSkinObject(object);
    bool embedded = own != nullptr && own != wnd_;
    const SkinRect& rect = object->GetRect();
    bool shown = object->IsShown() && (!embedded || own->IsWindowVisible()) && rect.Width() > 0 && rect.Height() > 0;
    if (shown) {
        gtk_fixed_move(GTK_FIXED(fixed_), widget, rect.left, rect.top);
        gtk_widget_set_size_request(widget, rect.Width(), rect.Height());
    }
    if (gtk_widget_get_visible(widget) != shown)
        gtk_widget_set_visible(widget, shown);
    bool enabled = object->IsEnabledInTree() && (!embedded || own->IsWindowEnabled());
    if (gtk_widget_get_sensitive(widget) != enabled)
        gtk_widget_set_sensitive(widget, enabled);
    std::string tip = Utf8Of(object->GetTip());
    const char* shownTip = gtk_widget_get_tooltip_text(widget);
    if ((shownTip ? std::string(shownTip) : std::string()) != tip)
        gtk_widget_set_tooltip_text(widget, tip.empty() ? nullptr : tip.c_str());
    control->Update();
    for (CSkinObject* child : object->GetChildren())
        SyncObject(child, seen);
}

void WindowView::SyncFocus() {
    CWnd* focus = CWnd::GetFocus();
    if (focus == shownFocus_)
        return;
    shownFocus_ = focus;
    auto* focused = dynamic_cast<CSkinWnd*>(focus);
    if (focused == nullptr || focused->GetTopLevel() != wnd_ || focused == wnd_)
        return;
    if (ControlView* control = ViewOf(focused->GetSkinObject()))
        gtk_widget_grab_focus(control->FocusWidget());
}

void WindowView::Resized(GtkDrawingArea*, int width, int height, gpointer data) {
    auto* self = static_cast<WindowView*>(data);
    if (!self->ModelAlive() || !self->IsMainForm())
        return;
    SkinRect rect = self->wnd_->GetWindowRect();
    if (rect.Width() == width && rect.Height() == height)
        return;
    // A person sized the window: the model lays its tree out again for the new size.
    rect.right = rect.left + width;
    rect.bottom = rect.top + height;
    self->shownRect_ = rect;
    self->wnd_->MoveWindow(rect);
    self->view_.ScheduleSync();
}

gboolean WindowView::CloseRequest(GtkWindow*, gpointer data) {
    auto* self = static_cast<WindowView*>(data);
    if (!self->ModelAlive())
        return FALSE;
    if (self->IsMainForm()) {
        if (self->view_.onMainWindowClosed)
            self->view_.onMainWindowClosed();
        return TRUE;
    }
    // The form decides: it may hide, refuse or go away.
    self->wnd_->SendMessage(WM_CLOSE);
    self->view_.ScheduleSync();
    return TRUE;
}

gboolean WindowView::KeyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer data) {
    auto* self = static_cast<WindowView*>(data);
    if (!self->ModelAlive())
        return FALSE;
    bool shift = (state & GDK_SHIFT_MASK) != 0;
    bool control = (state & GDK_CONTROL_MASK) != 0;
    unsigned key = 0;
    switch (keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
        key = VK_TAB;
        break;
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
        key = VK_RETURN;
        break;
    case GDK_KEY_Escape:
        key = VK_ESCAPE;
        break;
    case GDK_KEY_F5:
        key = VK_F5;
        break;
    default:
        return FALSE;
    }
    GtkWidget* focusWidget = gtk_root_get_focus(GTK_ROOT(self->window_));
    if (key == VK_RETURN && control) {
        // Ctrl+Enter sends a form from anywhere in it, a multi-line edit included.
        auto* form = dynamic_cast<CSkinForm*>(self->wnd_);
        if (CSkinObject* ok = form ? form->GetDefaultOkButton() : nullptr) {
            ok->PerformClick();
            self->view_.ScheduleSync();
            return TRUE;
        }
        return FALSE;
    }
    // Enter in a multi-line edit types a line break (through the edit's own typing).
    if (key == VK_RETURN && focusWidget && GTK_IS_TEXT_VIEW(focusWidget))
        return FALSE;
    // In the page, Tab moves between its links and Enter follows the focused one, as in a browser.
    if ((key == VK_TAB || key == VK_RETURN) && focusWidget &&
        gtk_widget_get_ancestor(focusWidget, WEBKIT_TYPE_WEB_VIEW) != nullptr)
        return FALSE;
    CWnd* focus = CWnd::GetFocus();
    void* target = focus && focus->GetTopLevel() == self->wnd_ ? focus->GetSafeHwnd() : self->handle_;
    if (shift)
        SendKeyMessage(target, WM_KEYDOWN, VK_SHIFT);
    bool consumed = SendKeyMessage(target, WM_KEYDOWN, key);
    SendKeyMessage(target, WM_KEYUP, key);
    if (shift)
        SendKeyMessage(target, WM_KEYUP, VK_SHIFT);
    self->view_.ScheduleSync();
    return consumed;
}

} // namespace tavi::runtime::gtk
