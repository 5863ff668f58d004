// A microblog service on a scratch host runtime, registered as the plug-in registers it, with a
// window stand-in that records what the service asks of the panels.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/global_helper.h"
#include "service/microblog_service.h"
#include "service/service_view.h"
#include "tests/support/test_env.h"

namespace servicetest {

struct RecordingView : microblog::ServiceView {
    void ShowInHost() override { calls.push_back("ShowInHost"); }
    void RefreshTimeline() override { calls.push_back("RefreshTimeline"); }
    void ShowPage(const std::string& path) override { calls.push_back("ShowPage " + path); }
    void ShowActivationRefusal(int status, const std::string& message) override {
        calls.push_back("ShowActivationRefusal " + std::to_string(status) + " " + message);
    }
    void ShowConfigForm() override { calls.push_back("ShowConfigForm"); }
    void ShowPublishForm(const std::string& kind) override { calls.push_back("ShowPublishForm " + kind); }
    void ShowReplyForm(const std::string& kind, const std::string& id, const std::string& text) override {
        calls.push_back("ShowReplyForm " + kind + " " + id + " " + text);
    }
    void DestroyConfigForm() override { calls.push_back("DestroyConfigForm"); }
    std::vector<std::string> calls;
};

class ServiceTest : public ::testing::Test {
protected:
    explicit ServiceTest(std::string account = "demo@velmora.com", std::string password = "demo123")
        : account_(std::move(account)), password_(std::move(password)) {}

    void SetUp() override { host_ = std::make_unique<testenv::HostRuntime>(account_, password_); }
    void TearDown() override {
        Unload();
        host_.reset();
    }

    // Creates and registers a service (the host runs its OnLoad), as the plug-in's load does.
    template <class Service = microblog::MicroBlogService> Service* Load() {
        auto* service = new Service(&host_->core());
        service->SetWindow(&view_);
        host_->core().RegisterService(service);
        service_ = service;
        return service;
    }
    void Unload() {
        if (service_ == nullptr)
            return;
        host_->core().WaitIdle(30000);
        host_->core().UnregisterService(service_);
        service_->Release();
        service_ = nullptr;
    }
    tavi::Property Stored() {
        tavi::Property stored;
        host_->core().LoadUserData("microblog", account_, stored);
        return stored;
    }

    std::string account_;
    std::string password_;
    std::unique_ptr<testenv::HostRuntime> host_;
    RecordingView view_;
    microblog::MicroBlogService* service_ = nullptr;
};

} // namespace servicetest
