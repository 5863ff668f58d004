// Another user of the microblog, for the panels' end-to-end tests: the plug-in's own service in this
// process, signed in to the local service, posting and commenting while a tavi session watches.
#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "service/microblog_result.h"
#include "service/microblog_service.h"
#include "tests/support/test_env.h"

namespace panelstest {

class OtherUser {
public:
    // Signs in as the account (password as typed) to the service at apiRoot.
    OtherUser(const std::string& account, const std::string& password, const std::string& apiRoot)
        : host_(account, password) {
        testenv::WriteFile(host_.appDir() + "/plugin/microblog/deploy.ini", "api_root=" + apiRoot + "\n");
        service_ = new microblog::MicroBlogService(&host_.core());
        host_.core().RegisterService(service_);
        std::string name, credential;
        service_->GetAccount(name, credential);
        // The nonce of the access-token exchange restarts with every process and the service
        // remembers (timestamp, nonce) pairs of the plug-in's consumer key: a sign-in in the same
        // second as the tavi session's would be refused as a replay. This one waits for the next
        // second of the clock (as time() reads it: a coarse clock that may lag the precise one).
        const std::time_t started = std::time(nullptr);
        const auto bound = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::time(nullptr) == started && std::chrono::steady_clock::now() < bound)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        signedIn_ = Await([&](microblog::MicroBlogService::Callback done) {
                        service_->RequestLogin(name, credential, done);
                    }) == 200;
    }
    ~OtherUser() {
        host_.core().WaitIdle(30000);
        host_.core().UnregisterService(service_);
        service_->Release();
    }
    OtherUser(const OtherUser&) = delete;
    OtherUser& operator=(const OtherUser&) = delete;

    bool SignedIn() const { return signedIn_; }

    // The HTTP status of a new status with the text (UTF-8).
    int Post(const std::string& text) {
        return Await([&](microblog::MicroBlogService::Callback done) {
            service_->RequestUpdateStatus(tavi::utf8_to_CString(text), done);
        });
    }
    // The HTTP status of a comment on the status.
    int Comment(const std::string& statusId, const std::string& text) {
        return Await([&](microblog::MicroBlogService::Callback done) {
            service_->RequestReply(done, statusId, tavi::utf8_to_CString(text), 0, 0);
        });
    }

private:
    struct Reply {
        int status = 0;
        bool arrived = false;
        void OnResult(tavi::ITavi* /*core*/, tavi::IAsync_CallbackParam* record) {
            const microblog::MicroBlogResult* result = microblog::AsResult(record);
            status = result ? result->status : -2;
            arrived = true;
        }
    };

    template <class Request> int Await(Request request) {
        Reply reply;
        request(microblog::MicroBlogService::Callback(&reply, &Reply::OnResult));
        EXPECT_TRUE(host_.RunUntil([&] { return reply.arrived; }, 30000)) << "no reply from the service";
        return reply.status;
    }

    testenv::HostRuntime host_;
    microblog::MicroBlogService* service_ = nullptr;
    bool signedIn_ = false;
};

} // namespace panelstest
