#include "ui/microblog_publish_form.h"

#include "host/common.h"
#include "host/microblog_service.h"
#include "host/services.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/settings.h"

namespace microblog {
namespace {

constexpr unsigned kFormStyle = 0x80CF0000; // pop-up with caption, system menu, sizing border, min/max boxes
constexpr unsigned kContentStyle = 0x50010044; // child, visible, tab stop, multi-line, vertical scroll
constexpr int kIconResource = 128;
constexpr int kBalloonMilliseconds = 2000;
// Posted to a retired form: it destroys its window and releases itself outside of any handler.
constexpr unsigned kReleaseFormMessage = tavi::WM_USER + 0x0D51;

constexpr const char* kModeUpdate = "update";
constexpr const char* kModeRetweet = "retweet";
constexpr const char* kModeComment = "comment";

// The refusal of a send whose timestamp the service did not accept ("sending failed, please set the
// right local time").
constexpr const char* kTimestampRefusedText = "发送失败，请设置正确的本地时间";
// Between the retweeted author and the retweeted text in the preset of a retweet of a retweet.
constexpr const char* kFullWidthColon = "：";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

std::string TrimBlanks(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string CleanStatusText(const std::string& text) {
    std::string cleaned;
    cleaned.reserve(text.size());
    for (char c : text) {
        if (c == '\n')
            cleaned.push_back(' ');
        else if (c != '\r')
            cleaned.push_back(c);
    }
    return cleaned;
}

int CountUtf16Units(const std::string& narrow) {
    // The host's conversion replaces what does not convert, so its output is well-formed UTF-8: one
    // unit per sequence, two for the four-byte sequences outside the basic plane.
    int units = 0;
    for (unsigned char c : tavi::CString_to_utf8(narrow)) {
        if (c < 0x80 || (c >= 0xC0 && c < 0xF0))
            units += 1;
        else if (c >= 0xF0)
            units += 2;
    }
    return units;
}

std::string FormatText(const std::string& format, const std::string& value) {
    std::size_t at = format.find("%s");
    if (at == std::string::npos)
        return format;
    return format.substr(0, at) + value + format.substr(at + 2);
}

MicroBlogPublishForm::MicroBlogPublishForm(tavi::ITavi* host, const std::string& mode)
    : MicroBlogPublishForm(host, mode, std::string(), std::string()) {}

MicroBlogPublishForm::MicroBlogPublishForm(tavi::ITavi* host, const std::string& mode,
                                           const std::string& statusId, const std::string& text)
    : host_(host), mode_(mode), statusId_(statusId), statusText_(text) {
    SetObjectID("MicroBlogPublishForm");
}

MicroBlogPublishForm::~MicroBlogPublishForm() = default;

IMicroBlogService* MicroBlogPublishForm::Service() const {
    return host_ ? dynamic_cast<IMicroBlogService*>(host_->GetService(kServiceId)) : nullptr;
}

int MicroBlogPublishForm::Create(void* parent) {
    std::string title = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_TITLE");
    if (!CSkinWnd::Create(kFormStyle, "MicroBlogPublishForm", title, parent, 0))
        return 0;
    SetIcon(kIconResource, 1);
    SetIcon(kIconResource, 0);
    AddTABOrder(content_);
    AddTABOrder(sendButton_);
    OnSkinChanged();
    GetSkinObject()->ListenEvent(tavi::kSkinEventClick,
                                 tavi::SkinEventHandler(this, &MicroBlogPublishForm::OnSendClicked));
    GetSkinObject()->ListenEvent(tavi::kSkinEventContentChanged,
                                 tavi::SkinEventHandler(this, &MicroBlogPublishForm::OnContentChanged));
    return 1;
}

void MicroBlogPublishForm::Release() {
    if (sending_) {
        // The result's callback is bound to this form: it must find the form alive.
        releaseWhenAnswered_ = true;
        retired_ = true;
        if (IsWindow())
            ShowWindow(tavi::SW_HIDE);
        return;
    }
    delete this;
}

int MicroBlogPublishForm::OnBuildControlAfter() {
    panelBorder_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "PanelBorder");
    if (panelBorder_ == nullptr)
        return 0;

    content_ = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EdtContent");
    if (content_ == nullptr || !content_->Create(kContentStyle, tavi::SkinRect{}, GetSafeHwnd(), -1))
        return 0;
    content_->SetLimitTipEnable(0);

    sendButton_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "ButtonSend");
    if (sendButton_ == nullptr)
        return 0;

    inputStatusFirst_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, "InputStatusFirst");
    if (inputStatusFirst_ == nullptr)
        return 0;
    inputStatusFirst_->SetText(tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_INPUTSTATUS"),
                               0);

    numberLeft_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, "LabelNumberLeft");
    if (numberLeft_ == nullptr)
        return 0;
    if (tavi::CSkinObject* counter = numberLeft_->GetParent())
        counter->RePositionSubControls();

    sendStatus_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, "SendStatus");
    if (sendStatus_ == nullptr)
        return 0;
    sendStatus_->SetVisible(false);

    IMicroBlogService* service = Service();
    if (service == nullptr)
        return 0;
    std::string author;
    std::string rootAuthor;
    if (!statusId_.empty())
        service->FindStatus(statusId_, statusText_, author, rootAuthor);

    panelOption_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "PanelOption");
    chkRetweet_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "ChkRetweet");
    chkComment_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "ChkComment");
    chkCommentRoot_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "ChkCommentRoot");
    if (panelOption_ == nullptr || chkRetweet_ == nullptr || chkComment_ == nullptr ||
        chkCommentRoot_ == nullptr)
        return 0;

    ApplyMode(author, rootAuthor);

    if (mode_ == kModeRetweet && !statusText_.empty() && !author.empty())
        content_->SetWindowText(" ||@" + author + FixedText(kFullWidthColon) + statusText_);

    content_->SetFocus();
    tavi::SetCaretPos(0, 0);
    SetModeTitle(mode_, author);
    return 1;
}

void MicroBlogPublishForm::ApplyMode(const std::string& author, const std::string& rootAuthor) {
    if (mode_ != kModeRetweet && mode_ != kModeComment) {
        panelOption_->SetVisible(false);
        return;
    }
    panelOption_->SetVisible(true);
    chkRetweet_->SetVisible(mode_ == kModeComment);
    chkComment_->SetVisible(mode_ == kModeRetweet);
    chkCommentRoot_->SetVisible(!rootAuthor.empty());
    chkComment_->SetText(
        FormatText(tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_COMMENT"), author), 0);
    chkCommentRoot_->SetText(
        FormatText(tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_COMMENTROOT"), rootAuthor),
        0);
}

void MicroBlogPublishForm::SetModeTitle(const std::string& mode, const std::string& author) {
    std::string title;
    if (mode == kModeUpdate) {
        title = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_TITLE");
    } else if (mode == kModeComment) {
        title = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_TITLE_COMMENT");
        if (!author.empty())
            title += "@" + author;
    } else if (mode == kModeRetweet) {
        title = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_TITLE_RETWEET");
    }
    SetWindowText(title);
}

void MicroBlogPublishForm::OnSetSkinData() {
    CSkinWnd::OnSetSkinData();
    UpdateCharCount();
    if (mode_ == kModeUpdate || panelOption_ == nullptr || !IsWindow())
        return;
    // The reply modes make room for the option panel below the text. Counted from the height as
    // built, so that applying the skin again does not grow the form again.
    tavi::SkinRect rect = GetWindowRect();
    if (builtHeight_ < 0)
        builtHeight_ = rect.Height();
    rect.bottom = rect.top + builtHeight_ + panelOption_->GetSkinConfig().height;
    SetFormPosition(rect);
}

void MicroBlogPublishForm::OnContentChanged(tavi::CSkinObject* sender, void* /*data*/) {
    if (content_ != nullptr && sender == content_->GetSkinObject())
        UpdateCharCount();
}

void MicroBlogPublishForm::UpdateCharCount() {
    if (content_ == nullptr || sendButton_ == nullptr || inputStatusFirst_ == nullptr ||
        numberLeft_ == nullptr)
        return;
    int n = CountUtf16Units(CleanStatusText(TrimBlanks(content_->GetWindowText())));
    if (n > MaxStatusChars) {
        sendButton_->SetEnabled(false);
        inputStatusFirst_->SetText(
            tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_BEYONDNUMBER"), 0);
        numberLeft_->SetText(std::to_string(n - MaxStatusChars), 0);
        numberLeft_->SetTextColor(kCounterOverColor);
    } else {
        // While a send is outstanding the button stays disabled: typing must not allow a second send.
        if (!sending_)
            sendButton_->SetEnabled(true);
        inputStatusFirst_->SetText(
            tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_INPUTSTATUS"), 0);
        numberLeft_->SetText(std::to_string(MaxStatusChars - n), 0);
        numberLeft_->SetTextColor(kCounterColor);
    }
    if (tavi::CSkinObject* counter = numberLeft_->GetParent()) {
        counter->RePositionSubControls();
        counter->Refresh();
    }
}

void MicroBlogPublishForm::OnSendClicked(tavi::CSkinObject* sender, void* /*data*/) {
    if (sender == nullptr || sender != sendButton_ || sending_ || content_ == nullptr)
        return;
    sendButton_->SetEnabled(false);
    sendStatus_->SetVisible(true);
    RePositionSubControls();
    Refresh();

    IMicroBlogService* service = Service();
    std::string text = TrimBlanks(content_->GetWindowText());
    tavi::TaskCallback callback(this, &MicroBlogPublishForm::OnSendResult);
    bool known = mode_ == kModeUpdate || mode_ == kModeRetweet || mode_ == kModeComment;
    bool empty = text.empty() && mode_ != kModeRetweet;
    if (!known || empty || service == nullptr) {
        if (empty)
            ShowBalloon(tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_EDITEMPTY"));
        UpdateCharCount();
        sendStatus_->SetVisible(false);
        RePositionSubControls();
        Refresh();
        return;
    }
    sending_ = true;
    int posted = 0;
    if (mode_ == kModeUpdate)
        posted = service->RequestUpdateStatus(CleanStatusText(text), callback);
    else if (mode_ == kModeRetweet)
        posted = service->RequestRetweet(callback, statusId_, text, chkComment_->GetChecked(),
                                         chkCommentRoot_->GetChecked());
    else
        posted = service->RequestReply(callback, statusId_, text, chkRetweet_->GetChecked(),
                                       chkCommentRoot_->GetChecked());
    if (posted == 0) {
        // No task went out, so no result will come: the send failed here and now.
        sending_ = false;
        ShowSendFailure(std::string());
    }
}

void MicroBlogPublishForm::OnSendResult(tavi::ITavi* host, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    // Whatever arrives, the send is over: a result without its record is a failure without a text,
    // and a release that waited for the answer happens now.
    sending_ = false;
    if (releaseWhenAnswered_) {
        delete this;
        return;
    }
    if (host == nullptr || result == nullptr) {
        ShowSendFailure(std::string());
        if (retired_)
            Retire();
        return;
    }
    if (result->status == 200) {
        Retire();
        tavi::MinimizeDownMemory();
        if (IMicroBlogService* service = Service())
            service->ShowMainPanel();
        return;
    }
    ShowSendFailure(result->text);
    if (retired_)
        Retire();
}

void MicroBlogPublishForm::ShowSendFailure(const std::string& errorText) {
    // Counted again, not simply enabled: the text may have grown past the limit during the send.
    UpdateCharCount();
    if (errorText == kTimestampRefused) {
        sendStatus_->SetVisible(false);
        ShowBalloon(FixedText(kTimestampRefusedText));
    } else {
        sendStatus_->SetText(tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_MSGTRANS_SENDFAILED"), 1);
    }
    RePositionSubControls();
    Refresh();
}

void MicroBlogPublishForm::ShowBalloon(const std::string& text) {
    auto* notifier =
        host_ ? dynamic_cast<tavi::INotifier*>(host_->GetService(tavi::kServiceNotifier)) : nullptr;
    if (notifier != nullptr)
        notifier->ShowBalloon(sendButton_, text, kBalloonMilliseconds);
}

void MicroBlogPublishForm::Retire() {
    if (IsWindow())
        ShowWindow(tavi::SW_HIDE);
    retired_ = true;
    if (!sending_ && IsWindow())
        PostMessage(kReleaseFormMessage);
}

void MicroBlogPublishForm::OnClose() {
    Retire();
    tavi::MinimizeDownMemory();
}

void MicroBlogPublishForm::OnDestroy() {
    if (IsWindow())
        ShowWindow(tavi::SW_HIDE);
    retired_ = true;
    tavi::MinimizeDownMemory();
}

std::intptr_t MicroBlogPublishForm::WindowProc(unsigned message, std::uintptr_t wParam,
                                               std::intptr_t lParam) {
    if (message != kReleaseFormMessage)
        return CSkinForm::WindowProc(message, wParam, lParam);
    if (retired_ && !sending_) {
        DestroyWindow();
        Release(); // nothing of this form is touched after this
    }
    return 0;
}

} // namespace microblog
