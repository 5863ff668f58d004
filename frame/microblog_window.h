// The plug-in window: the skin object the host places in its layout. It owns the main panel and
// decides when the panel is built and destroyed and when the sign-in sequence runs: the first time
// the window is shown after a build, and whenever the bound flag, account or password changes.
#pragma once

#include <string>

#include "host/marshal.h"
#include "host/plugin.h"
#include "service/service_view.h"

namespace microblog {

class MicroBlogPanel;

class MicroBlogWindow : public tavi::IPluginWindow, public ServiceView {
public:
    MicroBlogWindow(void* parent, tavi::IPluginWindowLayout* layout);
    ~MicroBlogWindow() override;

    void Release() override;
    void ShowPluginWindow(int visible) override;
    void BuildPluginWindow() override;
    void DestroyPluginWindow() override;
    int QueryPluginWindowState() override { return 0; }
    void ShowInHost() override;
    // What the service asks of the window and its panels.
    void RefreshTimeline() override;
    void ShowPage(const std::string& path) override;
    void ShowActivationRefusal(int status, const std::string& message) override;
    void ShowConfigForm() override;
    void ShowPublishForm(const std::string& kind) override;
    void ShowReplyForm(const std::string& kind, const std::string& id, const std::string& text) override;
    void DestroyConfigForm() override;
    virtual void OnUserDataChanged(const std::string& name, const tavi::Property& data);
    // Shows on the tool panel whether new mentions and comments wait, from the service's last
    // reminder counts.
    void ShowReminderCounts();
    // Reloads the page the list panel shows (F5).
    void RefreshShownPage();

    void SetPluginId(unsigned id) { pluginId_ = id; }
    unsigned GetPluginId() const { return pluginId_; }
    MicroBlogPanel* GetMainPanel() const { return mainPanel_; }
    bool IsStarted() const { return started_ != 0; }

private:
    void CreateMainPanel();
    void RunSignIn();

    MicroBlogPanel* mainPanel_ = nullptr;
    int started_ = 0;
};

} // namespace microblog
