#include "ui/microblog_panel.h"

#include "data/timeline_page.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"
#include "service/service_view.h"
#include "ui/microblog_list_panel.h"
#include "ui/microblog_open_panel.h"
#include "ui/microblog_start_panel.h"
#include "ui/microblog_tool_panel.h"
#include "ui/microblog_wait_panel.h"
#include "ui/panel_skin.h"

namespace microblog {
namespace {

constexpr int kHomeTimelineCount = 50;

} // namespace

MicroBlogPanel::MicroBlogPanel(ServiceView* owner, tavi::ModuleState* moduleState)
    : owner_(owner), moduleState_(moduleState) {
    SetObjectID("MicroBlogPanel");
}

MicroBlogPanel::~MicroBlogPanel() = default;

void MicroBlogPanel::Release() {
    auto release = [this](tavi::CSkinObject* child) {
        if (child == nullptr)
            return;
        UnRegisterControl(child);
        child->Release();
    };
    release(toolPanel_);
    release(startPanel_);
    if (listPanel_) {
        UnRegisterControl(listPanel_->GetSkinObject());
        listPanel_->Release();
    }
    release(waitPanel_);
    release(openPanel_);
    toolPanel_ = nullptr;
    startPanel_ = nullptr;
    listPanel_ = nullptr;
    waitPanel_ = nullptr;
    openPanel_ = nullptr;
    delete this;
}

int MicroBlogPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    const tavi::SkinBuildNode* node = FindMainPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    if (!CreateChildren())
        return 0;
    ResetSkinData();
    DispathSkinChangeMsg();
    return 1;
}

// The first child that cannot be created ends the creation: those after it are not made.
bool MicroBlogPanel::CreateChildren() {
    toolPanel_ = new MicroBlogToolPanel(this, moduleState_);
    RegisterControl(toolPanel_);
    if (!toolPanel_->Create(hostParent_))
        return false;

    startPanel_ = new MicroBlogStartPanel(this);
    RegisterControl(startPanel_);
    if (!startPanel_->Create(hostParent_))
        return false;
    startPanel_->SetVisible(false);

    listPanel_ = new MicroBlogListPanel(this);
    RegisterControl(listPanel_->GetSkinObject());
    if (!listPanel_->Create(hostParent_))
        return false;
    listPanel_->GetSkinObject()->SetVisible(false);

    waitPanel_ = new MicroBlogWaitPanel(this);
    RegisterControl(waitPanel_);
    if (!waitPanel_->Create(hostParent_))
        return false;
    waitPanel_->SetVisible(true);

    openPanel_ = new MicroBlogOpenPanel(this);
    RegisterControl(openPanel_);
    if (!openPanel_->Create(hostParent_))
        return false;
    openPanel_->SetVisible(false);
    return true;
}

void MicroBlogPanel::ShowContentPanel(tavi::CSkinObject* panel) {
    if (panel == nullptr)
        return;
    tavi::CSkinObject* contents[] = {startPanel_, listPanel_ ? listPanel_->GetSkinObject() : nullptr,
                                     waitPanel_, openPanel_};
    for (tavi::CSkinObject* content : contents)
        if (content)
            content->SetVisible(false);
    panel->SetVisible(true);
    RePositionSubControls();
    Refresh();
}

void MicroBlogPanel::ShowContentPanel(MicroBlogListPanel* panel) {
    ShowContentPanel(panel ? panel->GetSkinObject() : nullptr);
}

void MicroBlogPanel::RefreshTimeline() {
    MicroBlogService* service = FindService();
    if (service == nullptr || (service->GetState() & kStateSignedIn) == 0)
        return;
    service->RequestVerifyCredentials(tavi::TaskCallback(this, &MicroBlogPanel::OnIgnoredResult));
    service->RequestHomeTimeline(kHomeTimelineCount,
                                 tavi::TaskCallback(this, &MicroBlogPanel::OnHomeTimelineResult));
}

void MicroBlogPanel::OnHomeTimelineResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    if (core == nullptr || result == nullptr)
        return;
    if (result->status != 200) {
        // Only a refused timestamp is worth telling: the user can fix the clock.
        if (result->text == kTimestampRefused && toolPanel_)
            toolPanel_->ShowTimeRefusedTip();
        return;
    }
    if (owner_)
        owner_->ShowInHost();
    if (toolPanel_)
        toolPanel_->SetActionsEnabled(1);
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    ShowListPage(*service, kDocumentHome);
}

void MicroBlogPanel::ShowListPage(MicroBlogService& service, int kind) {
    ShowContentPanel(listPanel_);
    showsMentions_ = kind == kDocumentMentions;
    if (listPanel_) {
        std::string path;
        listPanel_->NavigateTo(service.GetDocumentPath(path, kind, 1));
    }
}

void MicroBlogPanel::ShowHomeTimeline() {
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    bool read =
        service->GetHomeTimelineDocument().With([](const JsonValue* root) { return root != nullptr; });
    if (!read || listPanel_ == nullptr) {
        RefreshTimeline();
        return;
    }
    ShowListPage(*service, kDocumentHome);
}

void MicroBlogPanel::RefreshMentions() {
    MicroBlogService* service = FindService();
    if (service == nullptr || (service->GetState() & kStateSignedIn) == 0)
        return;
    service->RequestMentions(kHomeTimelineCount, tavi::TaskCallback(this, &MicroBlogPanel::OnMentionsResult));
}

void MicroBlogPanel::OnMentionsResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    MicroBlogService* service = FindService();
    if (core == nullptr || result == nullptr || service == nullptr || result->status != 200)
        return;
    ShowListPage(*service, kDocumentMentions);
}

void MicroBlogPanel::RefreshShownPage() {
    if (showsMentions_)
        RefreshMentions();
    else
        RefreshTimeline();
}

std::string MicroBlogPanel::ReminderPagePath(const std::string& homePath) {
    MicroBlogService* service = FindService();
    if (!showsMentions_ || service == nullptr)
        return homePath;
    std::string path;
    return service->GetDocumentPath(path, kDocumentMentions, 1);
}

void MicroBlogPanel::StartSignIn() {
    ShowContentPanel(waitPanel_);
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    service->SetToolbarButtonText("", FixedText(kTipStartMicroLife));
    if (toolPanel_)
        toolPanel_->SetActionsEnabled(0);
    std::string account, password;
    service->GetAccount(account, password);
    // Only a mail address of a known domain, compared exactly, can have a microblog; nothing is
    // asked of the service for any other name.
    std::size_t at = account.find('@');
    if (at == std::string::npos) {
        ShowStartPanelState(DomainError);
        return;
    }
    std::string domain = account.substr(at + 1);
    if (domain.empty() || !service->IsKnownMailDomain(domain)) {
        ShowStartPanelState(DomainError);
        return;
    }
    service->SetAccount(account, password, 0);
    service->RequestLogin(account, password, tavi::TaskCallback(this, &MicroBlogPanel::OnLoginResult));
}

void MicroBlogPanel::OnLoginResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    MicroBlogService* service = FindService();
    if (core == nullptr || result == nullptr || service == nullptr)
        return;
    if (result->status == 200)
        service->RequestVerifyCredentials(tavi::TaskCallback(this, &MicroBlogPanel::OnVerifyResult));
    else
        ShowAccountCheck(0, 0);
}

void MicroBlogPanel::OnVerifyResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    MicroBlogService* service = FindService();
    if (core == nullptr || result == nullptr || service == nullptr)
        return;
    bool verified = result->status == 200;
    if (verified)
        service->StartReminders();
    else
        service->SetToolbarButtonText("", FixedText(kTipStartMicroLife));
    ShowAccountCheck(1, verified ? 1 : 0);
}

void MicroBlogPanel::ShowAccountCheck(int loginOk, int verifyOk) {
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    if (loginOk == 0) {
        ShowStartPanelState(AuthError);
    } else if (verifyOk == 0) {
        ShowStartPanelState(AccountNotOk);
    } else if (service->GetState() & kStateBound) {
        RefreshTimeline();
    } else {
        ShowStartPanelState(AccountOk);
    }
}

void MicroBlogPanel::ShowStartPanelState(int state) {
    if (startPanel_)
        startPanel_->SetState(state);
    if (toolPanel_)
        toolPanel_->SetActionsEnabled(0);
    ShowContentPanel(startPanel_);
}

// The credential check that goes with a reload only refreshes the account record.
void MicroBlogPanel::OnIgnoredResult(tavi::ITavi* /*core*/, tavi::IAsync_CallbackParam* /*record*/) {}

} // namespace microblog
