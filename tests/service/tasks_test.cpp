// Every request reaches its worker on a worker thread with its arguments in order, and the
// service's own activation handler does what each reply calls for.
#include <functional>
#include <mutex>
#include <thread>

#include "host/common.h"
#include "runtime/common/runtime_settings.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/settings.h"
#include "tests/service/service_fixture.h"

namespace {

using namespace microblog;
using servicetest::ServiceTest;

// Records each worker call; no network.
struct RecordingService : MicroBlogService {
    using MicroBlogService::MicroBlogService;
    void Record(const std::string& call, tavi::ITaskClass* task) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        onWorker = onWorker && !tavi::runtime::UiLoop::Instance().IsUiThread();
        (void)task;
    }
    void RunSyncSettings(tavi::ITaskClass* t) override { Record("RunSyncSettings", t); }
    void RunUploadSettings(tavi::ITaskClass* t, tavi::Property p) override {
        Record("RunUploadSettings " + p.GetString(kKeyAccount), t);
    }
    void RunLogin(tavi::ITaskClass* t, std::string a, std::string p) override { Record("RunLogin " + a + " " + p, t); }
    void RunVerifyCredentials(tavi::ITaskClass* t) override { Record("RunVerifyCredentials", t); }
    void RunHomeTimeline(tavi::ITaskClass* t, int c) override { Record("RunHomeTimeline " + std::to_string(c), t); }
    void RunMentions(tavi::ITaskClass* t, int c) override { Record("RunMentions " + std::to_string(c), t); }
    void RunUpdateStatus(tavi::ITaskClass* t, std::string s) override { Record("RunUpdateStatus " + s, t); }
    void RunRetweet(std::string id, std::string s, int c, int r, tavi::ITaskClass* t) override {
        Record("RunRetweet " + id + " " + s + " " + std::to_string(c) + " " + std::to_string(r), t);
    }
    void RunReply(std::string id, std::string s, int c, int r, tavi::ITaskClass* t) override {
        Record("RunReply " + id + " " + s + " " + std::to_string(c) + " " + std::to_string(r), t);
    }
    void RunCreateFavorite(tavi::ITaskClass* t, std::string id) override { Record("RunCreateFavorite " + id, t); }
    void RunDestroyFavorite(tavi::ITaskClass* t, std::string id) override { Record("RunDestroyFavorite " + id, t); }
    void RunLatestReminds(tavi::ITaskClass* t) override { Record("RunLatestReminds", t); }
    void RunDestroyStatus(tavi::ITaskClass* t, std::string id) override { Record("RunDestroyStatus " + id, t); }
    void RunUpdateProfile(tavi::ITaskClass* t, std::string n) override { Record("RunUpdateProfile " + n, t); }
    void RunActivateAccount(tavi::ITaskClass* t, std::string n) override { Record("RunActivateAccount " + n, t); }

    // Fills the activation error document as a refused activation would.
    void SetActivationError(const std::string& body) { activationErrorDocument_.Parse(body); }

    std::mutex mutex;
    std::vector<std::string> calls;
    bool onWorker = true;
};

struct Sink {
    void OnResult(tavi::ITavi*, tavi::IAsync_CallbackParam*) {}
};

TEST_F(ServiceTest, EachRequestReachesItsWorkerWithItsArgumentsInOrder) {
    auto* service = Load<RecordingService>();
    Sink sink;
    IMicroBlogService::Callback cb(&sink, &Sink::OnResult);
    tavi::Property settings;
    settings.SetString(kKeyAccount, "up@velmora.com");

    struct Case {
        std::function<int()> request;
        std::string expected;
    } cases[] = {
        {[&] { return service->RequestSyncSettings(); }, "RunSyncSettings"},
        {[&] {
             service->SaveSettings(settings);
             return 1;
         },
         "RunUploadSettings up@velmora.com"},
        {[&] { return service->RequestLogin("a@velmora.com", "pw", cb); }, "RunLogin a@velmora.com pw"},
        {[&] { return service->RequestVerifyCredentials(cb); }, "RunVerifyCredentials"},
        {[&] { return service->RequestHomeTimeline(20, cb); }, "RunHomeTimeline 20"},
        {[&] { return service->RequestMentions(7, cb); }, "RunMentions 7"},
        {[&] { return service->RequestUpdateStatus("hello", cb); }, "RunUpdateStatus hello"},
        {[&] { return service->RequestRetweet(cb, "123", "rt", 1, 0); }, "RunRetweet 123 rt 1 0"},
        {[&] { return service->RequestReply(cb, "456", "re", 0, 1); }, "RunReply 456 re 0 1"},
        {[&] { return service->RequestCreateFavorite(cb, "7"); }, "RunCreateFavorite 7"},
        {[&] { return service->RequestDestroyFavorite("8", cb); }, "RunDestroyFavorite 8"},
        {[&] { return service->RequestLatestReminds(cb); }, "RunLatestReminds"},
        {[&] { return service->RequestDestroyStatus("9", cb); }, "RunDestroyStatus 9"},
        {[&] { return service->RequestUpdateProfile("nick", cb); }, "RunUpdateProfile nick"},
        {[&] { return service->RequestActivateAccount("nick2", cb); }, "RunActivateAccount nick2"},
        {[&] { return service->ActivateAccount("nick3"); }, "RunActivateAccount nick3"},
    };
    for (const Case& c : cases) {
        {
            std::lock_guard<std::mutex> lock(service->mutex);
            service->calls.clear();
        }
        EXPECT_EQ(c.request(), 1) << c.expected;
        ASSERT_TRUE(host_->core().WaitIdle(10000));
        std::lock_guard<std::mutex> lock(service->mutex);
        EXPECT_EQ(service->calls, std::vector<std::string>{c.expected});
    }
    EXPECT_TRUE(service->onWorker);
}

TEST_F(ServiceTest, RequestLoginDropsTheSignedInBitAtOnce) {
    auto* service = Load<RecordingService>();
    Sink sink;
    service->SetAccount("a@velmora.com", "p", 1); // bound
    EXPECT_EQ(service->GetState(), kStateBound);
    service->RequestLogin("a@velmora.com", "p", IMicroBlogService::Callback(&sink, &Sink::OnResult));
    EXPECT_EQ(service->GetState() & kStateSignedIn, 0u);
}

// A worker that answers as the real ones do: one result record for the task's callback.
struct AnsweringService : RecordingService {
    using RecordingService::RecordingService;
    void RunHomeTimeline(tavi::ITaskClass* t, int c) override {
        RecordingService::RunHomeTimeline(t, c);
        t->InvokeUICallBack(new MicroBlogResult(200, ""));
    }
};

struct CountingSink {
    void OnResult(tavi::ITavi*, tavi::IAsync_CallbackParam*) { ++results; }
    int results = 0;
};

TEST_F(ServiceTest, TaskRunAfterUnloadCallsNothing) {
    auto* service = Load<AnsweringService>();
    CountingSink sink;
    IMicroBlogService::Callback callback(&sink, &CountingSink::OnResult);
    // Loaded, the same request reaches the worker and its answer the callback.
    service->RequestHomeTimeline(50, callback);
    ASSERT_TRUE(host_->core().WaitIdle(10000));
    ASSERT_EQ(sink.results, 1);
    ASSERT_EQ(service->calls.size(), 1u);

    host_->core().UnregisterService(service);
    service->RequestHomeTimeline(50, callback);
    service->RequestSyncSettings();
    ASSERT_TRUE(host_->core().WaitIdle(10000));
    EXPECT_EQ(service->calls.size(), 1u) << "a worker ran after the unload";
    EXPECT_EQ(sink.results, 1) << "a callback ran after the unload";
    service->Release();
    service_ = nullptr;
}

struct ActivationCase {
    const char* name;
    int status;
    const char* errorUtf8; // null: no reply document
    const char* expected;  // the call the window sees last, or "" for none
    bool binds;
};

class ActivationResult : public ServiceTest, public ::testing::WithParamInterface<ActivationCase> {};

TEST_P(ActivationResult, DoesWhatTheReplyCallsFor) {
    const ActivationCase& c = GetParam();
    tavi::runtime::LoadStringTable(std::string(TAVI_SOURCE_DIR) + "/resources/microblog/stringid.ini");
    auto* service = Load<RecordingService>();
    if (c.errorUtf8)
        service->SetActivationError(std::string("{\"error\":\"") + c.errorUtf8 + "\",\"error_code\":40001}");
    view_.calls.clear();
    auto* record = new MicroBlogResult(c.status, "");
    service->OnActivateAccountResult(&host_->core(), record);
    record->Release();
    std::string expected = c.expected;
    if (expected.rfind("STRID_", 0) == 0)
        expected = "ShowActivationRefusal 400 " + tavi::CMutiLanSupport::GetStringViaID(expected);
    else if (expected == "403")
        expected = "ShowActivationRefusal 403 " + FixedText(c.errorUtf8);
    if (expected.empty())
        EXPECT_TRUE(view_.calls.empty()) << view_.calls.front();
    else
        EXPECT_EQ(view_.calls, std::vector<std::string>{expected});
    EXPECT_EQ((service->GetState() & kStateBound) != 0, c.binds);
    EXPECT_EQ(Stored().GetInteger(kKeyBound), c.binds ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, ActivationResult,
    ::testing::Values(
        ActivationCase{"InvalidNickName", 400, "昵称格式不合法", "STRID_MB_STARTPANEL_ACCOUNTNOTICE_FEIFA", false},
        ActivationCase{"TakenNickName", 400, "昵称已被占用", "STRID_MB_STARTPANEL_ACCOUNTNOTICE", false},
        ActivationCase{"NoReplyText", 400, nullptr, "", false},
        ActivationCase{"CreateFailed", 403, "创建微博用户失败", "403", false},
        ActivationCase{"OtherRefusal", 403, "其他错误", "", false},
        ActivationCase{"Created", 200, nullptr, "RefreshTimeline", true},
        ActivationCase{"ServerError", 500, nullptr, "RefreshTimeline", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServiceTest, ActivationResultWithoutARecordOrCoreDoesNothing) {
    auto* service = Load<RecordingService>();
    view_.calls.clear();
    service->OnActivateAccountResult(&host_->core(), nullptr);
    auto* record = new MicroBlogResult(200, "");
    service->OnActivateAccountResult(nullptr, record);
    record->Release();
    EXPECT_TRUE(view_.calls.empty());
    EXPECT_EQ(service->GetState(), 0u);
}

} // namespace
