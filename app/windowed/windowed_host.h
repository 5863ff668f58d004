// tavi --gui: the host program with windows. The GTK main loop is the user-interface thread; the
// skin model is drawn by the windowed view, and the same host commands (a script, --exec, lines on
// standard input) act on the model while the windows show it.
#pragma once

#include <memory>
#include <string>

namespace tavi::runtime::gtk {
class GtkSkinView;
class MainContextLoop;
} // namespace tavi::runtime::gtk

namespace tavi::app {

class HostApp;
struct MenuBar;

// Whether the account can name the user's folder; the reason, for a person, when not.
bool IsUsableAccount(const std::string& account, std::string& problem);

class WindowedHost {
public:
    // Opens the display and attaches the view and the main loop to the host's loop; null, with
    // one line saying why, when there is no display.
    static std::unique_ptr<WindowedHost> Open(const std::string& account, std::string& error);
    ~WindowedHost();
    WindowedHost(const WindowedHost&) = delete;
    WindowedHost& operator=(const WindowedHost&) = delete;

    // Asks for the messenger account (the one given stands in the field) and password in a sign-in
    // window; false when the person cancels or closes it. The main window takes the account's name.
    bool AskSignIn(std::string& account, std::string& password);
    // Gives the host its windowed parts (dialogs, notices, balloons, the screenshot command) and
    // shows the main window.
    void Attach(HostApp& host);
    // Runs until the main window is closed or the commands end the session: the script's lines
    // (then the session ends), or lines on standard input while the window stays open.
    void Run(HostApp& host, const std::string& scriptPath);

    runtime::gtk::GtkSkinView& View() { return *view_; }

private:
    WindowedHost();
    void RegisterPageCommands(HostApp& host);
    std::unique_ptr<runtime::gtk::MainContextLoop> loop_;
    std::unique_ptr<runtime::gtk::GtkSkinView> view_;
    std::unique_ptr<MenuBar> menuBar_;
    bool running_ = true;
};

} // namespace tavi::app
