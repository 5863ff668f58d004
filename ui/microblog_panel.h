// The main panel: it fills the plug-in window, owns the tool panel and the four content panels,
// shows one content panel at a time, runs the sign-in sequence and loads the home timeline into the
// list panel.
#pragma once

#include <string>

#include "host/core.h"
#include "host/module_state.h"
#include "host/skin.h"

namespace microblog {

class MicroBlogService;
class ServiceView;
class MicroBlogToolPanel;
class MicroBlogListPanel;
class MicroBlogStartPanel;
class MicroBlogWaitPanel;
class MicroBlogOpenPanel;

class MicroBlogPanel : public tavi::CSkinPanel {
public:
    // owner is the plug-in window; moduleState the plug-in library's framework state.
    MicroBlogPanel(ServiceView* owner, tavi::ModuleState* moduleState);
    ~MicroBlogPanel() override;

    // Unregisters and releases the children (tool, start, list, wait, open), then the panel.
    void Release() override;
    // Builds the panel and creates its children; 0 when the build or a child's creation fails.
    int Create(void* hostParent);

    // Hides the other content panels and shows this one; null is ignored.
    void ShowContentPanel(tavi::CSkinObject* panel);
    void ShowContentPanel(MicroBlogListPanel* panel);

    // Reloads the home timeline while an access token is held; nothing otherwise.
    void RefreshTimeline();
    void OnHomeTimelineResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    // Shows the home page from the last home timeline at once, or reloads it when none was read yet.
    void ShowHomeTimeline();
    // Reads the statuses that mention the user while an access token is held; the reply shows the
    // mentions page in the list panel.
    void RefreshMentions();
    void OnMentionsResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    // Reloads the page the list panel shows: the mentions or the home timeline.
    void RefreshShownPage();
    // The page a reminder's new counts update: the mentions page while it is shown, else the home page.
    std::string ReminderPagePath(const std::string& homePath);
    bool ShowsMentions() const { return showsMentions_; }

    // The sign-in: mail-domain check, xAuth login, credential check, then the account state or,
    // for a bound account, the timeline.
    void StartSignIn();
    void OnLoginResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    void OnVerifyResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    void ShowAccountCheck(int loginOk, int verifyOk);

    MicroBlogToolPanel* GetToolPanel() const { return toolPanel_; }
    MicroBlogListPanel* GetListPanel() const { return listPanel_; }
    MicroBlogStartPanel* GetStartPanel() const { return startPanel_; }
    MicroBlogWaitPanel* GetWaitPanel() const { return waitPanel_; }
    MicroBlogOpenPanel* GetOpenPanel() const { return openPanel_; }
    ServiceView* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    bool CreateChildren();
    // Shows the list panel with the page of this kind (home or mentions), rebuilt.
    void ShowListPage(MicroBlogService& service, int kind);
    void ShowStartPanelState(int state);
    void OnIgnoredResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);

    ServiceView* owner_;
    tavi::ModuleState* moduleState_;
    void* hostParent_ = nullptr;
    // Whether the list panel's last page is the mentions page.
    bool showsMentions_ = false;
    MicroBlogToolPanel* toolPanel_ = nullptr;
    MicroBlogListPanel* listPanel_ = nullptr;
    MicroBlogStartPanel* startPanel_ = nullptr;
    MicroBlogWaitPanel* waitPanel_ = nullptr;
    MicroBlogOpenPanel* openPanel_ = nullptr;
};

} // namespace microblog
