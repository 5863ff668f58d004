// The host program's model of the messenger: it loads the plug-ins from the app folder, gives their
// windows a place in its main form, runs the user-interface loop and carries out the commands of a
// script or of the terminal.
#pragma once

#include <deque>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/dock_form.h"
#include "host/plugin.h"
#include "runtime/core/tavi_core.h"

namespace tavi {
class CSkinWebBrowser;
}

namespace tavi::app {

struct HostOptions {
    std::string appDir;
    std::string account;
    std::string password;
    std::string codePage = "GB18030";
    std::string language = "zh-CN";
};

// The host's layout: plug-in windows show in the main form's plug-in container, one at a time.
class HostLayout : public IPluginWindowLayout {
public:
    void SetContainer(CSkinPluginContainer* container) { container_ = container; }
    void ActivateWindow(IPluginWindow* window) override;
    void DeactivateWindow(IPluginWindow* window) override;
    bool IsWindowActive(IPluginWindow* window) override { return active_ == window; }
    void SetWindowTitle(IPluginWindow*, const std::string& title) override { title_ = title; }
    void GetClientRect(SkinRect& rect) override;
    void* GetHostWindow() override;
    IPluginWindow* GetActive() const { return active_; }
    void Forget(IPluginWindow* window);

private:
    CSkinPluginContainer* container_ = nullptr;
    IPluginWindow* active_ = nullptr;
    std::string title_;
};

class HostApp {
public:
    HostApp(HostOptions options, std::ostream& out);
    ~HostApp();
    HostApp(const HostApp&) = delete;
    HostApp& operator=(const HostApp&) = delete;

    // Loads every plug-in found under <app>/plugin/*/. False when none could be loaded.
    bool LoadPlugins();
    // Loads a plug-in object that lives in this program (not in a library of its own), as the
    // messenger does with its built-in plug-ins. hook is its message pre-translation, or null.
    bool AddPlugin(IPlugin* plugin, MyPreTranslateMessageFn hook);
    void UnloadPlugins();
    bool IsLoaded() const { return !plugins_.empty(); }

    // Runs one command line; false once the session should end.
    bool Execute(const std::string& line);
    // Lets the loop run what is ready (between commands of an interactive session).
    void Pump();

    runtime::TaviCore& GetCore() { return *core_; }
    CDockFormEx* GetMainForm() const { return mainForm_; }
    // Answers for the next message boxes (1 yes, 2 no, 3 cancel), in order.
    void QueueAnswer(int answer) { answers_.push_back(answer); }
    // The terminal mode of a person at the keyboard: after each command, and when work done in the
    // background shows, one line names what changed (a panel shown, a form opened or closed, a
    // toolbar button, a new page). Scripts leave it off, so their output stays as it is.
    void SetEchoChanges(bool echo);
    // Who answers a message box when no answer is queued: gets the question and gives the reply
    // typed, false when there is none (the box is then declined). Without one, nobody answers.
    using Asker = std::function<bool(const std::string& question, std::string& reply)>;
    void SetAsker(Asker asker) { asker_ = std::move(asker); }
    // A window that asks the box's own question (buttons, UTF-8 title and text) and gives the
    // answer; it comes before the asker. The windowed host shows a modal dialog.
    using MessageBoxDialog = std::function<int(int buttons, const std::string& title, const std::string& text)>;
    // The plug-ins' menu items (id and text), and choosing one as the messenger's menu does; false
    // when no loaded plug-in has the item.
    std::vector<std::pair<unsigned long long, std::string>> PluginMenuItems();
    bool ChoosePluginMenu(unsigned long long id);
    void SetMessageBoxDialog(MessageBoxDialog dialog) { dialog_ = std::move(dialog); }
    // Prints a line of the session (made safe for a terminal), and a command's error line.
    void Say(const std::string& utf8Line);
    // Prints each line of a text (split at its line feeds) as Say does, all in one write.
    void SayLines(const std::string& utf8Text);
    void Error(const std::string& message);
    // A windowed view's typing into an edit's widget (true when it typed); the type command uses it
    // before typing through the host's key messages itself.
    using ViewTyper = std::function<bool(CSkinObject* edit, const std::string& utf8)>;
    void SetViewTyper(ViewTyper typer) { viewTyper_ = std::move(typer); }
    // The browser control of the page that is shown (the focused form's, else the plug-in
    // window's), or null.
    CSkinWebBrowser* ShownBrowser() const;
    // Adds a command that another part of the host program carries out.
    void AddCommand(const std::string& name, std::string usage, std::string help,
                    std::function<void(const std::vector<std::string>& args)> handler) {
        Add(name, std::move(usage), std::move(help), std::move(handler));
    }

private:
    struct LoadedPlugin {
        std::string path;
        void* handle = nullptr;
        IPlugin* plugin = nullptr;
        MyPreTranslateMessageFn hook = nullptr;
    };
    using Handler = std::function<void(const std::vector<std::string>& args)>;
    struct Command {
        std::string usage;
        std::string help;
        Handler handler;
    };

    // What the change echo compares: the shown panels of the plug-in window, the open forms, the
    // toolbar buttons, and the page in the browser.
    struct ScreenState {
        std::vector<std::string> panels;
        std::vector<std::string> forms;
        std::vector<std::string> toolbar;
        std::string page;
        std::string pageTitle;
        std::size_t pageLinks = 0;
    };
    ScreenState Snapshot() const;
    void EchoChanges();

    // Runs the command the words name (the first word), with its arguments.
    void Run(const std::vector<std::string>& words);
    void RegisterCommands();
    void RegisterUiCommands();
    void Add(const std::string& name, std::string usage, std::string help, Handler handler);
    std::vector<LoadedPlugin> FindPlugins();
    bool StartPlugin(LoadedPlugin& loaded);
    void PlacePluginWindows();
    // The microblog plug-in's toolbar button: its icon while the plug-in is loaded, and its click,
    // which shows the plug-in as the messenger does.
    void ShowToolbarIcon(const std::string& path);
    void OnMainFormClick(CSkinObject* sender, void* data);
    int AnswerMessageBox(int buttons, const std::string& title, const std::string& text);

    // What the UI commands act on: the focused form first, then the shown plug-in window, then
    // the main form.
    CSkinForm* FocusedForm() const;
    IPluginWindow* ShownPluginWindow() const;
    std::vector<CSkinObject*> SearchRoots() const;
    CSkinObject* FindControl(const std::string& name, std::string& error) const;
    CSkinWnd* FindWindowById(const std::string& id) const;

    HostOptions options_;
    std::ostream& out_;
    std::unique_ptr<runtime::TaviCore> core_;
    CDockFormEx* mainForm_ = nullptr;
    HostLayout layout_;
    std::vector<LoadedPlugin> plugins_;
    std::map<std::string, Command> commands_;
    std::deque<int> answers_;
    Asker asker_;
    MessageBoxDialog dialog_;
    ViewTyper viewTyper_;
    bool echo_ = false;
    ScreenState shown_;
    bool quit_ = false;
};

// Splits a command line into words; double quotes group words and \" escapes a quote.
std::vector<std::string> SplitCommandLine(const std::string& line);

} // namespace tavi::app
