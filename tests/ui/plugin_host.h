// The plug-in's service and window loaded into a host runtime in this process, as the host program
// loads them: the string table and skin files, the host's main form with its toolbar and plug-in
// container, the service registered and the window built and placed. Tests reach the panels
// directly and drive the user-interface loop.
#pragma once

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "frame/microblog_window.h"
#include "host/common.h"
#include "host/services.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "runtime/core/host_services.h"
#include "runtime/skin/skin_runtime.h"
#include "service/microblog_service.h"
#include "tests/support/test_env.h"
#include "ui/microblog_list_panel.h"
#include "ui/microblog_open_panel.h"
#include "ui/microblog_panel.h"
#include "ui/microblog_start_panel.h"
#include "ui/microblog_tool_panel.h"
#include "ui/microblog_wait_panel.h"

namespace panelstest {

inline std::string ResourcePath(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/resources/microblog/" + name;
}

// The host's layout: the window shows in the main form's plug-in container.
class ContainerLayout : public tavi::IPluginWindowLayout {
public:
    void ActivateWindow(tavi::IPluginWindow* window) override {
        ++activations;
        if (container)
            container->ActivateWindow(window);
    }
    void DeactivateWindow(tavi::IPluginWindow*) override {}
    bool IsWindowActive(tavi::IPluginWindow* window) override {
        return container && container->GetActiveWindow() == window;
    }
    void SetWindowTitle(tavi::IPluginWindow*, const std::string&) override {}
    void GetClientRect(tavi::SkinRect& rect) override {
        rect = container ? container->GetRect() : tavi::SkinRect{};
    }
    void* GetHostWindow() override { return nullptr; }

    tavi::CSkinPluginContainer* container = nullptr;
    int activations = 0;
};

class PluginHost {
public:
    // The skin's build file as text (the plug-in's own unless given) lets a test break a panel's node.
    explicit PluginHost(const std::string& account = "tester@velmora.com",
                        const std::string& password = "secret", const std::string& appDir = std::string(),
                        const std::string& buildText = std::string())
        : host_(account, password, appDir) {
        tavi::runtime::SetLanguage("zh-CN");
        tavi::runtime::ClearStringTable();
        EXPECT_TRUE(tavi::runtime::LoadStringTable(ResourcePath("stringid.ini")));
        tavi::runtime::ClearOpenedWebs();
        tavi::CSkinManager* manager = tavi::CSkinManager::GetInstance();
        manager->Reset();
        EXPECT_EQ(manager->IncludeSkinFile(ResourcePath("skin.xml")), 1);
        if (buildText.empty())
            EXPECT_EQ(manager->IncludeSkinBuildFile(ResourcePath("build.xml")), 1) << manager->GetLastError();
        else
            EXPECT_EQ(manager->IncludeSkinBuildText(buildText, ResourcePath("")), 1)
                << manager->GetLastError();
        tavi::CSkinWebBrowser::InitControlContainer();
        mainForm_ = tavi::runtime::CreateHostMainForm();
        EXPECT_NE(mainForm_, nullptr);
        if (mainForm_) {
            mainForm_->ShowWindow(tavi::SW_SHOW);
            layout_.container = mainForm_->GetPluginContainer();
        }
    }

    ~PluginHost() {
        Unload();
        if (mainForm_) {
            layout_.container = nullptr;
            mainForm_->Release();
        }
        tavi::CSkinManager::GetInstance()->Reset();
        tavi::runtime::ClearStringTable();
    }
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // What the plug-in's load does, with the given service (made on the core object).
    void Load(microblog::MicroBlogService* service) {
        service_ = service;
        window_ = new microblog::MicroBlogWindow(mainForm_ ? mainForm_->GetSafeHwnd() : nullptr, &layout_);
        window_->SetPluginId(8010);
        service_->SetWindow(window_);
        core().RegisterService(service_);
        windows()->AddPluginWindow(window_);
        if (layout_.container)
            layout_.container->AddPluginWindow(window_);
    }
    // What the plug-in's unload does.
    void Unload() {
        if (service_ == nullptr)
            return;
        core().WaitIdle(30000);
        // As the plug-in's unload: the service must not reach the window once it is released.
        service_->SetWindow(nullptr);
        windows()->RemovePluginWindow(window_);
        if (layout_.container)
            layout_.container->RemovePluginWindow(window_);
        window_->Release();
        core().UnregisterService(service_);
        service_->Release();
        service_ = nullptr;
        window_ = nullptr;
        host_.loop().RunUntilIdle();
    }

    // Runs the loop until no task or call is pending.
    bool Idle() { return core().WaitIdle(30000); }

    tavi::runtime::TaviCore& core() { return host_.core(); }
    testenv::HostRuntime& runtime() { return host_; }
    tavi::runtime::PluginWindowHost* windows() {
        return static_cast<tavi::runtime::PluginWindowHost*>(core().GetService(tavi::kServicePluginWindows));
    }
    tavi::runtime::Notifier& notifier() {
        return *static_cast<tavi::runtime::Notifier*>(core().GetService(tavi::kServiceNotifier));
    }
    microblog::MicroBlogWindow* window() const { return window_; }
    microblog::MicroBlogPanel* main() const { return window_ ? window_->GetMainPanel() : nullptr; }
    tavi::CDockFormEx* mainForm() const { return mainForm_; }
    ContainerLayout& layout() { return layout_; }

    // The content panel that shows now, or null.
    tavi::CSkinObject* ShownContent() const {
        microblog::MicroBlogPanel* panel = main();
        if (panel == nullptr)
            return nullptr;
        tavi::CSkinObject* contents[] = {
            panel->GetStartPanel(), panel->GetListPanel() ? panel->GetListPanel()->GetSkinObject() : nullptr,
            panel->GetWaitPanel(), panel->GetOpenPanel()};
        tavi::CSkinObject* shown = nullptr;
        for (tavi::CSkinObject* content : contents)
            if (content && content->IsVisible()) {
                EXPECT_EQ(shown, nullptr) << "two content panels show";
                shown = content;
            }
        return shown;
    }

private:
    testenv::HostRuntime host_;
    tavi::CDockFormEx* mainForm_ = nullptr;
    ContainerLayout layout_;
    microblog::MicroBlogService* service_ = nullptr;
    microblog::MicroBlogWindow* window_ = nullptr;
};

} // namespace panelstest
