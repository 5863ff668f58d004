// A microblog service that records what the panels ask of it instead of asking the network, for
// the panels' unit tests.
#pragma once

#include <string>
#include <vector>

#include "service/microblog_service.h"
#include "service/settings.h"

namespace panelstest {

class RecordingService : public microblog::MicroBlogService {
public:
    using MicroBlogService::MicroBlogService;

    // What was asked, one line each: "reply retweet 123", "favorite+ 5", "favorite- 5", "delete 9",
    // "home 50", "mentions 50", "verify", "login ACCOUNT".
    std::vector<std::string> calls;
    bool signedIn = false;

    unsigned GetState() override {
        return MicroBlogService::GetState() | (signedIn ? microblog::kStateSignedIn : 0u);
    }
    void ShowReplyForm(std::string kind, std::string id, std::string /*text*/) override {
        calls.push_back("reply " + kind + " " + id);
    }
    int RequestCreateFavorite(Callback /*callback*/, std::string id) override {
        calls.push_back("favorite+ " + id);
        return 1;
    }
    int RequestDestroyFavorite(std::string id, Callback /*callback*/) override {
        calls.push_back("favorite- " + id);
        return 1;
    }
    int RequestDestroyStatus(std::string id, Callback /*callback*/) override {
        calls.push_back("delete " + id);
        return 1;
    }
    int RequestHomeTimeline(int count, Callback /*callback*/) override {
        calls.push_back("home " + std::to_string(count));
        return 1;
    }
    int RequestMentions(int count, Callback /*callback*/) override {
        calls.push_back("mentions " + std::to_string(count));
        return 1;
    }
    int RequestVerifyCredentials(Callback /*callback*/) override {
        calls.push_back("verify");
        return 1;
    }
    int RequestLogin(std::string account, std::string /*password*/, Callback /*callback*/) override {
        calls.push_back("login " + account);
        return 1;
    }
};

} // namespace panelstest
