// MicroBlogService: the plug-in's single account and sign-in object. It owns the account, the
// OAuth credentials, the state flags, the settings, the reply documents and the user folder, and
// issues every REST call on the host's worker threads.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "host/core.h"
#include "host/microblog_service.h"
#include "service/document.h"
#include "service/oauth.h"
#include "service/settings.h"

namespace microblog {

class ServiceView;

class MicroBlogService : public IMicroBlogService {
public:
    explicit MicroBlogService(tavi::ITavi* core);
    ~MicroBlogService() override;

    void Release() override;
    int OnLoad() override;
    void OnUnLoad() override;

    void ShowPlugin() override;
    void ShowConfigForm() override;
    unsigned GetState() override { return state_.load(); }
    std::string GetDocumentPath(std::string& path, int kind, int regenerate) override;
    int FindStatus(const std::string& id, std::string& text, std::string& userName,
                   std::string& rootUserName) override;
    int GetScreenName(const std::string& ignored, std::string& name) override;
    int IsKnownMailDomain(const std::string& domain) override;
    int RequestSyncSettings() override;
    void RunSyncSettings(tavi::ITaskClass* task) override;
    void SaveSettings(const tavi::Property& settings) override;
    void RunUploadSettings(tavi::ITaskClass* task, tavi::Property settings) override;
    int RequestLogin(std::string account, std::string password, Callback callback) override;
    void RunLogin(tavi::ITaskClass* task, std::string account, std::string password) override;
    void SetAccount(std::string account, std::string password, int persist) override;
    void GetAccount(std::string& account, std::string& password) override;
    int RequestVerifyCredentials(Callback callback) override;
    void RunVerifyCredentials(tavi::ITaskClass* task) override;
    int RequestHomeTimeline(int count, Callback callback) override;
    void RunHomeTimeline(tavi::ITaskClass* task, int count) override;
    int RequestUpdateStatus(std::string text, Callback callback) override;
    void RunUpdateStatus(tavi::ITaskClass* task, std::string text) override;
    int RequestRetweet(Callback callback, std::string id, std::string text, int isComment,
                       int isCommentToRoot) override;
    void RunRetweet(std::string id, std::string text, int isComment, int isCommentToRoot,
                    tavi::ITaskClass* task) override;
    int RequestReply(Callback callback, std::string id, std::string text, int isRetweet,
                     int isCommentToRoot) override;
    void RunReply(std::string id, std::string text, int isRetweet, int isCommentToRoot,
                  tavi::ITaskClass* task) override;
    int RequestCreateFavorite(Callback callback, std::string id) override;
    void RunCreateFavorite(tavi::ITaskClass* task, std::string id) override;
    int RequestDestroyFavorite(std::string id, Callback callback) override;
    void RunDestroyFavorite(tavi::ITaskClass* task, std::string id) override;
    int RequestLatestReminds(Callback callback) override;
    void RunLatestReminds(tavi::ITaskClass* task) override;
    int RequestDestroyStatus(std::string id, Callback callback) override;
    void RunDestroyStatus(tavi::ITaskClass* task, std::string id) override;
    int RequestUpdateProfile(std::string nickName, Callback callback) override;
    void RunUpdateProfile(tavi::ITaskClass* task, std::string nickName) override;
    int RequestActivateAccount(std::string nickName, Callback callback) override;
    void RunActivateAccount(tavi::ITaskClass* task, std::string nickName) override;
    int ActivateAccount(std::string nickName) override;
    int RequestMentions(int count, Callback callback) override;
    void RunMentions(tavi::ITaskClass* task, int count) override;
    void ShowReplyForm(std::string kind, std::string id, std::string text) override;
    void ShowPublishForm(std::string kind) override;
    void SetToolbarButtonText(std::string text, std::string tip) override;
    void ShowMainPanel() override;
    void StartReminders() override;
    void LoadSettingsMap(tavi::Property& settings) override;
    void StoreSettingsMap(const tavi::Property& settings) override;

    // Task callbacks the service supplies itself.
    virtual void OnRemindsResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    virtual void OnActivateAccountResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);

    // Rewrites the home page from the documents and shows it in the timeline list.
    void ShowHomePage();

    // Timer callbacks of the reminder poll and the new-item prompt.
    void PollReminds();
    void PromptNewItems();

    // The plug-in window, through what the service asks of it; null before load.
    void SetWindow(ServiceView* window) { window_ = window; }
    ServiceView* GetWindow() const { return window_; }
    tavi::ITavi* GetCore() const { return core_; }
    const std::string& GetUserFolder() const { return userFolder_; }
    int GetPromptEnabled() const { return promptEnabled_.load(); }
    int GetPromptInterval() const { return promptInterval_.load(); }
    int GetKnownNewItemCount() const { return knownNewItems_.load(); }

    // The reply documents, for the page writer and the panels (read with Document::With).
    const Document& GetAccountDocument() const { return accountDocument_; }
    const Document& GetHomeTimelineDocument() const { return homeTimelineDocument_; }
    const Document& GetRemindsDocument() const { return remindsDocument_; }
    const Document& GetActivationErrorDocument() const { return activationErrorDocument_; }
    const Document& GetMentionsDocument() const { return mentionsDocument_; }

    // What a request is signed with now: the consumer credentials and, when held, the token.
    OAuthSigner MakeSigner() const;
    // The time and the next nonce of the service's sequence.
    void MakeTimestampAndNonce(std::string& timestamp, std::string& nonce);
    // The xAuth exchange; true with the token and its secret on success.
    bool FetchAccessToken(const std::string& account, const std::string& password, std::string& token,
                          std::string& tokenSecret);

protected:
    // The access token and its secret, read together.
    void GetToken(std::string& token, std::string& secret) const;
    void SetToken(const std::string& token, const std::string& secret);
    void SetStateBit(unsigned bit, bool on);

private:
    struct ApiCall;
    // One signed REST exchange: the status, with the body in *body.
    int PerformCall(const ApiCall& call, std::string* body);
    // Posts the record of a finished call, reading the problem text from the body when asked.
    void PostResult(tavi::ITaskClass* task, int status, const std::string& body, bool problem);
    // PerformCall and PostResult for an operation on one status. An id that could change the
    // request's path (or that no status can have) is refused with status 0, and no request is made.
    void CallOnStatus(tavi::ITaskClass* task, const std::string& id, const ApiCall& call, bool problem);
    // The toolbar reset after a home timeline, run on the user-interface thread.
    void OnHomeTimelineReset(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);
    // Applies the account, password and prompt settings of a map to the fields.
    void ApplySettings(const tavi::Property& settings);
    void CancelReminderTimers();

    tavi::ITavi* core_;
    ServiceView* window_ = nullptr;
    std::atomic<unsigned> state_{0};
    std::atomic<int> promptEnabled_{1};
    std::atomic<int> promptInterval_{kDefaultPromptInterval};

    mutable std::mutex accountMutex_; // guards account_ and password_, also set by the settings fetch
    std::string account_;
    std::string password_;

    mutable std::mutex tokenMutex_; // guards token_ and tokenSecret_, written by the login worker
    std::string token_;
    std::string tokenSecret_;

    const std::string consumerKey_ = kConsumerKey;
    const std::string consumerSecret_ = kConsumerSecret;
    const std::string passType_ = "0";
    const std::string signatureMethod_ = "HMAC-SHA1";
    const std::string oauthVersion_ = "1.0";
    const std::string xAuthMode_ = "client_auth";
    std::string userFolder_;
    std::atomic<int> knownNewItems_{0};
    NonceCounter nonceCounter_;

protected:
    Document accountDocument_;
    Document homeTimelineDocument_;
    Document remindsDocument_;
    Document activationErrorDocument_;
    // The statuses that mention the user, from the last mentions reply, for the mentions page.
    Document mentionsDocument_;
};

// The service registered with the host, or null (no core object, or the plug-in has unloaded).
MicroBlogService* FindService();

} // namespace microblog
