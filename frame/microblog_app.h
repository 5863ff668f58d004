// The plug-in's application object: it lives as long as the library and is the plug-in object the
// host loads, creating the microblog service and window at load and taking them back at unload.
#pragma once

#include "host/module_state.h"
#include "host/plugin.h"

namespace microblog {

class MicroBlogWindow;

constexpr int kPluginId = 8010;
constexpr unsigned kMenuSettings = 10090;

class MicroBlogApp : public tavi::IPlugin {
public:
    MicroBlogApp();
    ~MicroBlogApp() override;

    int OnLoad(void* parent, tavi::IPluginWindowLayout* layout) override;
    int OnUnLoad() override;
    int QueryPluginReady() override { return 1; }
    int QueryPluginActive() override { return 1; }
    int OpenSettings() override;
    tavi::IMenu* GetPluginMenu() override;
    void ResetSkinFile() override;

    // Pre-translation of messages for the plug-in's own windows; non-zero when consumed.
    int PreTranslateMessage(void* message);

    // Library attach and detach.
    void InitInstance();
    void ExitInstance();

    static MicroBlogApp& Instance();
    static tavi::ModuleState* GetModuleState();

private:
    void OnMenuChosen(tavi::IMenu* menu);

    MicroBlogWindow* window_ = nullptr;
};

} // namespace microblog
