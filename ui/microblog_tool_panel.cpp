#include "ui/microblog_tool_panel.h"

#include "host/common.h"
#include "host/services.h"
#include "service/deployment.h"
#include "service/fixed_texts.h"
#include "service/microblog_service.h"
#include "ui/microblog_panel.h"
#include "ui/panel_skin.h"

namespace microblog {
namespace {

constexpr int kTipMilliseconds = 2000;
constexpr int kOpenInBrowser = 3;

} // namespace

MicroBlogToolPanel::MicroBlogToolPanel(MicroBlogPanel* owner, tavi::ModuleState* moduleState)
    : owner_(owner), moduleState_(moduleState) {
    SetObjectID("MicroBlogToolPanel");
}

MicroBlogToolPanel::~MicroBlogToolPanel() = default;

int MicroBlogToolPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    const tavi::SkinBuildNode* node = FindPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    btnPublish_->SetEnabled(false);
    btnMainForm_->SetEnabled(false);
    AddAllSubTooltip();
    Refresh();
    RePositionSubControls();
    ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(this, &MicroBlogToolPanel::OnEvent));
    return 1;
}

int MicroBlogToolPanel::OnBuildControlAfter() {
    btnPublish_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnPublish");
    if (btnPublish_ == nullptr)
        return 0;
    btnMainForm_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnMainForm");
    if (btnMainForm_ == nullptr)
        return 0;
    btnMyBlog_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnMyBlog");
    if (btnMyBlog_ == nullptr)
        return 0;
    atMe_.plain = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnAtMe");
    if (atMe_.plain == nullptr)
        return 0;
    atMe_.fresh = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnAtMeNew");
    if (atMe_.fresh == nullptr)
        return 0;
    atMe_.fresh->SetVisible(false);
    comment_.plain = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnComment");
    if (comment_.plain == nullptr)
        return 0;
    comment_.fresh = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnCommentNew");
    if (comment_.fresh == nullptr)
        return 0;
    comment_.fresh->SetVisible(false);
    btnCollect_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnCollect");
    return btnCollect_ != nullptr ? 1 : 0;
}

void MicroBlogToolPanel::SetActionsEnabled(int enabled) {
    if (btnPublish_)
        btnPublish_->SetEnabled(enabled != 0);
    if (btnMainForm_)
        btnMainForm_->SetEnabled(enabled != 0);
    AddAllSubTooltip();
    Refresh();
    RePositionSubControls();
}

void MicroBlogToolPanel::ShowTimeRefusedTip() {
    tavi::ITavi* core = tavi::Core_GetITavi();
    auto* notifier =
        core ? dynamic_cast<tavi::INotifier*>(core->GetService(tavi::kServiceNotifier)) : nullptr;
    if (notifier == nullptr)
        return;
    notifier->ShowBalloon(btnMainForm_, FixedText(kTipRefreshTimeRefused), kTipMilliseconds);
}

void MicroBlogToolPanel::ShowNewItemCounts(int mentions, int comments) {
    ShowNewItemPair(atMe_, mentions);
    ShowNewItemPair(comment_, comments);
    Refresh();
}

void MicroBlogToolPanel::ShowNewItemPair(NewItemPair& pair, int count) {
    if (pair.plain == nullptr || pair.fresh == nullptr)
        return;
    pair.count = count < 0 ? 0 : count;
    // Items read elsewhere (on the web site) lower the count; new ones then count from there.
    if (pair.count < pair.seen)
        pair.seen = pair.count;
    bool fresh = pair.count > pair.seen;
    pair.fresh->SetVisible(fresh);
    pair.plain->SetVisible(!fresh);
}

void MicroBlogToolPanel::MarkSeen(NewItemPair& pair) {
    pair.seen = pair.count;
    pair.fresh->SetVisible(false);
    pair.plain->SetVisible(true);
    Refresh();
}

void MicroBlogToolPanel::OnEvent(tavi::CSkinObject* sender, void* /*data*/) {
    tavi::ModuleStateGuard guard(moduleState_);
    if (sender == nullptr)
        return;
    if (sender == btnMainForm_) {
        if (owner_)
            owner_->RefreshTimeline();
        return;
    }
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    if (sender == btnPublish_) {
        service->ShowPublishForm("update");
    } else if (sender == btnMyBlog_) {
        OpenUserPage("mine");
    } else if (sender == atMe_.plain || sender == atMe_.fresh) {
        OpenUserPage("replies");
        // New mentions are also shown in the client itself, on the mentions page.
        if (sender == atMe_.fresh) {
            MarkSeen(atMe_);
            if (owner_)
                owner_->RefreshMentions();
        }
    } else if (sender == comment_.plain || sender == comment_.fresh) {
        OpenUserPage("reply");
        if (sender == comment_.fresh)
            MarkSeen(comment_);
    } else if (sender == btnCollect_) {
        OpenUserPage("favorites");
    }
}

void MicroBlogToolPanel::OpenUserPage(const char* fragment) {
    MicroBlogService* service = FindService();
    std::string screenName;
    if (service == nullptr || !service->GetScreenName(std::string(), screenName))
        return;
    // The web site's base address, then "/<screen name>#<fragment>".
    tavi::SafeOpenWeb(CurrentDeployment().webRoot + "/" + screenName + "#" + fragment, kOpenInBrowser);
}

} // namespace microblog
