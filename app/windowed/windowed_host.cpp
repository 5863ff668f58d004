#include "app/windowed/windowed_host.h"

#include <glib-unix.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iostream>

#include "app/host_app.h"
#include "host/common.h"
#include "host/dock_form.h"
#include "runtime/core/host_services.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/gtk/main_context_loop.h"

namespace tavi::app {
namespace {

bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 && *x11) || (wayland && *wayland);
}

// Lines of standard input, executed as they arrive while the window runs.
struct InputLines {
    HostApp* host;
    runtime::gtk::GtkSkinView* view;
    bool* running;
    std::string pending;
    guint watch = 0;
};

gboolean ReadInput(gint fd, GIOCondition, gpointer data) {
    auto* input = static_cast<InputLines*>(data);
    char buffer[4096];
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) {
        // The input ended; the window stays until a person closes it.
        input->watch = 0;
        return G_SOURCE_REMOVE;
    }
    input->pending.append(buffer, static_cast<std::size_t>(got));
    std::size_t end;
    while (*input->running && (end = input->pending.find('\n')) != std::string::npos) {
        std::string line = input->pending.substr(0, end);
        input->pending.erase(0, end + 1);
        if (!input->host->Execute(line))
            *input->running = false;
        input->view->ScheduleSync();
    }
    return G_SOURCE_CONTINUE;
}

} // namespace

WindowedHost::WindowedHost() = default;

WindowedHost::~WindowedHost() {
    runtime::SetSkinView(nullptr);
    view_.reset();
    loop_.reset();
}

std::unique_ptr<WindowedHost> WindowedHost::Open(const std::string& account, std::string& error) {
    if (!HasDisplay()) {
        error = "--gui needs a display: neither DISPLAY nor WAYLAND_DISPLAY is set";
        return nullptr;
    }
    if (!gtk_init_check()) {
        error = "--gui cannot open the display";
        return nullptr;
    }
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
    if (CDockFormEx* main = host.GetMainForm())
        main->ShowWindow(SW_SHOW);
    view->SyncNow();
}

void WindowedHost::Run(HostApp& host, const std::string& scriptPath) {
    if (!scriptPath.empty()) {
        std::ifstream script(scriptPath);
        std::string line;
        while (running_ && std::getline(script, line)) {
            host.Pump();
            if (!host.Execute(line))
                running_ = false;
            view_->ScheduleSync();
        }
        return;
    }
    InputLines input{&host, view_.get(), &running_, {}, 0};
    input.watch = g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), ReadInput,
                                &input);
    while (running_)
        g_main_context_iteration(nullptr, TRUE);
    if (input.watch != 0)
        g_source_remove(input.watch);
}

} // namespace tavi::app
