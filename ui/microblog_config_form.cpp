#include "ui/microblog_config_form.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host/common.h"
#include "host/core.h"
#include "host/microblog_service.h"
#include "host/services.h"
#include "service/settings.h"

namespace microblog {
namespace {

constexpr unsigned kFormStyle = 0x80CF0000; // pop-up with caption, system menu, sizing border, min/max boxes
constexpr unsigned kAccountStyle = 0x50010080;  // child, visible, tab stop, horizontal scroll
constexpr unsigned kPasswordStyle = 0x500100A0; // the same, showing password characters
constexpr unsigned kIntervalStyle = 0x50012080; // the same as the account, digits only
constexpr int kIconResource = 128;
constexpr int kAccountLimit = 64;
constexpr int kPasswordLimit = 32;
constexpr int kIntervalLimit = 3;
constexpr std::size_t kLongestAccount = 64;
constexpr std::size_t kLongestPassword = 64;
constexpr std::size_t kLongestEmail = 63;
constexpr int kBalloonMilliseconds = 2000;
// What the password edit shows for a stored password.
constexpr const char* kPasswordMask = "********";

MicroBlogConfigForm* configForm = nullptr;

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

bool IsAddressByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

// The leading decimal number of the text, as "%d" reads it; false when there is none or it does
// not fit an int.
bool ReadDecimal(const std::string& text, int& value) {
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    long long parsed = std::strtoll(start, &end, 10);
    if (end == start || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

} // namespace

MicroBlogConfigForm::MicroBlogConfigForm() {
    SetObjectID("MicroBlogConfigForm");
}

MicroBlogConfigForm::~MicroBlogConfigForm() {
    if (configForm == this)
        configForm = nullptr;
}

IMicroBlogService* MicroBlogConfigForm::Service() const {
    tavi::ITavi* core = tavi::Core_GetITavi();
    return core ? dynamic_cast<IMicroBlogService*>(core->GetService(kServiceId)) : nullptr;
}

int MicroBlogConfigForm::Create(void* parent) {
    std::string title = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_CONF_TITLE");
    if (!CSkinWnd::Create(kFormStyle, "MicroBlogConfigForm", title, parent, 0))
        return 0;
    SetIcon(kIconResource, 1);
    SetIcon(kIconResource, 0);
    GetSkinObject()->ListenEvent(tavi::kSkinEventClick,
                                 tavi::SkinEventHandler(this, &MicroBlogConfigForm::OnFormEvent));
    SetDefaultOkButton(buttonOk_);
    SetDefaultCancelButton(buttonCancel_);
    AddTABOrder(editAccount_);
    AddTABOrder(editPassword_);
    AddTABOrder(checkNotice_);
    AddTABOrder(editInterval_);
    AddTABOrder(checkSyncSignature_);
    AddTABOrder(checkAutoWatch_);
    AddTABOrder(checkBeWatched_);
    AddTABOrder(buttonOk_);
    AddTABOrder(buttonCancel_);
    return 1;
}

int MicroBlogConfigForm::OnBuildControlAfter() {
    checkBind_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "CheckBindMicroBlog");
    checkNotice_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "CheckNoticeNewMicroBlog");
    checkSyncSignature_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "CheckSyncSignature");
    checkAutoWatch_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "CheckAutoWatch");
    checkBeWatched_ = tavi::FindSkinControl<tavi::CSkinCheckBox>(this, "CheckBeWatched");
    if (checkBind_ == nullptr || checkNotice_ == nullptr || checkSyncSignature_ == nullptr ||
        checkAutoWatch_ == nullptr || checkBeWatched_ == nullptr)
        return 0;

    const std::string overLimit = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_ERROR_OVERADDR");
    editAccount_ = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EditAccount");
    if (editAccount_ == nullptr || !editAccount_->Create(kAccountStyle, tavi::SkinRect{}, GetSafeHwnd(), 0))
        return 0;
    editAccount_->SendMessage(tavi::EM_LIMITTEXT, kAccountLimit);
    editAccount_->SetLimitTipEnable(1);
    editAccount_->SetLimitTipText(overLimit);

    editPassword_ = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EditPassword");
    if (editPassword_ == nullptr ||
        !editPassword_->Create(kPasswordStyle, tavi::SkinRect{}, GetSafeHwnd(), 0))
        return 0;
    editPassword_->SendMessage(tavi::EM_LIMITTEXT, kPasswordLimit);
    editPassword_->SetLimitTipEnable(1);
    editPassword_->SetLimitTipText(overLimit);

    editInterval_ = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EditInterval");
    if (editInterval_ == nullptr ||
        !editInterval_->Create(kIntervalStyle, tavi::SkinRect{}, GetSafeHwnd(), 0))
        return 0;
    editInterval_->SendMessage(tavi::EM_LIMITTEXT, kIntervalLimit);
    editInterval_->SetLimitTipEnable(0);

    buttonOk_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "ButtonOK");
    buttonCancel_ = tavi::FindSkinControl<tavi::CSkinObject>(this, "ButtonCancel");
    labelAccountTip_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, "LabelAccountTip");
    labelCurrentAccount_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, "LabelCurrentAccount");
    if (buttonOk_ == nullptr || buttonCancel_ == nullptr || labelAccountTip_ == nullptr ||
        labelCurrentAccount_ == nullptr)
        return 0;
    labelCurrentAccount_->SetText(tavi::CMutiLanSupport::GetStringViaID(""), 0);

    checkSyncSignature_->SetEnabled(false);
    checkSyncSignature_->SetChecked(1, 0);
    checkAutoWatch_->SetEnabled(false);
    checkBeWatched_->SetEnabled(false);
    return 1;
}

void MicroBlogConfigForm::LoadFromSettings() {
    storedPassword_.clear();
    passwordChanged_ = 0;
    IMicroBlogService* service = Service();
    if (service == nullptr || editAccount_ == nullptr)
        return;
    tavi::Property settings;
    service->LoadSettingsMap(settings);
    int bound = settings.GetInteger(kKeyBound);
    int interval = settings.GetInteger(kKeyPromptInterval);
    if (interval < 1)
        interval = kDefaultPromptInterval;
    int announce = settings.GetInteger(kKeyPromptEnabled);
    std::string account = settings.GetString(kKeyAccount);
    storedPassword_ = settings.GetString(kKeyPassword);

    checkBind_->SetChecked(bound != 0, 0);
    editAccount_->SetWindowText(account);
    shownPassword_ = storedPassword_.empty() ? std::string() : std::string(kPasswordMask);
    editPassword_->SetWindowText(shownPassword_);
    editAccount_->EnableWindow(bound != 0);
    editPassword_->EnableWindow(bound != 0);

    labelCurrentAccount_->SetText(
        bound != 0 ? editAccount_->GetWindowText()
                   : tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_CONF_NOACCOUNT"),
        0);

    checkNotice_->SetChecked(announce != 0, 0);
    editInterval_->SetWindowText(std::to_string(interval));
    editInterval_->EnableWindow(announce != 0);
    RePositionSubControls();
    Refresh();
}

bool MicroBlogConfigForm::PreTranslateMessage(tavi::MSG* msg) {
    if (msg != nullptr && editAccount_ != nullptr && editPassword_ != nullptr) {
        tavi::CWnd* focus = tavi::CWnd::GetFocus();
        if (msg->message == tavi::WM_KEYUP && focus == editPassword_) {
            if (editPassword_->GetWindowText() != shownPassword_)
                passwordChanged_ = 1;
        } else if (msg->message == tavi::WM_CHAR && focus == editAccount_) {
            // A new account needs its own password.
            editPassword_->SetWindowText("");
            passwordChanged_ = 1;
        }
    }
    return CSkinForm::PreTranslateMessage(msg);
}

void MicroBlogConfigForm::OnFormEvent(tavi::CSkinObject* sender, void* /*data*/) {
    if (sender == nullptr)
        return;
    if (sender == buttonCancel_) {
        Hide();
    } else if (sender == buttonOk_) {
        OnOK();
    } else if (sender == checkBind_) {
        editAccount_->EnableWindow(checkBind_->IsChecked());
        editPassword_->EnableWindow(checkBind_->IsChecked());
    } else if (sender == checkNotice_) {
        editInterval_->EnableWindow(checkNotice_->IsChecked());
    }
}

bool MicroBlogConfigForm::IsValidEmail(const std::string& name) {
    if (name.size() > kLongestEmail)
        return false;
    std::size_t at = name.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == name.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i != at && !IsAddressByte(static_cast<unsigned char>(name[i])))
            return false;
    return name.back() != '.';
}

bool MicroBlogConfigForm::Refuse(const char* stringId, tavi::CSkinObject* anchor) {
    tavi::ITavi* core = tavi::Core_GetITavi();
    if (auto* notifier =
            core ? dynamic_cast<tavi::INotifier*>(core->GetService(tavi::kServiceNotifier)) : nullptr)
        notifier->ShowBalloon(anchor, tavi::CMutiLanSupport::GetStringViaID(stringId), kBalloonMilliseconds);
    return false;
}

bool MicroBlogConfigForm::Validate(std::string& account, std::string& password, int& interval) {
    tavi::ITavi* core = tavi::Core_GetITavi();
    if (core == nullptr ||
        dynamic_cast<tavi::INotifier*>(core->GetService(tavi::kServiceNotifier)) == nullptr ||
        editAccount_ == nullptr)
        return false;
    bool bind = checkBind_->IsChecked();
    account = Trim(editAccount_->GetWindowText());
    if (account.empty() && bind)
        return Refuse("STRID_MICROBLOG_BLANK_EMAIL", editAccount_->GetSkinObject());
    if (account.size() > kLongestAccount)
        return Refuse("STRID_MICROBLOG_ERROR_OVERADDR", editAccount_->GetSkinObject());
    if (bind && !IsValidEmail(account))
        return Refuse("STRID_MICROBLOG_ERROR_ACCOUNT", editAccount_->GetSkinObject());
    if (passwordChanged_) {
        std::string typed = editPassword_->GetWindowText();
        if (typed.empty() && bind)
            return Refuse("STRID_MICROBLOG_BLANK_PASSWORD", editPassword_->GetSkinObject());
        if (typed.size() > kLongestPassword)
            return Refuse("STRID_MICROBLOG_ERROR_OVERPASSWD", editPassword_->GetSkinObject());
        password = typed.empty() ? std::string() : tavi::GetMD5(typed);
    } else {
        password = storedPassword_;
    }
    if (!ReadDecimal(Trim(editInterval_->GetWindowText()), interval) || interval < 1)
        return Refuse("STRID_MICROBLOG_ERROR_SHORTTIME", editInterval_->GetSkinObject());
    return true;
}

void MicroBlogConfigForm::OnOK() {
    IMicroBlogService* service = Service();
    if (service == nullptr)
        return;
    int bind = checkBind_->GetChecked();
    int announce = checkNotice_->GetChecked();
    std::string account;
    std::string password;
    int interval = 0;
    if (!Validate(account, password, interval))
        return;
    tavi::Property settings;
    settings.SetInteger(kKeyBound, bind);
    settings.SetString(kKeyAccount, account);
    settings.SetString(kKeyPassword, password);
    settings.SetInteger(kKeyPromptEnabled, announce);
    settings.SetInteger(kKeyPromptInterval, interval);
    service->StoreSettingsMap(settings);
    Hide();
}

void MicroBlogConfigForm::Hide() {
    if (IsWindow())
        ShowWindow(tavi::SW_HIDE);
    tavi::MinimizeDownMemory();
}

void MicroBlogConfigForm::OnClose() {
    Hide();
}

void MicroBlogConfigForm::OnDestroy() {}

int MicroBlogConfigForm::OnQueryCloseForm() {
    if (configForm == this)
        configForm = nullptr;
    Release();
    return 1;
}

MicroBlogConfigForm* FindConfigForm() {
    return configForm;
}

MicroBlogConfigForm* GetConfigForm() {
    if (configForm != nullptr && !configForm->IsWindow())
        ReleaseConfigForm(); // its window went without it: a fresh form replaces it
    if (configForm == nullptr) {
        auto* form = new MicroBlogConfigForm();
        if (!form->Create(nullptr)) {
            form->Release();
            return nullptr;
        }
        configForm = form;
    }
    return configForm;
}

void ReleaseConfigForm() {
    MicroBlogConfigForm* form = configForm;
    configForm = nullptr;
    if (form == nullptr)
        return;
    if (form->IsWindow())
        form->DestroyWindow();
    form->Release();
}

} // namespace microblog
