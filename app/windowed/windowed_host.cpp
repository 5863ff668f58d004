#include "app/windowed/windowed_host.h"

#include <glib-unix.h>
#include <webkit/webkit.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>

#include "app/host_app.h"
#include "host/common.h"
#include "host/dock_form.h"
#include "host/msgbox.h"
#include "host/web_browser.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/gtk/main_context_loop.h"

namespace tavi::app {

// The main window's title bar: the account as its title, and the menu with the plug-ins' items
// (filled each time it opens, as the plug-ins may change them) and the host's own Quit.
struct MenuBar {
    HostApp* host;
    runtime::gtk::GtkSkinView* view;
    bool* running;
};

namespace {

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// Lines of standard input, executed one at a time as they arrive while the window runs. While a
// command waits on a message box, the next lines run from the box's loop, and may answer it.
struct InputLines {
    HostApp* host;
    runtime::gtk::GtkSkinView* view;
    bool* running;
    std::string partial;
    std::deque<std::string> lines;
    guint watch = 0;
    guint runner = 0;
};

gboolean RunLine(gpointer data) {
    auto* input = static_cast<InputLines*>(data);
    if (input->lines.empty() || !*input->running) {
        input->runner = 0;
        return G_SOURCE_REMOVE;
    }
    std::string line = std::move(input->lines.front());
    input->lines.pop_front();
    if (!input->host->Execute(line))
        *input->running = false;
    input->view->ScheduleSync();
    return G_SOURCE_CONTINUE;
}

gboolean ReadInput(gint fd, GIOCondition, gpointer data) {
    auto* input = static_cast<InputLines*>(data);
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        // The input ended: a pipe, a file or Ctrl-D at a terminal end the session once the lines
        // read have run; with no input at all (/dev/null, as a desktop launcher gives) the window
        // stays until a person closes it.
        struct stat info {};
        bool noInput = fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && !isatty(fd);
        if (!noInput) {
            input->lines.push_back("quit");
            if (input->runner == 0)
                input->runner = g_idle_add(RunLine, input);
        }
        input->watch = 0;
        return G_SOURCE_REMOVE;
    }
    input->partial.append(buffer, static_cast<std::size_t>(got));
    for (std::size_t end; (end = input->partial.find('\n')) != std::string::npos;) {
        input->lines.push_back(input->partial.substr(0, end));
        input->partial.erase(0, end + 1);
    }
    if (!input->lines.empty() && input->runner == 0)
        input->runner = g_idle_add(RunLine, input);
    return G_SOURCE_CONTINUE;
}

// The page's links in document order, one "N address text" line each.
constexpr const char* kLinksScript = R"js(
Array.from(document.querySelectorAll('a[href]'),
    (a, i) => (i + 1) + ' ' + a.href + ' ' + a.textContent.replace(/\s+/g, ' ').trim()).join('\n')
)js";

// The page as a person reads it, one line a block, each link numbered after its text and
// pictures as "[image SRC]", from the live document as the stylesheet lays it out.
constexpr const char* kPageScript = R"js(
(function () {
    const links = Array.from(document.querySelectorAll('a[href]'));
    const out = [];
    let line = '';
    const flush = () => { const t = line.replace(/\s+/g, ' ').trim(); if (t) out.push(t); line = ''; };
    const walk = (node) => {
        if (node.nodeType === Node.TEXT_NODE) { line += node.data; return; }
        if (node.nodeType !== Node.ELEMENT_NODE) return;
        const tag = node.localName;
        if (tag === 'script' || tag === 'style') return;
        if (tag === 'img') { line += '[image ' + (node.getAttribute('src') || '') + ']'; return; }
        const display = getComputedStyle(node).display;
        if (display === 'none') return;
        const block = !display.startsWith('inline');
        if (block) flush();
        for (let child = node.firstChild; child; child = child.nextSibling) walk(child);
        if (tag === 'a' && node.hasAttribute('href')) line += ' [' + (links.indexOf(node) + 1) + ']';
        if (block) flush();
    };
    if (document.body) walk(document.body);
    flush();
    return out.join('\n');
})()
)js";

// Text as a script's string literal: UTF-8 kept as it is, quotes, backslashes and control
// characters escaped (a selector may hold Chinese text).
std::string JsString(const std::string& utf8) {
    std::string out = "\"";
    for (unsigned char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// A count of at most nine digits.
bool ParseCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    count = std::stoi(text);
    return true;
}

// Clicks link N inside the page, as a person's click does; "count N" when there is no such link.
std::string FollowScript(int number) {
    return "(function (n) { const a = document.querySelectorAll('a[href]');"
           " if (n > a.length) return 'count ' + a.length;"
           " a[n - 1].scrollIntoView({block: 'center'}); a[n - 1].click(); return 'ok'; })(" +
           std::to_string(number) + ")";
}

constexpr int kPageAnswerBoundMs = 10000;

void FillMenu(GtkMenuButton* button, gpointer data) {
    auto* bar = static_cast<MenuBar*>(data);
    GMenu* menu = g_menu_new();
    GMenu* plugins = g_menu_new();
    for (const auto& [id, text] : bar->host->PluginMenuItems()) {
        GMenuItem* item = g_menu_item_new(text.c_str(), nullptr);
        g_menu_item_set_action_and_target_value(item, "host.menu", g_variant_new_uint64(id));
        g_menu_append_item(plugins, item);
        g_object_unref(item);
    }
    g_menu_append_section(menu, nullptr, G_MENU_MODEL(plugins));
    g_menu_append(menu, "退出", "host.quit");
    gtk_menu_button_set_menu_model(button, G_MENU_MODEL(menu));
    g_object_unref(plugins);
    g_object_unref(menu);
}

void ChooseMenu(GSimpleAction*, GVariant* parameter, gpointer data) {
    auto* bar = static_cast<MenuBar*>(data);
    bar->host->ChoosePluginMenu(g_variant_get_uint64(parameter));
    bar->view->ScheduleSync();
}

void Quit(GSimpleAction*, GVariant*, gpointer data) {
    *static_cast<MenuBar*>(data)->running = false;
}

void DecorateMainWindow(GtkWindow* window, MenuBar* bar) {
    GSimpleActionGroup* actions = g_simple_action_group_new();
    GSimpleAction* choose = g_simple_action_new("menu", G_VARIANT_TYPE_UINT64);
    g_signal_connect(choose, "activate", G_CALLBACK(ChooseMenu), bar);
    g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(choose));
    g_object_unref(choose);
    GSimpleAction* quit = g_simple_action_new("quit", nullptr);
    g_signal_connect(quit, "activate", G_CALLBACK(Quit), bar);
    g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(quit));
    g_object_unref(quit);
    gtk_widget_insert_action_group(GTK_WIDGET(window), "host", G_ACTION_GROUP(actions));
    g_object_unref(actions);

    GtkWidget* header = gtk_header_bar_new();
    gtk_header_bar_set_decoration_layout(GTK_HEADER_BAR(header), ":minimize,close");
    GtkWidget* button = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(button), "open-menu-symbolic");
    gtk_widget_set_tooltip_text(button, "菜单");
    gtk_accessible_update_property(GTK_ACCESSIBLE(button), GTK_ACCESSIBLE_PROPERTY_LABEL, "菜单", -1);
    gtk_widget_set_name(button, "HostMenu");
    gtk_menu_button_set_create_popup_func(GTK_MENU_BUTTON(button), FillMenu, bar, nullptr);
    // F10 opens it, as a window's main menu.
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(button), TRUE);
    gtk_header_bar_pack_end(GTK_HEADER_BAR(header), button);
    gtk_window_set_titlebar(window, header);
}

} // namespace

WindowedHost::WindowedHost() = default;

WindowedHost::~WindowedHost() {
    runtime::SetWebOpener(nullptr);
    runtime::SetSkinView(nullptr);
    view_.reset();
    loop_.reset();
}

std::unique_ptr<WindowedHost> WindowedHost::Open(const std::string& account, std::string& error) {
    if (!HasDisplay()) {
        error = "--gui needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return nullptr;
    }
    g_set_application_name("Tavi");
    if (!gtk_init_check()) {
        error = "--gui cannot open the display";
        return nullptr;
    }
    // The installed icon (from the icon theme; none when tavi runs from its build folder).
    gtk_window_set_default_icon_name(runtime::gtk::kApplicationId);
    std::unique_ptr<WindowedHost> host(new WindowedHost());
    host->loop_ = std::make_unique<runtime::gtk::MainContextLoop>(runtime::UiLoop::Instance());
    host->view_ = std::make_unique<runtime::gtk::GtkSkinView>();
    host->view_->SetMainTitle("Tavi - " + account);
    runtime::gtk::GtkSkinView* view = host->view_.get();
    // Whatever the loop ran may have changed the model: the view catches up.
    host->loop_->afterDispatch = [view] { view->ScheduleSync(); };
    runtime::SetSkinView(view);
    return host;
}

void WindowedHost::Attach(HostApp& host) {
    runtime::gtk::GtkSkinView* view = view_.get();
    view->onMainWindowClosed = [this] { running_ = false; };
    menuBar_ = std::make_unique<MenuBar>(MenuBar{&host, view, &running_});
    view->decorateMainWindow = [bar = menuBar_.get()](GtkWindow* window) { DecorateMainWindow(window, bar); };
    host.SetMessageBoxDialog([view](int buttons, const std::string& title, const std::string& text) {
        return view->RunMessageBox(buttons, title, text);
    });
    runtime::Notifier& notifier = host.GetCore().GetNotifier();
    auto said = notifier.onNotice;
    notifier.onNotice = [view, said](const runtime::Notifier::Notice& notice) {
        if (said)
            said(notice);
        view->ShowNotice(CString_to_utf8(notice.record.title), CString_to_utf8(notice.record.content),
                         notice.record.displayMilliseconds);
    };
    auto saidBalloon = notifier.onBalloon;
    notifier.onBalloon = [view, saidBalloon](const runtime::Notifier::Balloon& balloon) {
        if (saidBalloon)
            saidBalloon(balloon);
        view->ShowBalloon(balloon.anchor, CString_to_utf8(balloon.text), balloon.milliseconds);
    };
    host.AddCommand("screenshot", "screenshot FILE [WINDOW]",
                    "save a PNG of the main window, or of a form by its object id, as the window draws it",
                    [&host, view](const std::vector<std::string>& args) {
                        if (args.size() < 2 || args.size() > 3) {
                            std::cout << "error: screenshot: give the file, and a form's id for a form\n";
                            return;
                        }
                        CWnd* window = host.GetMainForm();
                        if (args.size() == 3) {
                            window = CSkinWndManager::GetInstance()->FindForm(args[2]);
                            if (window == nullptr) {
                                std::cout << "error: screenshot: no window " << args[2] << "\n";
                                return;
                            }
                        }
                        view->WaitDrawn(10000);
                        std::string error;
                        if (!view->SaveScreenshot(window, args[1], error))
                            std::cout << "error: screenshot: " << error << "\n";
                        else
                            std::cout << "screenshot " << args[1] << "\n";
                    });
    host.SetViewTyper([view](CSkinObject* edit, const std::string& utf8) {
        view->SyncNow();
        runtime::gtk::ControlView* control = view->ViewOf(edit);
        bool typed = control && control->TypeText(utf8);
        view->SyncNow();
        return typed;
    });
    // A web address the plug-in opens goes to the desktop's web browser; nothing else is launched.
    runtime::SetWebOpener([](const std::string& url) {
        if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
            return;
        GError* error = nullptr;
        if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
            std::cerr << "tavi: no web browser opened " << url << ": " << (error ? error->message : "") << "\n";
            g_clear_error(&error);
        }
    });
    RegisterPageCommands(host);
    if (CDockFormEx* main = host.GetMainForm())
        main->ShowWindow(SW_SHOW);
    view->SyncNow();
}

// page, links and follow read the live document of the web view, and follow clicks inside WebKit:
// the click reaches the model through the view's policy decision, as a person's does.
void WindowedHost::RegisterPageCommands(HostApp& host) {
    runtime::gtk::GtkSkinView* view = view_.get();
    auto shownPage = [&host, view](const std::string& command) -> WebKitWebView* {
        CSkinWebBrowser* browser = host.ShownBrowser();
        WebKitWebView* page = browser ? view->WebViewOf(browser->GetSkinObject()) : nullptr;
        if (page == nullptr) {
            host.Error(command + ": no page is shown");
            return nullptr;
        }
        if (!view->WaitDrawn(kPageAnswerBoundMs)) {
            host.Error(command + ": the page did not finish loading");
            return nullptr;
        }
        return page;
    };
    auto sayLines = [&host](const std::string& text, const std::string& empty) {
        if (text.empty()) {
            host.Say(empty);
            return;
        }
        for (std::size_t start = 0; start <= text.size();) {
            std::size_t end = text.find('\n', start);
            host.Say(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    };
    // Runs the host's script in the shown page and prints what it answers, a line at a time.
    auto printFromPage = [&host, shownPage, sayLines](const std::string& command, const std::string& script,
                                                      const std::string& empty) {
        WebKitWebView* page = shownPage(command);
        if (page == nullptr)
            return;
        std::string text;
        if (!runtime::gtk::GtkSkinView::EvaluateInPage(page, script, text, kPageAnswerBoundMs))
            host.Error(command + ": " + text);
        else
            sayLines(text, empty);
    };
    host.AddCommand("answer", "answer yes|no|cancel",
                    "click that button of the open message box, or answer the next one so",
                    [&host, view](const std::vector<std::string>& args) {
                        int answer = args.size() != 2 ? 0
                                     : args[1] == "yes" ? kMsgBoxAnswerYes
                                     : args[1] == "no"  ? kMsgBoxAnswerNo
                                     : args[1] == "cancel" ? kMsgBoxAnswerCancel
                                                           : 0;
                        if (answer == 0)
                            host.Error("answer: give yes, no or cancel");
                        else if (!view->AnswerOpenMessageBox(answer))
                            host.QueueAnswer(answer);
                    });
    host.AddCommand("inspect", "inspect SELECTOR [PROPERTY]",
                    "count the page's elements that match a CSS selector, and the computed style of the first",
                    [&host, printFromPage](const std::vector<std::string>& args) {
                        if (args.size() < 2 || args.size() > 3) {
                            host.Error("inspect: give a CSS selector, and a style property");
                            return;
                        }
                        std::string script = "(function (s, p) { const all = document.querySelectorAll(s);"
                                             " let line = all.length + ' elements';"
                                             " if (p && all.length) line += '\\n' + p + ': ' +"
                                             " getComputedStyle(all[0]).getPropertyValue(p);"
                                             " return line; })(" +
                                             JsString(args[1]) + ", " + JsString(args.size() == 3 ? args[2] : "") + ")";
                        printFromPage("inspect", script, "no answer");
                    });
    host.AddCommand("loaded", "loaded [N]",
                    "print how many pages the browser finished loading; with N, first wait until it has",
                    [&host, view](const std::vector<std::string>& args) {
                        int wanted = 0;
                        if (args.size() > 2 || (args.size() == 2 && !ParseCount(args[1], wanted))) {
                            host.Error("loaded: give the number of pages to wait for");
                            return;
                        }
                        if (!runtime::gtk::GtkSkinView::RunUntil(
                                [&] { return view->PagesFinished() >= wanted; }, kPageAnswerBoundMs))
                            host.Error("loaded: only " + std::to_string(view->PagesFinished()) + " pages finished");
                        else
                            host.Say("loaded " + std::to_string(view->PagesFinished()));
                    });
    host.AddCommand("page", "page", "print the page in the browser as text",
                    [printFromPage](const std::vector<std::string>&) {
                        printFromPage("page", kPageScript, "empty page");
                    });
    host.AddCommand("links", "links", "list the links of the page in the browser",
                    [printFromPage](const std::vector<std::string>&) {
                        printFromPage("links", kLinksScript, "no links");
                    });
    host.AddCommand(
        "follow", "follow N", "activate link N of the page, as a click does",
        [&host, view, shownPage](const std::vector<std::string>& args) {
            int number = 0;
            if (args.size() != 2 || !ParseCount(args[1], number) || number == 0) {
                host.Error("follow: give the number of a link (see links)");
                return;
            }
            WebKitWebView* page = shownPage("follow");
            if (page == nullptr)
                return;
            int before = view->LinksActivated();
            std::string answer;
            if (!runtime::gtk::GtkSkinView::EvaluateInPage(page, FollowScript(number), answer, kPageAnswerBoundMs)) {
                host.Error("follow: " + answer);
                return;
            }
            if (answer.rfind("count ", 0) == 0) {
                host.Error("follow: no link " + args[1] + " (the page has " + answer.substr(6) + ")");
                return;
            }
            // The click travels through WebKit's policy decision before it reaches the model.
            if (!runtime::gtk::GtkSkinView::RunUntil([&] { return view->LinksActivated() != before; },
                                                     kPageAnswerBoundMs))
                host.Error("follow: the click did not reach the host");
            host.Pump();
        });
}

void WindowedHost::Run(HostApp& host, const std::string& scriptPath) {
    InputLines input{&host, view_.get(), &running_, {}, {}, 0, 0};
    if (!scriptPath.empty()) {
        // The script's lines run as typed lines do; the session ends after the last.
        std::ifstream script(scriptPath);
        for (std::string line; std::getline(script, line);)
            input.lines.push_back(line);
        input.lines.push_back("quit");
        input.runner = g_idle_add(RunLine, &input);
    } else {
        input.watch = g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                    ReadInput, &input);
        // Lines that arrive while a box waits are read then, and run from the box's loop.
        g_source_set_can_recurse(g_main_context_find_source_by_id(nullptr, input.watch), TRUE);
    }
    view_->duringModal = [&input] {
        if (input.lines.empty() || !*input.running)
            return false;
        std::string line = std::move(input.lines.front());
        input.lines.pop_front();
        if (!input.host->Execute(line))
            *input.running = false;
        return true;
    };
    while (running_)
        g_main_context_iteration(nullptr, TRUE);
    if (input.watch != 0)
        g_source_remove(input.watch);
    if (input.runner != 0)
        g_source_remove(input.runner);
    view_->duringModal = nullptr;
}

} // namespace tavi::app
