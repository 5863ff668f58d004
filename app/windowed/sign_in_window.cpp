// The messenger's own sign-in as a window: the account (given on the command line or typed) and
// the password, asked before the host starts when no password option was given.
#include "app/windowed/windowed_host.h"

#include <gtk/gtk.h>

#include "runtime/gtk/gtk_skin_view.h"

namespace tavi::app {
namespace {

struct SignInForm {
    GtkWidget* window = nullptr;
    GtkWidget* account = nullptr;
    GtkWidget* password = nullptr;
    GtkWidget* problem = nullptr;
    GtkWidget* signIn = nullptr;
    bool done = false;
    bool accepted = false;
};

std::string EditableText(GtkWidget* widget) {
    const char* text = gtk_editable_get_text(GTK_EDITABLE(widget));
    return text ? text : "";
}

void UpdateButton(GtkEditable*, gpointer data) {
    auto* form = static_cast<SignInForm*>(data);
    gtk_widget_set_sensitive(form->signIn, !EditableText(form->account).empty() &&
                                               !EditableText(form->password).empty());
}

void Accept(GtkWidget*, gpointer data) {
    auto* form = static_cast<SignInForm*>(data);
    std::string problem;
    std::string account = EditableText(form->account);
    if (!IsUsableAccount(account, problem)) {
        gtk_label_set_text(GTK_LABEL(form->problem), problem.c_str());
        gtk_widget_set_visible(form->problem, TRUE);
        gtk_widget_grab_focus(form->account);
        return;
    }
    if (EditableText(form->password).empty()) {
        gtk_widget_grab_focus(form->password);
        return;
    }
    form->accepted = true;
    form->done = true;
}

void Cancel(GtkWidget*, gpointer data) { static_cast<SignInForm*>(data)->done = true; }

gboolean Closed(GtkWindow*, gpointer data) {
    static_cast<SignInForm*>(data)->done = true;
    return TRUE;
}

gboolean EscapePressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType, gpointer data) {
    if (keyval != GDK_KEY_Escape)
        return FALSE;
    static_cast<SignInForm*>(data)->done = true;
    return TRUE;
}

GtkWidget* FieldLabel(const char* text, GtkWidget* field) {
    GtkWidget* label = gtk_label_new_with_mnemonic(text);
    gtk_label_set_xalign(GTK_LABEL(label), 1);
    gtk_label_set_mnemonic_widget(GTK_LABEL(label), field);
    return label;
}

} // namespace

bool IsUsableAccount(const std::string& account, std::string& problem) {
    // The account names the user's folder under <app>/users/.
    if (account.empty()) {
        problem = "请输入帐号";
        return false;
    }
    if (account.find('/') != std::string::npos || account[0] == '.') {
        problem = "帐号不能含有 / 或以 . 开头";
        return false;
    }
    return true;
}

bool WindowedHost::AskSignIn(std::string& account, std::string& password) {
    SignInForm form;
    form.window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(form.window), "Tavi 登录");
    gtk_window_set_resizable(GTK_WINDOW(form.window), FALSE);
    gtk_widget_add_css_class(form.window, "sign-in");

    GtkWidget* grid = gtk_grid_new();
    gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 10);
    gtk_widget_set_margin_top(grid, 18);
    gtk_widget_set_margin_bottom(grid, 14);
    gtk_widget_set_margin_start(grid, 18);
    gtk_widget_set_margin_end(grid, 18);

    GtkWidget* heading = gtk_label_new("登录 Tavi 即时通讯");
    gtk_widget_add_css_class(heading, "title-3");
    gtk_label_set_xalign(GTK_LABEL(heading), 0);
    gtk_grid_attach(GTK_GRID(grid), heading, 0, 0, 2, 1);

    form.account = gtk_entry_new();
    gtk_editable_set_text(GTK_EDITABLE(form.account), account.c_str());
    gtk_entry_set_input_purpose(GTK_ENTRY(form.account), GTK_INPUT_PURPOSE_EMAIL);
    gtk_widget_set_size_request(form.account, 220, -1);
    gtk_widget_set_name(form.account, "SignInAccount");
    form.password = gtk_password_entry_new();
    gtk_password_entry_set_show_peek_icon(GTK_PASSWORD_ENTRY(form.password), TRUE);
    gtk_widget_set_name(form.password, "SignInPassword");
    gtk_grid_attach(GTK_GRID(grid), FieldLabel("帐号(_A)", form.account), 0, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), form.account, 1, 1, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), FieldLabel("密码(_P)", form.password), 0, 2, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), form.password, 1, 2, 1, 1);

    form.problem = gtk_label_new("");
    gtk_widget_add_css_class(form.problem, "error");
    gtk_label_set_xalign(GTK_LABEL(form.problem), 0);
    gtk_widget_set_visible(form.problem, FALSE);
    gtk_grid_attach(GTK_GRID(grid), form.problem, 1, 3, 1, 1);

    GtkWidget* buttons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
    gtk_widget_set_halign(buttons, GTK_ALIGN_END);
    gtk_widget_set_margin_top(buttons, 6);
    GtkWidget* cancel = gtk_button_new_with_mnemonic("取消(_C)");
    form.signIn = gtk_button_new_with_mnemonic("登录(_S)");
    gtk_widget_add_css_class(form.signIn, "suggested-action");
    gtk_box_append(GTK_BOX(buttons), cancel);
    gtk_box_append(GTK_BOX(buttons), form.signIn);
    gtk_grid_attach(GTK_GRID(grid), buttons, 0, 4, 2, 1);
    gtk_window_set_child(GTK_WINDOW(form.window), grid);
    gtk_window_set_default_widget(GTK_WINDOW(form.window), form.signIn);

    g_signal_connect(form.account, "changed", G_CALLBACK(UpdateButton), &form);
    g_signal_connect(form.password, "changed", G_CALLBACK(UpdateButton), &form);
    // Enter in the account moves on to the password; Enter in the password signs in.
    g_signal_connect_swapped(form.account, "activate", G_CALLBACK(gtk_widget_grab_focus), form.password);
    g_signal_connect(form.password, "activate", G_CALLBACK(Accept), &form);
    g_signal_connect(form.signIn, "clicked", G_CALLBACK(Accept), &form);
    g_signal_connect(cancel, "clicked", G_CALLBACK(Cancel), &form);
    g_signal_connect(form.window, "close-request", G_CALLBACK(Closed), &form);
    GtkEventController* keys = gtk_event_controller_key_new();
    g_signal_connect(keys, "key-pressed", G_CALLBACK(EscapePressed), &form);
    gtk_widget_add_controller(form.window, keys);
    UpdateButton(nullptr, &form);

    gtk_window_present(GTK_WINDOW(form.window));
    gtk_widget_grab_focus(account.empty() ? form.account : form.password);
    while (!form.done)
        g_main_context_iteration(nullptr, TRUE);
    if (form.accepted) {
        account = EditableText(form.account);
        password = EditableText(form.password);
        view_->SetMainTitle("Tavi - " + account);
    }
    gtk_window_destroy(GTK_WINDOW(form.window));
    return form.accepted;
}

} // namespace tavi::app
