#include "service/microblog_service.h"

#include <sys/stat.h>

#include <cstdio>

#include "host/common.h"
#include "host/global_helper.h"
#include "http/http_exchanges.h"
#include "service/deployment.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/service_view.h"
#include "service/tasks.h"

namespace microblog {

MicroBlogService* FindService() {
    tavi::ITavi* core = tavi::Core_GetITavi();
    if (core == nullptr)
        return nullptr;
    return static_cast<MicroBlogService*>(core->GetService(kServiceId));
}

MicroBlogService::MicroBlogService(tavi::ITavi* core) : core_(core) {}

MicroBlogService::~MicroBlogService() = default;

void MicroBlogService::Release() { delete this; }

void MicroBlogService::SetStateBit(unsigned bit, bool on) {
    if (on)
        state_.fetch_or(bit);
    else
        state_.fetch_and(~bit);
}

void MicroBlogService::GetToken(std::string& token, std::string& secret) const {
    std::lock_guard<std::mutex> lock(tokenMutex_);
    token = token_;
    secret = tokenSecret_;
}

void MicroBlogService::SetToken(const std::string& token, const std::string& secret) {
    std::lock_guard<std::mutex> lock(tokenMutex_);
    token_ = token;
    tokenSecret_ = secret;
}

void MicroBlogService::ApplySettings(const tavi::Property& settings) {
    {
        std::lock_guard<std::mutex> lock(accountMutex_);
        account_ = settings.GetString(kKeyAccount);
        password_ = settings.GetString(kKeyPassword);
    }
    promptEnabled_ = settings.GetInteger(kKeyPromptEnabled);
    promptInterval_ = settings.GetInteger(kKeyPromptInterval);
}

int MicroBlogService::OnLoad() {
    // A service loaded again after an unload may talk to the server again.
    AllowHttpExchanges();
    state_.store(0);
    if (core_)
        core_->RegisterUserData(this, kSettingsName, 1, 1, 0);
    SetCurrentDeployment(ReadDeployment(tavi::GetAppPath() + "plugin/microblog/deploy.ini"));

    tavi::Property settings;
    LoadSettingsMap(settings);
    ApplySettings(settings);
    SetStateBit(kStateBound, settings.GetInteger(kKeyBound) == 1);

    std::string account = core_ ? core_->GetUserAccount() : std::string();
    userFolder_ = tavi::GetAppPath() + "users/" + account + "/microblog";
    // The folder is the user's alone, as the host's user folder above it is; one left open to
    // others by an earlier run is closed. A failure shows later, when a page cannot be written.
    struct stat folder {};
    if (!tavi::IsFileExist(userFolder_))
        mkdir(userFolder_.c_str(), 0700);
    else if (stat(userFolder_.c_str(), &folder) == 0 && S_ISDIR(folder.st_mode) &&
             (folder.st_mode & 077) != 0)
        chmod(userFolder_.c_str(), folder.st_mode & 07700);
    return 1;
}

void MicroBlogService::OnUnLoad() {
    // Requests still open end now, and no new one starts: their tasks return at once, so that the
    // host's wait for them is short and the service can go.
    CancelHttpExchanges();
    if (core_)
        core_->UnregisterUserData(kSettingsName);
    SetToolbarButtonText("", FixedText(kTipStartMicroLife));
    if (window_)
        window_->DestroyConfigForm();
    CancelReminderTimers();
}

void MicroBlogService::LoadSettingsMap(tavi::Property& settings) {
    if (core_ == nullptr)
        return;
    std::string account = core_->GetUserAccount();
    if (core_->HasUserData(kSettingsName, account)) {
        tavi::Property stored;
        core_->LoadUserData(kSettingsName, account, stored);
        settings.Merge(stored);
        return;
    }
    settings.SetInteger(kKeyBound, 0);
    settings.SetString(kKeyAccount, account);
    settings.SetString(kKeyPassword, core_->GetUserPassword());
    settings.SetInteger(kKeyPromptInterval, kDefaultPromptInterval);
    settings.SetInteger(kKeyPromptEnabled, 1);
    settings.SetInteger(kKeyReserved6, 1);
    settings.SetInteger(kKeyReserved7, 0);
    settings.SetInteger(kKeyReserved8, 0);
    core_->SaveUserData(kSettingsName, account, settings, 0);
}

void MicroBlogService::StoreSettingsMap(const tavi::Property& settings) {
    if (core_ == nullptr)
        return;
    std::string account = core_->GetUserAccount();
    tavi::Property working;
    if (core_->HasUserData(kSettingsName, account))
        core_->LoadUserData(kSettingsName, account, working);
    working.Merge(settings);
    core_->SaveUserData(kSettingsName, account, working, 1);

    ApplySettings(working);
    SetStateBit(kStateBound, working.GetInteger(kKeyBound) == 1);
    SetStateBit(kStateSignedIn, false);
    CancelReminderTimers();
}

void MicroBlogService::SaveSettings(const tavi::Property& settings) {
    ApplySettings(settings);
    if (core_)
        core_->PostTask(new UploadSettingsTask(core_, settings), 0);
}

void MicroBlogService::GetAccount(std::string& account, std::string& password) {
    {
        std::lock_guard<std::mutex> lock(accountMutex_);
        if (!account_.empty() && !password_.empty()) {
            account = account_;
            password = password_;
            return;
        }
    }
    account = core_ ? core_->GetUserAccount() : std::string();
    password = core_ ? core_->GetUserPassword() : std::string();
}

void MicroBlogService::SetAccount(std::string account, std::string password, int persist) {
    {
        std::lock_guard<std::mutex> lock(accountMutex_);
        account_ = account;
        password_ = password;
    }
    if (persist == 0)
        return;
    tavi::Property settings;
    LoadSettingsMap(settings);
    settings.SetString(kKeyAccount, account);
    settings.SetString(kKeyPassword, password);
    settings.SetInteger(kKeyBound, 1);
    StoreSettingsMap(tavi::Property(settings));
}

int MicroBlogService::IsKnownMailDomain(const std::string& domain) {
    // The messenger maker's own mail domains and the large public webmail services.
    static const char* const kKnownDomains[] = {
        "velmora.com",      "velmora.cn", "velmora.net", "vip.velmora.com", "mail.velmora.com",
        "tavi.velmora.com", "velmora.com.cn", "gmail.com", "outlook.com",    "yahoo.com",
        "qq.com",           ""};
    for (const char* const* known = kKnownDomains; **known != '\0'; ++known)
        if (domain == *known)
            return 1;
    return 0;
}

int MicroBlogService::ActivateAccount(std::string nickName) {
    return RequestActivateAccount(std::move(nickName), Callback(this, &MicroBlogService::OnActivateAccountResult));
}

void MicroBlogService::CancelReminderTimers() {
    tavi::DelayWork* work = tavi::DelayWork::GetInstance();
    work->RemoveWork(tavi::DelayDelegate(this, &MicroBlogService::PromptNewItems));
    work->RemoveWork(tavi::DelayDelegate(this, &MicroBlogService::PollReminds));
}

// Request operations: each packs its arguments into a task for a worker thread.

int MicroBlogService::RequestSyncSettings() { return core_ ? core_->PostTask(new SyncSettingsTask(core_), 0) : 0; }

int MicroBlogService::RequestLogin(std::string account, std::string password, Callback callback) {
    SetStateBit(kStateSignedIn, false);
    return core_ ? core_->PostTask(new LoginTask(core_, callback, std::move(account), std::move(password)), 0) : 0;
}

int MicroBlogService::RequestVerifyCredentials(Callback callback) {
    return core_ ? core_->PostTask(new VerifyCredentialsTask(core_, callback), 0) : 0;
}

int MicroBlogService::RequestHomeTimeline(int count, Callback callback) {
    return core_ ? core_->PostTask(new HomeTimelineTask(core_, callback, count), 0) : 0;
}

int MicroBlogService::RequestMentions(int count, Callback callback) {
    return core_ ? core_->PostTask(new MentionsTask(core_, callback, count), 0) : 0;
}

int MicroBlogService::RequestUpdateStatus(std::string text, Callback callback) {
    return core_ ? core_->PostTask(new UpdateStatusTask(core_, callback, std::move(text)), 0) : 0;
}

int MicroBlogService::RequestRetweet(Callback callback, std::string id, std::string text, int isComment,
                                     int isCommentToRoot) {
    return core_ ? core_->PostTask(
                       new RetweetTask(core_, callback, std::move(id), std::move(text), isComment, isCommentToRoot), 0)
                 : 0;
}

int MicroBlogService::RequestReply(Callback callback, std::string id, std::string text, int isRetweet,
                                   int isCommentToRoot) {
    return core_ ? core_->PostTask(
                       new ReplyTask(core_, callback, std::move(id), std::move(text), isRetweet, isCommentToRoot), 0)
                 : 0;
}

int MicroBlogService::RequestCreateFavorite(Callback callback, std::string id) {
    return core_ ? core_->PostTask(new CreateFavoriteTask(core_, callback, std::move(id)), 0) : 0;
}

int MicroBlogService::RequestDestroyFavorite(std::string id, Callback callback) {
    return core_ ? core_->PostTask(new DestroyFavoriteTask(core_, callback, std::move(id)), 0) : 0;
}

int MicroBlogService::RequestLatestReminds(Callback callback) {
    return core_ ? core_->PostTask(new LatestRemindsTask(core_, callback), 0) : 0;
}

int MicroBlogService::RequestDestroyStatus(std::string id, Callback callback) {
    return core_ ? core_->PostTask(new DestroyStatusTask(core_, callback, std::move(id)), 0) : 0;
}

int MicroBlogService::RequestUpdateProfile(std::string nickName, Callback callback) {
    return core_ ? core_->PostTask(new UpdateProfileTask(core_, callback, std::move(nickName)), 0) : 0;
}

int MicroBlogService::RequestActivateAccount(std::string nickName, Callback callback) {
    return core_ ? core_->PostTask(new ActivateAccountTask(core_, callback, std::move(nickName)), 0) : 0;
}

} // namespace microblog
