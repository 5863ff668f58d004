// The worker halves of the REST calls. Each builds its parameters, signs them, makes one
// synchronous HTTP exchange, keeps what it keeps of the reply and posts one result record.
// Everything here runs on host worker threads.
#include <cstring>

#include "host/common.h"
#include "host/global_helper.h"
#include "http/http_client.h"
#include "service/deployment.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"

namespace microblog {
namespace {

constexpr const char* kKeyFrom = "tavi";
// The workers always ask for 50 statuses, whatever count the request carried.
constexpr const char* kTimelineCount = "50";

// A status id goes into the request path as it is, so only ids that cannot change the path are
// accepted: letters, digits, '-' and '_'.
bool IsSafeStatusId(const std::string& id) {
    if (id.empty())
        return false;
    for (unsigned char c : id) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                  c == '_';
        if (!ok)
            return false;
    }
    return true;
}

std::string WithId(const char* pattern, const std::string& id) {
    std::string path = pattern;
    path.replace(path.find("%s"), 2, id);
    return path;
}

} // namespace

struct MicroBlogService::ApiCall {
    bool post;
    std::string path;
    RequestParams params;
};

OAuthSigner MicroBlogService::MakeSigner() const {
    OAuthSigner signer;
    signer.apiRoot = CurrentDeployment().apiRoot;
    signer.consumerKey = consumerKey_;
    signer.consumerSecret = consumerSecret_;
    signer.signatureMethod = signatureMethod_;
    signer.version = oauthVersion_;
    GetToken(signer.token, signer.tokenSecret);
    return signer;
}

void MicroBlogService::MakeTimestampAndNonce(std::string& timestamp, std::string& nonce) {
    timestamp = MakeTimestamp();
    nonce = MakeNonce(nonceCounter_.Next(), nonceCounter_.Salt());
}

int MicroBlogService::PerformCall(const ApiCall& call, std::string* body) {
    OAuthSigner signer = MakeSigner();
    OAuthParamMap map;
    AddRequestParams(map, signer, RequestParams(call.params));
    std::string timestamp, nonce;
    MakeTimestampAndNonce(timestamp, nonce);
    std::string signedText =
        BuildSignedQuery(map, signer, call.post ? "POST&" : "GET&", call.path, true, timestamp, nonce);
    std::string url = signer.apiRoot + call.path;
    HttpClient client;
    client.SetAuthorityFile(CurrentDeployment().caFile);
    if (call.post)
        return client.Post(tavi::GetProxyCfg(), url, signedText, *body);
    return client.Get(tavi::GetProxyCfg(), url + "?" + signedText, *body);
}

void MicroBlogService::PostResult(tavi::ITaskClass* task, int status, const std::string& body, bool problem) {
    std::string text;
    if (status != 200 && problem) {
        std::size_t at = body.find("oauth_problem=");
        if (at != std::string::npos && body.compare(at + 14, 17, kTimestampRefused) == 0)
            text = kTimestampRefused;
    }
    task->InvokeUICallBack(new MicroBlogResult(status, text));
}

bool MicroBlogService::FetchAccessToken(const std::string& account, const std::string& password,
                                        std::string& token, std::string& tokenSecret) {
    OAuthSigner signer = MakeSigner();
    RequestParams params{{"x_auth_username", account},
                         {"x_auth_password", password},
                         {"x_auth_passtype", passType_},
                         {"x_auth_mode", xAuthMode_}};
    OAuthParamMap map;
    AddRequestParams(map, signer, params);
    std::string timestamp, nonce;
    MakeTimestampAndNonce(timestamp, nonce);
    std::string query = BuildSignedQuery(map, signer, "GET&", "oauth/access_token", false, timestamp, nonce);
    HttpClient client;
    client.SetAuthorityFile(CurrentDeployment().caFile);
    std::string body;
    int status = client.Get(tavi::GetProxyCfg(), signer.apiRoot + "oauth/access_token?" + query, body);
    if (status != 200)
        return false;
    return ParseAccessTokenReply(body, token, tokenSecret);
}

void MicroBlogService::RunLogin(tavi::ITaskClass* task, std::string account, std::string password) {
    std::string token, secret;
    if (FetchAccessToken(account, password, token, secret)) {
        SetToken(token, secret);
        SetStateBit(kStateSignedIn, true);
        task->InvokeUICallBack(new MicroBlogResult(200, ""));
    } else {
        SetStateBit(kStateSignedIn, false);
        SetToken("", "");
        task->InvokeUICallBack(new MicroBlogResult(401, ""));
    }
}

void MicroBlogService::RunVerifyCredentials(tavi::ITaskClass* task) {
    std::string body;
    int status = PerformCall({false, "account/verify_credentials.json", {}}, &body);
    if (status == 200)
        accountDocument_.Parse(body);
    PostResult(task, status, body, false);
}

void MicroBlogService::RunHomeTimeline(tavi::ITaskClass* task, int /*count*/) {
    std::string body;
    int status = PerformCall({false,
                              "statuses/home_timeline.json",
                              {{"count", kTimelineCount}, {"method", "hometl"}, {"keyfrom", kKeyFrom}}},
                             &body);
    if (status == 200) {
        homeTimelineDocument_.Parse(body);
        remindsDocument_.Clear();
        knownNewItems_.store(0);
        // The toolbar belongs to the user-interface thread; the reset runs there, before the
        // result reaches its callback.
        if (core_)
            core_->InvokeUICallBack(Callback(this, &MicroBlogService::OnHomeTimelineReset), nullptr);
    }
    PostResult(task, status, body, true);
}

void MicroBlogService::OnHomeTimelineReset(tavi::ITavi* /*core*/, tavi::IAsync_CallbackParam* /*record*/) {
    SetToolbarButtonText("", FixedText(kTipStartMicroLife));
}

void MicroBlogService::CallOnStatus(tavi::ITaskClass* task, const std::string& id, const ApiCall& call,
                                    bool problem) {
    if (!IsSafeStatusId(id)) {
        task->InvokeUICallBack(new MicroBlogResult(0, ""));
        return;
    }
    std::string body;
    int status = PerformCall(call, &body);
    PostResult(task, status, body, problem);
}

void MicroBlogService::RunMentions(tavi::ITaskClass* task, int /*count*/) {
    std::string body;
    int status = PerformCall({false, "statuses/mentions.json", {{"count", kTimelineCount}}}, &body);
    if (status == 200)
        mentionsDocument_.Parse(body);
    PostResult(task, status, body, false);
}

void MicroBlogService::RunUpdateStatus(tavi::ITaskClass* task, std::string text) {
    std::string body;
    int status = PerformCall(
        {true, "statuses/update.json", {{"status", text}, {"method", "addbutter"}, {"keyfrom", kKeyFrom}}},
        &body);
    PostResult(task, status, body, true);
}

void MicroBlogService::RunRetweet(std::string id, std::string text, int isComment, int isCommentToRoot,
                                  tavi::ITaskClass* task) {
    CallOnStatus(task, id,
                 {true,
                  WithId("statuses/retweet/%s.json", id),
                  {{"id", id},
                   {"status", text},
                   {"is_comment", tavi::Int2CString(isComment)},
                   {"is_comment_to_root", tavi::Int2CString(isCommentToRoot)},
                   {"method", "retweet"},
                   {"keyfrom", kKeyFrom}}},
                 true);
}

void MicroBlogService::RunReply(std::string id, std::string text, int isRetweet, int isCommentToRoot,
                                tavi::ITaskClass* task) {
    // The id travels in the body only, but a reply to an id no status can have is refused alike.
    CallOnStatus(task, id,
                 {true,
                  "statuses/reply.json",
                  {{"id", id},
                   {"status", text},
                   {"is_retweet", tavi::Int2CString(isRetweet)},
                   {"is_comment_to_root", tavi::Int2CString(isCommentToRoot)},
                   {"method", "reply"},
                   {"keyfrom", kKeyFrom}}},
                 true);
}

void MicroBlogService::RunDestroyStatus(tavi::ITaskClass* task, std::string id) {
    CallOnStatus(task, id, {true, WithId("statuses/destroy/%s.json", id), {{"id", id}}}, false);
}

void MicroBlogService::RunCreateFavorite(tavi::ITaskClass* task, std::string id) {
    CallOnStatus(task, id, {true, WithId("favorites/create/%s.json", id), {{"id", id}}}, false);
}

void MicroBlogService::RunDestroyFavorite(tavi::ITaskClass* task, std::string id) {
    CallOnStatus(task, id, {true, WithId("favorites/destroy/%s.json", id), {{"id", id}}}, false);
}

void MicroBlogService::RunUpdateProfile(tavi::ITaskClass* task, std::string nickName) {
    std::string body;
    int status = PerformCall({true, "account/update_profile.json", {{"nick_name", nickName}}}, &body);
    PostResult(task, status, body, false);
}

void MicroBlogService::RunActivateAccount(tavi::ITaskClass* task, std::string nickName) {
    std::string body;
    int status = PerformCall({true, "account/activate.json", {{"nick_name", nickName}}}, &body);
    if (status != 200)
        activationErrorDocument_.Parse(body);
    PostResult(task, status, body, false);
}

void MicroBlogService::RunLatestReminds(tavi::ITaskClass* task) {
    std::string body;
    int status = PerformCall({false, "reminds/message/latest.json", {}}, &body);
    if (status == 200)
        remindsDocument_.Parse(body);
    PostResult(task, status, body, false);
}

} // namespace microblog
