// The host program's model of the messenger: it loads the plug-ins from the app folder, gives their
// windows a layout, runs the user-interface loop and carries out the commands of a script or of the
// terminal.
#pragma once

#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "runtime/core/tavi_core.h"

namespace tavi::app {

struct HostOptions {
    std::string appDir;
    std::string account;
    std::string password;
    std::string codePage = "GB18030";
    std::string language = "zh-CN";
};

// The host's layout: the one place in which plug-in windows are shown.
class HostLayout : public IPluginWindowLayout {
public:
    void ActivateWindow(IPluginWindow* window) override { active_ = window; }
    void DeactivateWindow(IPluginWindow* window) override {
        if (active_ == window)
            active_ = nullptr;
    }
    bool IsWindowActive(IPluginWindow* window) override { return active_ == window; }
    void SetWindowTitle(IPluginWindow*, const std::string& title) override { title_ = title; }
    void GetClientRect(SkinRect& rect) override { rect = SkinRect{0, 0, 300, 600}; }
    void* GetHostWindow() override { return nullptr; }
    IPluginWindow* GetActive() const { return active_; }

private:
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
    void UnloadPlugins();
    bool IsLoaded() const { return !plugins_.empty(); }

    // Runs one command line; false once the session should end.
    bool Execute(const std::string& line);
    // Lets the loop run what is ready (between commands of an interactive session).
    void Pump();

    runtime::TaviCore& GetCore() { return *core_; }

private:
    struct LoadedPlugin {
        std::string path;
        void* handle = nullptr;
        IPlugin* plugin = nullptr;
    };
    using Handler = std::function<void(const std::vector<std::string>& args)>;
    struct Command {
        std::string usage;
        std::string help;
        Handler handler;
    };

    void RegisterCommands();
    void Add(const std::string& name, std::string usage, std::string help, Handler handler);
    void Say(const std::string& utf8Line);
    void Error(const std::string& message);
    std::vector<LoadedPlugin> FindPlugins();

    HostOptions options_;
    std::ostream& out_;
    std::unique_ptr<runtime::TaviCore> core_;
    HostLayout layout_;
    std::vector<LoadedPlugin> plugins_;
    std::map<std::string, Command> commands_;
    bool quit_ = false;
};

// Splits a command line into words; double quotes group words and \" escapes a quote.
std::vector<std::string> SplitCommandLine(const std::string& line);

} // namespace tavi::app
