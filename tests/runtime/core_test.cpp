// The host core's promises: tasks, result callbacks, delayed calls, per-user data and watchers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "host/global_helper.h"
#include "host/services.h"
#include "runtime/core/host_services.h"
#include "runtime/core/ui_loop.h"
#include "tests/support/test_env.h"

namespace {

using tavi::IAsync_CallbackParam;
using tavi::ITavi;
using tavi::Property;

// Counts releases of records and tasks so that the tests see who freed what.
std::atomic<int> recordsReleased{0};
std::atomic<int> tasksReleased{0};

struct CountedRecord : IAsync_CallbackParam {
    explicit CountedRecord(int v) : value(v) {}
    void Release() override {
        ++recordsReleased;
        delete this;
    }
    int value;
};

struct Receiver {
    void OnResult(ITavi* core, IAsync_CallbackParam* record) {
        calls++;
        lastCore = core;
        lastValue = record ? static_cast<CountedRecord*>(record)->value : -1;
        onUiThread = tavi::runtime::UiLoop::Instance().IsUiThread();
        releasedBeforeCallback = recordsReleased.load();
    }
    int calls = 0;
    ITavi* lastCore = nullptr;
    int lastValue = 0;
    bool onUiThread = false;
    int releasedBeforeCallback = -1;
};

class RecordingTask : public tavi::ITaskClass {
public:
    RecordingTask(ITavi* core, tavi::TaskCallback callback, std::atomic<int>* runs, std::thread::id* runThread)
        : ITaskClass(core, callback), runs_(runs), runThread_(runThread) {}
    void Run() override {
        ++*runs_;
        *runThread_ = std::this_thread::get_id();
        InvokeUICallBack(new CountedRecord(42));
    }
    void Release() override {
        ++tasksReleased;
        delete this;
    }

private:
    std::atomic<int>* runs_;
    std::thread::id* runThread_;
};

TEST(CoreTasks, TaskRunsOnceOnAWorkerAndItsCallbackRunsOnTheUiThreadBeforeTheRecordIsReleased) {
    testenv::HostRuntime host;
    Receiver receiver;
    std::atomic<int> runs{0};
    std::thread::id runThread;
    int tasksBefore = tasksReleased, recordsBefore = recordsReleased;

    ASSERT_EQ(host.core().PostTask(new RecordingTask(&host.core(), tavi::TaskCallback(&receiver, &Receiver::OnResult),
                                                     &runs, &runThread),
                                   0),
              1);
    ASSERT_TRUE(host.core().WaitIdle(10000));

    EXPECT_EQ(runs.load(), 1);
    EXPECT_NE(runThread, std::this_thread::get_id());
    EXPECT_EQ(tasksReleased - tasksBefore, 1);
    EXPECT_EQ(receiver.calls, 1);
    EXPECT_EQ(receiver.lastCore, &host.core());
    EXPECT_EQ(receiver.lastValue, 42);
    EXPECT_TRUE(receiver.onUiThread);
    EXPECT_EQ(receiver.releasedBeforeCallback, recordsBefore);
    EXPECT_EQ(recordsReleased - recordsBefore, 1);
}

TEST(CoreTasks, NullTaskIsRefused) {
    testenv::HostRuntime host;
    EXPECT_EQ(host.core().PostTask(nullptr, 0), 0);
    EXPECT_EQ(host.core().ActiveTasks(), 0);
}

// Tasks that throw: the packet layer's errors by pointer, ordinary exceptions and anything else.
class ThrowingTask : public tavi::ITaskClass {
public:
    enum Kind { kPackError, kUnpackError, kStdException, kOther };
    ThrowingTask(ITavi* core, Kind kind, std::string* message) : ITaskClass(core), kind_(kind), message_(message) {}
    void Run() override {
        switch (kind_) {
        case kPackError:
            throw new tavi::PackError("key too big");
        case kUnpackError: {
            tavi::Unpack empty("", 0);
            empty.pop_uint32();
            break;
        }
        case kStdException:
            throw std::runtime_error("broken");
        case kOther:
            throw 7;
        }
    }
    void OnException(const std::string& message) override { *message_ = message; }
    void Release() override {
        ++tasksReleased;
        delete this;
    }

private:
    Kind kind_;
    std::string* message_;
};

TEST(CoreTasks, ThrowingTasksAreReportedReleasedAndLeaveTheWorkersRunning) {
    testenv::HostRuntime host;
    struct Case {
        ThrowingTask::Kind kind;
        const char* message;
    } cases[] = {{ThrowingTask::kPackError, "key too big"},
                 {ThrowingTask::kUnpackError, "pop_uint32: not enough data"},
                 {ThrowingTask::kStdException, "broken"},
                 {ThrowingTask::kOther, "unknown exception"}};
    for (const Case& c : cases) {
        std::string message;
        int before = tasksReleased;
        host.core().PostTask(new ThrowingTask(&host.core(), c.kind, &message), 0);
        ASSERT_TRUE(host.core().WaitIdle(10000));
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(tasksReleased - before, 1);
    }
    // The pool still runs work after all of that (leaks of the thrown errors show in the
    // sanitizer build).
    Receiver receiver;
    std::atomic<int> runs{0};
    std::thread::id runThread;
    host.core().PostTask(new RecordingTask(&host.core(), tavi::TaskCallback(&receiver, &Receiver::OnResult), &runs,
                                           &runThread),
                         0);
    ASSERT_TRUE(host.core().WaitIdle(10000));
    EXPECT_EQ(receiver.calls, 1);
}

TEST(CoreCallbacks, CallbackWithoutAReceiverStillReleasesTheRecord) {
    testenv::HostRuntime host;
    int before = recordsReleased;
    host.core().InvokeUICallBack(tavi::TaskCallback(), new CountedRecord(1));
    host.loop().RunUntilIdle();
    EXPECT_EQ(recordsReleased - before, 1);
}

struct Ticker {
    void Tick() {
        ticks++;
        at = tavi::runtime::UiLoop::Instance().Now();
    }
    virtual void Tock() { tocks++; }
    virtual ~Ticker() = default;
    int ticks = 0;
    int tocks = 0;
    std::int64_t at = -1;
};

struct LoudTicker : Ticker {
    void Tock() override { tocks += 10; }
};

// Work that ends (on a worker) just after the loop looked at its condition, and before the loop
// waits, must still end the wait at once: the host's "wait" would otherwise sleep a whole step
// after every task. The end is simulated from inside the condition, right after its look.
TEST(UiLoopWait, WorkEndingBetweenTheLookAndTheWaitIsNotSleptThrough) {
    tavi::runtime::UiLoop loop;
    loop.AddOutstanding(1);
    int looks = 0;
    bool held = loop.RunUntil(
        [&] {
            ++looks;
            if (loop.Outstanding() == 0)
                return true;
            std::thread([&loop] { loop.AddOutstanding(-1); }).join();
            return false;
        },
        60000);
    EXPECT_TRUE(held);
    EXPECT_EQ(looks, 2);
    EXPECT_EQ(loop.WaitsSleptThrough(), 0u);
}

TEST(DelayWork, FiresOnceAtItsTimeOnTheManualClock) {
    testenv::HostRuntime host;
    Ticker ticker;
    std::int64_t start = host.loop().Now();
    tavi::DelayWork::GetInstance()->DelayDo(60, tavi::DelayDelegate(&ticker, &Ticker::Tick));
    host.loop().Advance(59999);
    EXPECT_EQ(ticker.ticks, 0);
    host.loop().Advance(1);
    EXPECT_EQ(ticker.ticks, 1);
    EXPECT_EQ(ticker.at, start + 60000);
    host.loop().Advance(600000);
    EXPECT_EQ(ticker.ticks, 1);
}

TEST(DelayWork, RemoveWorkCancelsOnlyAnEqualDelegate) {
    testenv::HostRuntime host;
    Ticker first, second;
    auto* work = tavi::DelayWork::GetInstance();
    work->DelayDo(10, tavi::DelayDelegate(&first, &Ticker::Tick));
    work->DelayDo(10, tavi::DelayDelegate(&second, &Ticker::Tick));
    work->DelayDo(10, tavi::DelayDelegate(&first, &Ticker::Tock));
    work->RemoveWork(tavi::DelayDelegate(&first, &Ticker::Tick));
    host.loop().Advance(10000);
    EXPECT_EQ(first.ticks, 0);
    EXPECT_EQ(first.tocks, 1);
    EXPECT_EQ(second.ticks, 1);
}

TEST(DelayWork, RearmingFromTheCallbackAndVirtualBindingWork) {
    testenv::HostRuntime host;
    struct Poller {
        void Poll() {
            polls++;
            tavi::DelayWork::GetInstance()->DelayDo(60, tavi::DelayDelegate(this, &Poller::Poll));
        }
        int polls = 0;
    } poller;
    LoudTicker loud;
    Ticker* base = &loud;
    tavi::DelayWork::GetInstance()->DelayDo(60, tavi::DelayDelegate(&poller, &Poller::Poll));
    tavi::DelayWork::GetInstance()->DelayDo(1, tavi::DelayDelegate(base, &Ticker::Tock));
    host.loop().Advance(180000);
    EXPECT_EQ(poller.polls, 3);
    EXPECT_EQ(loud.tocks, 10);
    tavi::DelayWork::GetInstance()->RemoveWork(tavi::DelayDelegate(&poller, &Poller::Poll));
    host.loop().Advance(180000);
    EXPECT_EQ(poller.polls, 3);
}

TEST(UserData, SavedInOneProcessIsLoadedInTheNext) {
    testenv::ScratchDir app;
    Property saved(Property::Map{{0x4E250001, "demo@velmora.com"}, {0x4E250004, std::string("\x0f\0\0\0", 4)}});
    // The first process saves and ends without any clean-up of its own.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        testenv::HostRuntime first("me@velmora.com", "pw", app.path());
        bool ok = !first.core().HasUserData("microblog", "me@velmora.com") &&
                  first.core().SaveUserData("microblog", "me@velmora.com", saved, 1);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    testenv::HostRuntime second("me@velmora.com", "pw", app.path());
    ASSERT_TRUE(second.core().HasUserData("microblog", "me@velmora.com"));
    EXPECT_FALSE(second.core().HasUserData("microblog", "other@velmora.com"));
    Property loaded;
    ASSERT_TRUE(second.core().LoadUserData("microblog", "me@velmora.com", loaded));
    EXPECT_EQ(loaded, saved);
    // A save replaces the whole map.
    Property smaller(Property::Map{{0x4E250002, "x"}});
    ASSERT_TRUE(second.core().SaveUserData("microblog", "me@velmora.com", smaller, 1));
    Property reloaded;
    second.core().LoadUserData("microblog", "me@velmora.com", reloaded);
    EXPECT_EQ(reloaded, smaller);
}

TEST(UserData, WatcherSeesWhatTheSaveChangedOnTheUiThreadUntilItStopsWatching) {
    testenv::HostRuntime host;
    struct Watch {
        void OnChanged(const std::string& name, const Property& data) {
            names.push_back(name);
            last = data;
            onUi = tavi::runtime::UiLoop::Instance().IsUiThread();
        }
        std::vector<std::string> names;
        Property last;
        bool onUi = false;
    } watch;
    std::string account = host.core().GetUserAccount();
    host.core().WatchUserData(&watch, tavi::UserDataDelegate(&watch, &Watch::OnChanged), "microblog", account, -1);
    Property first(Property::Map{{1, "a"}});
    // Saved from a worker thread, heard on the user-interface thread.
    std::thread([&] { host.core().SaveUserData("microblog", account, first, 1); }).join();
    host.core().SaveUserData("other", account, Property(Property::Map{{9, "z"}}), 1);
    host.loop().RunUntilIdle();
    ASSERT_EQ(watch.names, std::vector<std::string>{"microblog"});
    EXPECT_EQ(watch.last, first);
    EXPECT_TRUE(watch.onUi);

    // A copy (flag 0) that changes one entry of the stored map reports only that entry; the user's
    // own store (flag 1) reports the whole map, even when nothing in it changed.
    Property widened(Property::Map{{1, "a"}, {2, "b"}});
    host.core().SaveUserData("microblog", account, widened, 0);
    host.loop().RunUntilIdle();
    ASSERT_EQ(watch.names.size(), 2u);
    EXPECT_EQ(watch.last, Property(Property::Map{{2, "b"}}));
    host.core().SaveUserData("microblog", account, widened, 1);
    host.loop().RunUntilIdle();
    ASSERT_EQ(watch.names.size(), 3u);
    EXPECT_EQ(watch.last, widened);

    // A watcher hears only of saves made while it watches.
    Watch late;
    host.core().SaveUserData("microblog", account, first, 1);
    host.core().WatchUserData(&late, tavi::UserDataDelegate(&late, &Watch::OnChanged), "microblog", account, -1);
    host.loop().RunUntilIdle();
    EXPECT_TRUE(late.names.empty());
    EXPECT_EQ(watch.names.size(), 4u);
    host.core().UnwatchUserData(&late);

    host.core().SaveUserData("microblog", account, Property(Property::Map{{2, "c"}}), 1);
    host.core().UnwatchUserData(&watch);
    host.loop().RunUntilIdle();
    EXPECT_EQ(watch.names.size(), 4u);
}

// The store holds the password credential: its folders and files are the user's alone, made so and,
// when an earlier run left them readable by others, repaired at the next open.
TEST(UserData, StoreAndItsFoldersAreMadeAndRepairedPrivate) {
    testenv::ScratchDir app;
    std::string users = app.path() + "/users";
    std::string db = users + "/userdata.db";
    auto mode = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? static_cast<int>(info.st_mode & 0777) : -1;
    };
    auto expectPrivate = [&](const char* when) {
        EXPECT_EQ(mode(users), 0700) << when;
        EXPECT_EQ(mode(users + "/me@velmora.com"), 0700) << when;
        EXPECT_EQ(mode(db), 0600) << when;
        EXPECT_EQ(mode(db + "-wal"), 0600) << when;
        EXPECT_EQ(mode(db + "-shm"), 0600) << when;
    };
    Property saved(Property::Map{{0x4E250002, "secret"}});
    {
        mode_t umaskBefore = umask(0);
        testenv::HostRuntime first("me@velmora.com", "pw", app.path());
        ASSERT_TRUE(first.core().SaveUserData("microblog", "me@velmora.com", saved, 1));
        expectPrivate("made");
        umask(umaskBefore);
    }
    for (const std::string& folder : {users, users + "/me@velmora.com"})
        chmod(folder.c_str(), 0755);
    chmod(db.c_str(), 0644);
    testenv::HostRuntime second("me@velmora.com", "pw", app.path());
    Property loaded;
    ASSERT_TRUE(second.core().LoadUserData("microblog", "me@velmora.com", loaded));
    EXPECT_EQ(loaded, saved);
    expectPrivate("repaired");
}

// A server copy saved on a worker while the settings form stores on another thread: every watcher
// call must report exactly what its save changed against the save committed just before it, and the
// calls come in the order of the commits, so the last one heard is what the store holds.
TEST(UserData, RacingSavesReportWhatEachChangedInTheOrderTheyWereCommitted) {
    testenv::HostRuntime host;
    std::string account = host.core().GetUserAccount();
    struct Watch {
        void OnChanged(const std::string&, const Property& data) { delivered.push_back(data); }
        std::vector<Property> delivered;
    } watch;
    std::vector<std::pair<Property, int>> saved;
    host.core().onUserDataSaved = [&](const std::string&, const Property& data, int flag) {
        saved.emplace_back(data, flag);
    };
    host.core().WatchUserData(&watch, tavi::UserDataDelegate(&watch, &Watch::OnChanged), "microblog", account,
                              -1);
    constexpr int kRounds = 300;
    auto saver = [&](const std::string& who, int flag) {
        for (int i = 0; i < kRounds; ++i) {
            Property map(Property::Map{{1, who}});
            map.SetInteger(4, i);
            host.core().SaveUserData("microblog", account, map, flag);
        }
    };
    std::thread server(saver, "server@velmora.com", 0);
    std::thread form(saver, "form@velmora.com", 1);
    server.join();
    form.join();
    host.loop().RunUntilIdle();

    ASSERT_EQ(saved.size(), 2u * kRounds);
    ASSERT_EQ(watch.delivered.size(), saved.size());
    Property previous;
    int wrong = 0;
    for (std::size_t i = 0; i < saved.size(); ++i) {
        Property expected = saved[i].first;
        if (saved[i].second == 0)
            expected.RemoveEqual(previous);
        wrong += watch.delivered[i] == expected ? 0 : 1;
        previous = saved[i].first;
    }
    EXPECT_EQ(wrong, 0) << "watcher calls that missed or invented a change";
    Property stored;
    host.core().LoadUserData("microblog", account, stored);
    EXPECT_EQ(stored, previous);
    host.core().UnwatchUserData(&watch);
}

TEST(TimeTags, AreKeptPerNameAndStartAtZero) {
    testenv::ScratchDir app;
    {
        testenv::HostRuntime host("me@velmora.com", "pw", app.path());
        auto* tags = static_cast<tavi::ITimeTagService*>(host.core().GetService(tavi::kServiceTimeTags));
        ASSERT_NE(tags, nullptr);
        EXPECT_EQ(tags->GetTimeTag("microblog"), 0u);
        tags->SetTimeTag("microblog", 4000000000u);
        tags->SetTimeTag("timetag", 7);
    }
    testenv::HostRuntime again("me@velmora.com", "pw", app.path());
    auto* tags = static_cast<tavi::ITimeTagService*>(again.core().GetService(tavi::kServiceTimeTags));
    EXPECT_EQ(tags->GetTimeTag("microblog"), 4000000000u);
    EXPECT_EQ(tags->GetTimeTag("timetag"), 7u);
}

TEST(Services, RegisteredServiceIsLoadedFoundAndUnloaded) {
    testenv::HostRuntime host;
    struct Probe : tavi::IService {
        Probe() : IService(20005) {}
        void Release() override {}
        int OnLoad() override {
            loads++;
            return 1;
        }
        void OnUnLoad() override { unloads++; }
        int loads = 0, unloads = 0;
    } probe;
    EXPECT_EQ(host.core().GetService(20005), nullptr);
    host.core().RegisterService(&probe);
    EXPECT_EQ(probe.loads, 1);
    EXPECT_EQ(host.core().GetService(20005), &probe);
    host.core().UnregisterService(&probe);
    EXPECT_EQ(probe.unloads, 1);
    EXPECT_EQ(host.core().GetService(20005), nullptr);
    EXPECT_NE(host.core().GetService(tavi::kServiceNotifier), nullptr);
    EXPECT_NE(host.core().GetService(tavi::kServicePluginWindows), nullptr);
}

TEST(Services, NotifierRecordsNoticesAndBalloonsWithTheirArguments) {
    testenv::HostRuntime host;
    auto* notifier = static_cast<tavi::INotifier*>(host.core().GetService(tavi::kServiceNotifier));
    tavi::NoticeRecord record;
    record.title = "t";
    record.content = "c";
    record.displayMilliseconds = 20000;
    record.style = 2;
    notifier->ShowNotice(11, record);
    tavi::CSkinObject anchor;
    anchor.SetObjectId("BtnMainForm");
    notifier->ShowBalloon(&anchor, "tip", 2000);
    auto notices = host.core().GetNotifier().GetNotices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, 11);
    EXPECT_EQ(notices[0].record.displayMilliseconds, 20000);
    EXPECT_EQ(notices[0].record.style, 2);
    auto balloons = host.core().GetNotifier().GetBalloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].anchor, "BtnMainForm");
    EXPECT_EQ(balloons[0].milliseconds, 2000);
}

} // namespace
