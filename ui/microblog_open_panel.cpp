#include "ui/microblog_open_panel.h"

#include "host/common.h"
#include "service/microblog_service.h"
#include "ui/panel_skin.h"

namespace microblog {
namespace {

// Child, visible, tab stop.
constexpr unsigned kNickNameEditStyle = tavi::WS_CHILD | tavi::WS_VISIBLE | tavi::WS_TABSTOP;

} // namespace

MicroBlogOpenPanel::MicroBlogOpenPanel(MicroBlogPanel* owner) : owner_(owner) {
    SetObjectID("MicroBlogOpenPanel");
}

MicroBlogOpenPanel::~MicroBlogOpenPanel() = default;

int MicroBlogOpenPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    const tavi::SkinBuildNode* node = FindPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(this, &MicroBlogOpenPanel::OnEvent));
    return 1;
}

int MicroBlogOpenPanel::OnBuildControlAfter() {
    labelInputNickName_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelInputNickName");
    if (labelInputNickName_ == nullptr)
        return 0;
    edtNickName_ = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EdtNickName");
    if (edtNickName_ == nullptr)
        return 0;
    // A window the skin gives no place yet; the layout moves it onto the edit's rectangle. Without
    // a host window there is nothing to type into, and the nickname reads as empty.
    edtNickName_->Create(kNickNameEditStyle, tavi::SkinRect{}, hostParent_, -1);
    edtNickName_->SetLimitTipEnable(0);
    labelInputNotice_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelInputNotice");
    if (labelInputNotice_ == nullptr)
        return 0;
    btnStartMicroBlog_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "BtnStartMicroBlog");
    if (btnStartMicroBlog_ == nullptr)
        return 0;
    labelAccountNotice_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelAccountNotice");
    if (labelAccountNotice_ == nullptr)
        return 0;
    labelAccountNotice_->SetVisible(false);
    labelAccountNoticeforShort_ =
        tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelAccountNoticeforShort");
    if (labelAccountNoticeforShort_ == nullptr)
        return 0;
    labelAccountNoticeforShort_->SetVisible(false);
    labelBindOtherAccount_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "LabelBindOtherAccount");
    return labelBindOtherAccount_ != nullptr ? 1 : 0;
}

void MicroBlogOpenPanel::ClearForNewNickName() {
    if (edtNickName_)
        edtNickName_->SetWindowText("");
    if (labelAccountNotice_)
        labelAccountNotice_->SetVisible(false);
}

void MicroBlogOpenPanel::ShowNotice(tavi::CSkinObject* label, const std::string& text) {
    if (label == nullptr)
        return;
    label->SetVisible(true);
    label->SetText(text, 0);
    Refresh();
}

void MicroBlogOpenPanel::ShowActivationRefusal(int status, const std::string& message) {
    if (status == 400)
        ShowNotice(labelAccountNotice_, message);
    else if (status == 403)
        ShowNotice(labelAccountNoticeforShort_, message);
}

void MicroBlogOpenPanel::OnEvent(tavi::CSkinObject* sender, void* /*data*/) {
    // Whatever was clicked, the messages of the last attempt go away.
    if (labelAccountNotice_)
        labelAccountNotice_->SetVisible(false);
    if (labelAccountNoticeforShort_)
        labelAccountNoticeforShort_->SetVisible(false);
    MicroBlogService* service = FindService();
    if (service == nullptr || sender == nullptr)
        return;
    if (sender == btnStartMicroBlog_)
        StartMicroBlog();
    else if (sender == labelBindOtherAccount_)
        service->ShowConfigForm();
}

void MicroBlogOpenPanel::StartMicroBlog() {
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return;
    std::string nickName = TrimWhiteSpace(edtNickName_ ? edtNickName_->GetWindowText() : std::string());
    // The limit is in bytes of the system code page: 24 letters or 12 double-byte characters.
    if (nickName.empty()) {
        ShowNotice(labelAccountNotice_,
                   tavi::CMutiLanSupport::GetStringViaID("STRID_MB_STARTPANEL_ACCOUNTNOTICE_NULL"));
    } else if (nickName.size() > kNickNameMaxBytes) {
        ShowNotice(labelAccountNotice_,
                   tavi::CMutiLanSupport::GetStringViaID("STRID_MB_STARTPANEL_ACCOUNTNOTICE_12"));
    } else {
        // The reply comes to the service's activation handler; the panel does not wait for it.
        service->ActivateAccount(nickName);
    }
}

} // namespace microblog
