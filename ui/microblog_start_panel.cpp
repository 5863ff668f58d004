#include "ui/microblog_start_panel.h"

#include "host/common.h"
#include "service/microblog_service.h"
#include "ui/microblog_open_panel.h"
#include "ui/microblog_panel.h"
#include "ui/panel_skin.h"

namespace microblog {
namespace {

// The string table's sentence of each state, by state value.
constexpr const char* kStateTexts[] = {
    "STRID_MB_STARTPANEL_ACCOUNTOK",
    "STRID_MB_STARTPANEL_ACCOUNTNOTOK",
    "STRID_MB_STARTPANEL_AUTHERROR",
    "STRID_MB_STARTPANEL_DOMAINERROR",
};

} // namespace

MicroBlogStartPanel::MicroBlogStartPanel(MicroBlogPanel* owner) : owner_(owner) {
    SetObjectID("MicroBlogStartPanel");
}

MicroBlogStartPanel::~MicroBlogStartPanel() = default;

int MicroBlogStartPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    const tavi::SkinBuildNode* node = FindPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(this, &MicroBlogStartPanel::OnEvent));
    return 1;
}

int MicroBlogStartPanel::OnBuildControlAfter() {
    labelAccountStatus_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelAccountStatus");
    if (labelAccountStatus_ == nullptr)
        return 0;
    labelUseThisAccount_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelUseThisAccount");
    if (labelUseThisAccount_ == nullptr)
        return 0;
    labelBindOtherAccount_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelBindOtherAccount");
    if (labelBindOtherAccount_ == nullptr)
        return 0;
    labelOpenThisAccount_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelOpenThisAccount");
    if (labelOpenThisAccount_ == nullptr)
        return 0;
    labelRetry_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelRetry");
    return labelRetry_ != nullptr ? 1 : 0;
}

void MicroBlogStartPanel::SetState(int state) {
    MicroBlogService* service = FindService();
    if (service == nullptr || labelAccountStatus_ == nullptr)
        return;
    labelUseThisAccount_->SetVisible(false);
    labelOpenThisAccount_->SetVisible(false);
    labelRetry_->SetVisible(false);
    std::string account, password;
    service->GetAccount(account, password);
    if (state >= AccountOk && state <= DomainError) {
        std::string format = tavi::CMutiLanSupport::GetStringViaID(kStateTexts[state]);
        labelAccountStatus_->SetText(FormatWithText(format, account), 0);
        tavi::CSkinObject* links[] = {labelUseThisAccount_, labelOpenThisAccount_, labelRetry_, nullptr};
        if (links[state] != nullptr)
            links[state]->SetVisible(true);
    }
    Refresh();
}

void MicroBlogStartPanel::OnEvent(tavi::CSkinObject* sender, void* /*data*/) {
    MicroBlogService* service = FindService();
    if (service == nullptr || sender == nullptr)
        return;
    if (sender == labelUseThisAccount_) {
        // Stored as bound: the settings change reaches the window, which runs the sign-in again.
        std::string account, password;
        service->GetAccount(account, password);
        service->SetAccount(account, password, 1);
    } else if (sender == labelBindOtherAccount_) {
        service->ShowConfigForm();
    } else if (sender == labelOpenThisAccount_) {
        if (owner_ == nullptr)
            return;
        if (MicroBlogOpenPanel* open = owner_->GetOpenPanel()) {
            open->ClearForNewNickName();
            owner_->ShowContentPanel(open);
        }
    } else if (sender == labelRetry_) {
        if (owner_)
            owner_->StartSignIn();
    }
}

} // namespace microblog
