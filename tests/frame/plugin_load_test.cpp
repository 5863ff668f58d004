// The built plug-in library loaded into the host runtime as tavi loads it.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "host/common.h"
#include "host/microblog_service.h"
#include "host/plugin.h"
#include "host/services.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "tests/support/test_env.h"

namespace {

class LoadedPlugin : public ::testing::Test {
protected:
    void SetUp() override {
        host_ = std::make_unique<testenv::HostRuntime>("demo@velmora.com", "demo123");
        handle_ = dlopen(TAVI_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        auto factory = reinterpret_cast<GetTaviPluginInstanceFn>(dlsym(handle_, "GetTaviPluginInstance"));
        ASSERT_NE(factory, nullptr);
        plugin_ = factory();
        ASSERT_NE(plugin_, nullptr);
        factory_ = factory;
    }
    void TearDown() override {
        if (plugin_)
            plugin_->OnUnLoad();
        host_->core().WaitIdle(10000);
        if (handle_)
            dlclose(handle_);
        host_.reset();
    }
    microblog::IMicroBlogService* Service() {
        return static_cast<microblog::IMicroBlogService*>(host_->core().GetService(20005));
    }

    std::unique_ptr<testenv::HostRuntime> host_;
    void* handle_ = nullptr;
    tavi::IPlugin* plugin_ = nullptr;
    GetTaviPluginInstanceFn factory_ = nullptr;
    struct NullLayout : tavi::IPluginWindowLayout {
        void ActivateWindow(tavi::IPluginWindow* window) override { active = window; }
        void DeactivateWindow(tavi::IPluginWindow*) override {}
        bool IsWindowActive(tavi::IPluginWindow* window) override { return active == window; }
        void SetWindowTitle(tavi::IPluginWindow*, const std::string&) override {}
        void GetClientRect(tavi::SkinRect&) override {}
        void* GetHostWindow() override { return nullptr; }
        tavi::IPluginWindow* active = nullptr;
    } layout_;
};

TEST_F(LoadedPlugin, IdentityFieldsAndPathsAreSetAtAttach) {
    EXPECT_EQ(plugin_->pluginId, 8010);
    EXPECT_EQ(plugin_->vendor, "Velmora");
    EXPECT_EQ(plugin_->version, "1.0");
    EXPECT_EQ(tavi::CString_to_utf8(plugin_->name), "微博插件");
    EXPECT_EQ(tavi::CString_to_utf8(plugin_->description), "TAVI 微博插件");
    EXPECT_EQ(plugin_->field5, 1);
    EXPECT_EQ(std::string(plugin_->identityKey, 128).find_first_not_of("0123456789ABCDEF"),
              std::string::npos);
    std::string base = host_->appDir() + "/plugin/microblog/";
    EXPECT_EQ(plugin_->skinFilePath, base + "skin.xml");
    EXPECT_EQ(plugin_->skinBuildFilePath, base + "build.xml");
    EXPECT_EQ(plugin_->stringTableFilePath, base + "stringid.ini");
    EXPECT_EQ(plugin_->iconFilePath, base + "skin/microblog.png");
    std::string reason = "untouched";
    EXPECT_EQ(plugin_->QueryUnInstallEnabled(reason), 1);
    EXPECT_EQ(reason, "untouched");
    EXPECT_EQ(plugin_->GetStateSignIconPath("online"), "");
}

TEST_F(LoadedPlugin, LoadRegistersTheServiceAndUnloadTakesItBack) {
    tavi::IPlugin* before = factory_();
    EXPECT_EQ(plugin_->OnUnLoad(), 1); // before any load: nothing happens
    EXPECT_EQ(plugin_->GetPluginMenu(), nullptr);
    EXPECT_EQ(Service(), nullptr);

    ASSERT_EQ(plugin_->OnLoad(nullptr, &layout_), 1);
    EXPECT_EQ(plugin_->IsLoaded(), 1);
    ASSERT_NE(Service(), nullptr);
    auto* windows =
        static_cast<tavi::runtime::PluginWindowHost*>(host_->core().GetService(tavi::kServicePluginWindows));
    ASSERT_EQ(windows->GetWindows().size(), 1u);
    EXPECT_EQ(windows->GetWindows()[0]->GetObjectId(), "MicroBlogWindow");
    tavi::IMenu* menu = plugin_->GetPluginMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->GetID(), 10090u);
    menu->Release();
    // A change kept only in memory is gone after a reload: the second load makes a fresh service.
    Service()->SetAccount("memory@velmora.com", "only", 0);

    EXPECT_EQ(plugin_->OnUnLoad(), 1);
    EXPECT_EQ(plugin_->IsLoaded(), 0);
    EXPECT_EQ(Service(), nullptr);
    EXPECT_TRUE(windows->GetWindows().empty());
    EXPECT_EQ(plugin_->GetPluginMenu(), nullptr);
    EXPECT_EQ(plugin_->OpenSettings(), 0);

    ASSERT_EQ(plugin_->OnLoad(nullptr, &layout_), 1);
    std::string account, password;
    Service()->GetAccount(account, password);
    EXPECT_EQ(account, "demo@velmora.com");
    EXPECT_EQ(factory_(), before);
    EXPECT_EQ(plugin_->OpenSettings(), 1);
}

// The host asks the plug-in to read its skin files again; a path that names no file is skipped.
// With the skin in place, the settings menu opens the settings form for its own item alone.
TEST_F(LoadedPlugin, ResetSkinFileReadsOnlyFilesThatAreThereAndOnlyTheSettingsItemOpensTheSettings) {
    const std::string skinFile = plugin_->skinFilePath, buildFile = plugin_->skinBuildFilePath;
    tavi::CSkinManager* manager = tavi::CSkinManager::GetInstance();
    manager->Reset();
    manager->SetLastError("");
    plugin_->skinFilePath.clear(); // and the build file is not in the scratch app folder
    plugin_->ResetSkinFile();
    EXPECT_EQ(manager->GetLastError(), "");

    const std::string resources = std::string(TAVI_SOURCE_DIR) + "/resources/microblog/";
    plugin_->skinFilePath = resources + "skin.xml";
    plugin_->skinBuildFilePath = resources + "build.xml";
    plugin_->ResetSkinFile();
    plugin_->skinFilePath = skinFile;
    plugin_->skinBuildFilePath = buildFile;
    EXPECT_NE(manager->GetBuildNode("TAVI Plugins MicroBlogToolPanel"), nullptr) << manager->GetLastError();

    tavi::runtime::SetLanguage("zh-CN");
    tavi::runtime::ClearStringTable();
    ASSERT_TRUE(tavi::runtime::LoadStringTable(resources + "stringid.ini"));
    ASSERT_EQ(plugin_->OnLoad(nullptr, &layout_), 1);
    auto settingsShown = [] {
        tavi::CSkinForm* form = tavi::CSkinWndManager::GetInstance()->FindForm("MicroBlogConfigForm");
        return form != nullptr && form->IsWindowVisible();
    };
    tavi::IMenu* menu = plugin_->GetPluginMenu();
    ASSERT_NE(menu, nullptr);
    tavi::IMenu other(menu->GetText(), menu->GetID() + 1, 0, 0, menu->GetDelegate(), nullptr);
    other.Choose();
    EXPECT_FALSE(settingsShown());
    menu->Choose();
    EXPECT_TRUE(settingsShown());
    menu->Release();
    plugin_->OnUnLoad();
    manager->Reset();
    tavi::runtime::ClearStringTable();
}

TEST_F(LoadedPlugin, LoadWithoutTheWindowHostFailsAndLeavesTheServiceForTheUnload) {
    tavi::IService* windows = host_->core().GetService(tavi::kServicePluginWindows);
    ASSERT_NE(windows, nullptr);
    host_->core().UnregisterService(windows);
    EXPECT_EQ(plugin_->OnLoad(nullptr, &layout_), 0);
    EXPECT_NE(Service(), nullptr);
    // The window is released by the unload only while the window host is there.
    host_->core().RegisterService(windows);
    EXPECT_EQ(plugin_->OnUnLoad(), 1);
    EXPECT_EQ(Service(), nullptr);
}

} // namespace
