#include "devserver/mbservice/api_routes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "devserver/mbservice/text_codec.h"
#include "devserver/mbservice/web_pages.h"

namespace mbservice {

namespace {

using Params = std::map<std::string, std::string>;

// What an endpoint asks of the caller: the token exchange is signed without a token; activation
// needs a token; everything else needs a token of an account that has a microblog.
enum class Access { Exchange, Account, Microblog };

struct ApiCall {
    const httplib::Request* http = nullptr;
    Params params;
    std::int64_t accountId = 0;
    std::string consumerKey;
    std::optional<UserRecord> me;

    std::string Param(const std::string& name) const {
        const auto found = params.find(name);
        return found == params.end() ? std::string() : found->second;
    }
    std::string Source() const {
        const std::string from = Param("keyfrom");
        return from.empty() ? std::string("api") : from;
    }
};

using Handler = std::function<ApiReply(ApiCall&)>;

std::string LowerAscii(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    return text;
}

bool ParseWhole(const std::string& text, std::int64_t& out) {
    if (text.empty() || text.size() > 19)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0')
        return false;
    out = value;
    return true;
}

// A whole-number parameter; absent gives fallback. Anything else than a number from low to high is a 400.
std::optional<ApiReply> NumberParam(const ApiCall& call, const std::string& name, std::int64_t fallback,
                                    std::int64_t low, std::int64_t high, std::int64_t& out) {
    const auto found = call.params.find(name);
    if (found == call.params.end()) {
        out = fallback;
        return std::nullopt;
    }
    if (!ParseWhole(found->second, out) || out < low || out > high)
        return ErrorReply(400, name + " must be a whole number from " + std::to_string(low) + " to " +
                                   std::to_string(high));
    return std::nullopt;
}

std::optional<ApiReply> FlagParam(const ApiCall& call, const std::string& name, bool& out) {
    std::int64_t value = 0;
    if (auto problem = NumberParam(call, name, 0, INT32_MIN, INT32_MAX, value))
        return problem;
    out = value != 0;
    return std::nullopt;
}

bool IsStatusId(const std::string& text) {
    return !text.empty() && text.size() <= 18 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The status id of a call: from the path where the endpoint has one there (then an id parameter
// must name the same status), else from the id parameter.
std::optional<ApiReply> StatusIdParam(const ApiCall& call, bool inPath, std::int64_t& out) {
    const std::string fromBody = call.Param("id");
    const bool bodyHasId = call.params.count("id") > 0;
    std::string id = fromBody;
    if (inPath) {
        id = call.http->matches.size() > 1 ? std::string(call.http->matches[1]) : std::string();
        if (bodyHasId && fromBody != id)
            return ErrorReply(400, "the id in the path and the id parameter name different statuses");
    } else if (!bodyHasId) {
        return ErrorReply(400, "missing parameter id");
    }
    if (!IsStatusId(id))
        return ErrorReply(400, "id must be a status id (digits only)");
    out = std::strtoll(id.c_str(), nullptr, 10);
    return std::nullopt;
}

void SendJson(httplib::Response& res, const httplib::Request& req, ApiReply reply) {
    if (reply.status != 200 && reply.body.is_object() && reply.body.contains("error"))
        reply.body["request"] = req.path;
    res.status = reply.status;
    if (!reply.text.empty()) {
        res.set_content(reply.text, "application/json; charset=utf-8");
        return;
    }
    res.set_content(reply.body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                    "application/json; charset=utf-8");
}

class ApiRouter {
public:
    ApiRouter(Microblog& microblog, RouteSettings settings)
        : microblog_(microblog), verifier_(microblog), settings_(settings) {}

    // Reads and verifies a request; a refused one gets its reply here and no call.
    std::optional<ApiCall> Admit(const httplib::Request& req, httplib::Response& res, Access access) {
        SignedRequest request;
        std::string error;
        if (!ReadSignedRequest(req, request, error, settings_.secure)) {
            SendJson(res, req, ErrorReply(400, error));
            return std::nullopt;
        }
        ApiCall call;
        call.http = &req;
        for (const FormPair& param : request.params) {
            if (!IsValidUtf8(param.name) || !IsValidUtf8(param.value) ||
                param.value.find('\0') != std::string::npos) {
                SendJson(res, req, ErrorReply(400, "parameter " + param.name + " is not UTF-8 text"));
                return std::nullopt;
            }
            if (param.name.rfind("oauth_", 0) == 0)
                continue;
            if (!call.params.emplace(param.name, param.value).second) {
                SendJson(res, req, ErrorReply(400, "parameter " + param.name + " is given more than once"));
                return std::nullopt;
            }
        }
        OAuthVerdict verdict = verifier_.Verify(request, access != Access::Exchange);
        if (!verdict.Accepted()) {
            res.status = verdict.HttpStatus();
            res.set_header("WWW-Authenticate", "OAuth realm=\"" + microblog_.Urls().ApiRoot() + "\"");
            res.set_content(verdict.ReplyBody(), "application/x-www-form-urlencoded");
            return std::nullopt;
        }
        call.consumerKey = verdict.consumerKey;
        call.accountId = verdict.token ? verdict.token->accountId : 0;
        if (access == Access::Microblog) {
            call.me = microblog_.FindUser(call.accountId);
            if (!call.me) {
                SendJson(res, req, ErrorReply(403, kNoMicroblogYet));
                return std::nullopt;
            }
        }
        return call;
    }

    void Serve(const httplib::Request& req, httplib::Response& res, Access access, const Handler& handler) {
        std::optional<ApiCall> call = Admit(req, res, access);
        if (call)
            SendJson(res, req, handler(*call));
    }

    // The xAuth exchange: the password comes as the settings keep it, the hexadecimal MD5.
    void AccessToken(const httplib::Request& req, httplib::Response& res) {
        std::optional<ApiCall> call = Admit(req, res, Access::Exchange);
        if (!call)
            return;
        auto text = [&res](int status, const std::string& body) {
            res.status = status;
            res.set_content(body, "text/plain; charset=utf-8");
        };
        const std::string user = call->Param("x_auth_username");
        const std::string password = call->Param("x_auth_password");
        if (user.empty() || password.empty())
            return text(400, "x_auth_username and x_auth_password are required");
        if (call->Param("x_auth_mode") != "client_auth")
            return text(400, "x_auth_mode must be client_auth");
        if (call->params.count("x_auth_passtype") > 0 && call->Param("x_auth_passtype") != "0")
            return text(400, "x_auth_passtype must be 0: x_auth_password carries the MD5 of the password");
        const auto token = microblog_.SignIn(user, password, call->consumerKey);
        if (!token)
            return text(401, "oauth_problem=permission_denied");
        std::string body = "oauth_token=" + OAuthEscape(token->token) +
                           "&oauth_token_secret=" + OAuthEscape(token->secret) +
                           "&user_id=" + std::to_string(token->accountId);
        if (const auto me = microblog_.FindUser(token->accountId))
            body += "&screen_name=" + OAuthEscape(me->screenName);
        res.status = 200;
        res.set_content(body, "application/x-www-form-urlencoded");
    }

    void Register(httplib::Server& server, const std::shared_ptr<ApiRouter>& self) {
        auto get = [&server, self](const char* pattern, Access access, const Handler& handler) {
            server.Get(pattern, [self, access, handler](const httplib::Request& req, httplib::Response& res) {
                self->Serve(req, res, access, handler);
            });
        };
        auto post = [&server, self](const char* pattern, Access access, const Handler& handler) {
            server.Post(pattern,
                        [self, access, handler](const httplib::Request& req, httplib::Response& res) {
                            self->Serve(req, res, access, handler);
                        });
        };
        Microblog* mb = &microblog_;

        auto exchange = [self](const httplib::Request& req, httplib::Response& res) {
            self->AccessToken(req, res);
        };
        server.Get("/oauth/access_token", exchange);
        server.Post("/oauth/access_token", exchange);

        get("/account/verify_credentials.json", Access::Microblog,
            [mb](ApiCall& call) { return mb->VerifyCredentials(*call.me); });
        auto timeline = [mb](bool home) {
            return [mb, home](ApiCall& call) {
                std::int64_t count = 0;
                std::int64_t sinceId = 0;
                std::int64_t maxId = 0;
                if (auto problem = NumberParam(call, "count", 20, 1, kMaxTimelineCount, count))
                    return *problem;
                if (auto problem = NumberParam(call, "since_id", 0, 0, INT64_MAX, sinceId))
                    return *problem;
                if (auto problem = NumberParam(call, "max_id", 0, 0, INT64_MAX, maxId))
                    return *problem;
                const int n = static_cast<int>(count);
                return home ? mb->HomeTimeline(*call.me, n, sinceId, maxId)
                            : mb->Mentions(*call.me, n, sinceId, maxId);
            };
        };
        get("/statuses/home_timeline.json", Access::Microblog, timeline(true));
        get("/statuses/mentions.json", Access::Microblog, timeline(false));
        post("/statuses/update.json", Access::Microblog,
             [mb](ApiCall& call) { return mb->Update(*call.me, call.Param("status"), call.Source()); });
        post(R"(/statuses/retweet/([^/]+)\.json)", Access::Microblog, [mb](ApiCall& call) {
            std::int64_t id = 0;
            bool alsoComment = false;
            bool alsoRoot = false;
            if (auto problem = StatusIdParam(call, true, id))
                return *problem;
            if (auto problem = FlagParam(call, "is_comment", alsoComment))
                return *problem;
            if (auto problem = FlagParam(call, "is_comment_to_root", alsoRoot))
                return *problem;
            return mb->Retweet(*call.me, id, call.Param("status"), alsoComment, alsoRoot, call.Source());
        });
        post("/statuses/reply.json", Access::Microblog, [mb](ApiCall& call) {
            std::int64_t id = 0;
            bool alsoRetweet = false;
            bool alsoRoot = false;
            if (auto problem = StatusIdParam(call, false, id))
                return *problem;
            if (auto problem = FlagParam(call, "is_retweet", alsoRetweet))
                return *problem;
            if (auto problem = FlagParam(call, "is_comment_to_root", alsoRoot))
                return *problem;
            return mb->Reply(*call.me, id, call.Param("status"), alsoRetweet, alsoRoot, call.Source());
        });
        auto byId = [mb](ApiReply (Microblog::*operation)(const UserRecord&, std::int64_t)) {
            return [mb, operation](ApiCall& call) {
                std::int64_t id = 0;
                if (auto problem = StatusIdParam(call, true, id))
                    return *problem;
                return (mb->*operation)(*call.me, id);
            };
        };
        post(R"(/statuses/destroy/([^/]+)\.json)", Access::Microblog, byId(&Microblog::Destroy));
        post(R"(/favorites/create/([^/]+)\.json)", Access::Microblog, byId(&Microblog::CreateFavorite));
        post(R"(/favorites/destroy/([^/]+)\.json)", Access::Microblog, byId(&Microblog::DestroyFavorite));
        post("/account/update_profile.json", Access::Microblog,
             [mb](ApiCall& call) { return mb->UpdateProfile(*call.me, call.Param("nick_name")); });
        const bool refuse = settings_.refuseActivation;
        post("/account/activate.json", Access::Account, [mb, refuse](ApiCall& call) {
            return mb->Activate(call.accountId, call.Param("nick_name"), refuse);
        });
        get("/reminds/message/latest.json", Access::Microblog,
            [mb](ApiCall& call) { return mb->Reminds(*call.me); });

        RegisterSite(server);
    }

private:
    void RegisterSite(httplib::Server& server) {
        Microblog* mb = &microblog_;
        server.Get("/", [mb](const httplib::Request&, httplib::Response& res) {
            res.set_content("mbservice: the local microblog service. REST interface at " +
                                mb->Urls().ApiRoot() + ", user pages at " + mb->Urls().WebRoot() +
                                "/SCREEN_NAME\n",
                            "text/plain; charset=utf-8");
        });
        server.Get(R"(/web/([A-Za-z0-9_]+))", [mb](const httplib::Request& req, httplib::Response& res) {
            const auto profile = mb->PublicProfile(std::string(req.matches[1]));
            if (!profile) {
                res.status = 404;
                res.set_content("<!DOCTYPE html><html><body><p>没有这个用户</p></body></html>\n",
                                "text/html; charset=utf-8");
                return;
            }
            res.set_content(RenderUserPage(*profile), "text/html; charset=utf-8");
        });
        server.Get(R"(/p/([A-Za-z0-9]+))", [mb](const httplib::Request& req, httplib::Response& res) {
            const auto picture = mb->FindPicture(std::string(req.matches[1]));
            if (!picture) {
                res.status = 404;
                res.set_content("no such picture\n", "text/plain; charset=utf-8");
                return;
            }
            res.set_content(RenderPicture(picture->caption, picture->color, 320, 200), "image/svg+xml");
        });
        server.Get(R"(/avatar/([0-9]{1,18})\.svg)", [mb](const httplib::Request& req,
                                                         httplib::Response& res) {
            const auto user = mb->FindUser(std::strtoll(std::string(req.matches[1]).c_str(), nullptr, 10));
            if (!user) {
                res.status = 404;
                res.set_content("no such user\n", "text/plain; charset=utf-8");
                return;
            }
            static constexpr const char* colors[] = {"#3b7dd8", "#d8703b", "#3bd87a", "#a03bd8", "#d83b5e"};
            const std::vector<char32_t> name = DecodeUtf8(user->name);
            std::string initial = user->name.substr(0, user->name.empty() ? 0 : 1);
            if (!name.empty() && name.front() >= 0x80)
                initial = user->name.substr(0, 3);
            res.set_content(RenderPicture(initial, colors[user->id % 5], 96, 96), "image/svg+xml");
        });
    }

    Microblog& microblog_;
    OAuthVerifier verifier_;
    RouteSettings settings_;
};

} // namespace

bool ReadSignedRequest(const httplib::Request& request, SignedRequest& out, std::string& error, bool secure) {
    const std::string& target = request.target;
    if (target.empty() || target.front() != '/') {
        error = "the request target must be a path";
        return false;
    }
    const std::size_t question = target.find('?');
    const std::string rawPath = target.substr(0, question);
    const std::string rawQuery = question == std::string::npos ? std::string() : target.substr(question + 1);

    std::string host = LowerAscii(request.get_header_value("Host"));
    if (host.empty()) {
        error = "the Host header is missing";
        return false;
    }
    const bool hostChars = std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == ':' ||
               c == '[' || c == ']';
    });
    if (!hostChars || host.size() > 255) {
        error = "the Host header is malformed";
        return false;
    }
    const std::size_t bracket = host.rfind(']');
    const std::size_t colon = host.rfind(':');
    const bool namesPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    const std::string defaultPort = secure ? "443" : "80";
    if (namesPort && host.compare(colon + 1, std::string::npos, defaultPort) == 0)
        host.erase(colon);
    else if (!namesPort && request.local_port > 0 && std::to_string(request.local_port) != defaultPort)
        host += ":" + std::to_string(request.local_port);

    out.method = request.method;
    out.baseUri = (secure ? "https://" : "http://") + host + rawPath;
    out.params.clear();
    if (!ParseFormText(rawQuery, out.params, error))
        return false;
    const std::string contentType = LowerAscii(request.get_header_value("Content-Type"));
    if (request.method == "POST" && contentType.rfind("application/x-www-form-urlencoded", 0) == 0 &&
        !ParseFormText(request.body, out.params, error))
        return false;
    return true;
}

void RegisterRoutes(httplib::Server& server, Microblog& microblog, RouteSettings settings) {
    auto router = std::make_shared<ApiRouter>(microblog, settings);
    router->Register(server, router);
}

} // namespace mbservice
