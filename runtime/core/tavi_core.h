// The host's core object: services by id, the signed-in messenger user, the worker pool that runs
// tasks, result callbacks onto the user-interface thread, and the per-user data with its watchers.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/core.h"
#include "host/services.h"
#include "runtime/core/ui_loop.h"
#include "runtime/core/user_store.h"

namespace microblog {
class IMicroBlogService;
}

namespace tavi::runtime {

// The time tag under which the host keeps the messenger server's tag of the user's data.
constexpr const char* kServerTimeTag = "timetag";

class Notifier;
class PluginWindowHost;
class TimeTagService;

// The host's side of the messenger server connection; without one, packets get no reply.
class MessengerLink {
public:
    virtual ~MessengerLink() = default;
    virtual std::unique_ptr<Unpack> SendAndWait(const std::string& frame, const std::string& body, bool wait,
                                                int seconds) = 0;
    // Ends the link's own work: waiting senders get no reply and the link calls nothing on the core
    // afterwards. The core calls it before it goes away.
    virtual void Close() {}
};

struct CoreConfig {
    std::string account;
    // The password as typed; the core keeps only its MD5 credential.
    std::string password;
    int workerThreads = 4;
};

class TaviCore : public ITavi {
public:
    TaviCore(CoreConfig config, UiLoop& loop);
    ~TaviCore() override;
    TaviCore(const TaviCore&) = delete;
    TaviCore& operator=(const TaviCore&) = delete;

    // The process's core object, as Core_GetITavi returns it; Install(null) removes it.
    static void Install(TaviCore* core);
    static TaviCore* Installed();

    std::string GetUserAccount() override;
    std::string GetUserPassword() override;
    int RegisterService(IService* service) override;
    int UnregisterService(IService* service) override;
    IService* GetService(unsigned id) override;
    int PostTask(ITaskClass* task, int flags) override;
    void InvokeUICallBack(const TaskCallback& callback, IAsync_CallbackParam* record) override;
    void WatchUserData(void* owner, const UserDataDelegate& delegate, const std::string& name,
                       const std::string& account, int flags) override;
    void UnwatchUserData(void* owner) override;
    void RegisterUserData(IService* service, const std::string& name, int a, int b, int c) override;
    void UnregisterUserData(const std::string& name) override;
    bool HasUserData(const std::string& name, const std::string& account) override;
    bool LoadUserData(const std::string& name, const std::string& account, Property& data) override;
    bool SaveUserData(const std::string& name, const std::string& account, const Property& data,
                      int flag) override;
    std::unique_ptr<Unpack> SendPacketAndWaitResponse(const Marshallable& frame, const Marshallable& body,
                                                      bool wait, int seconds) override;

    UiLoop& GetLoop() { return loop_; }
    Notifier& GetNotifier() { return *notifier_; }
    PluginWindowHost& GetWindowHost() { return *windowHost_; }
    UserStore& GetStore() { return *store_; }
    void SetMessengerLink(std::shared_ptr<MessengerLink> link);
    // The service that registered the user data of that name for syncing, or null.
    IService* GetUserDataOwner(const std::string& name);

    // Any thread: the messenger connection has signed in. The server's time tag of the user's data
    // becomes the "timetag" time tag, and every service with synced user data is asked for a sync.
    void OnMessengerSignedIn(std::uint32_t serverTimeTag);
    void OnMessengerSignedOut();
    bool IsMessengerSignedIn() const { return messengerSignedIn_.load(); }
    // User-interface thread: asks every service with synced user data for a sync; how many were asked.
    int RequestSettingsSync();
    // The names of the user data kept on the messenger server too, and the service that keeps
    // the data of a name (null when none does).
    std::vector<std::string> GetSyncedUserDataNames();
    microblog::IMicroBlogService* GetSettingsService(const std::string& name);
    // The microblog plug-in's service while it is registered, for the toolbar button that shows it.
    microblog::IMicroBlogService* GetMicroBlogService();
    // User-interface thread: asks the owner of the synced user data of that name to upload the stored
    // copy; false when nobody syncs it.
    bool RequestSettingsUpload(const std::string& name);
    // Waits (running the loop) until no task is queued or running and no call is pending.
    bool WaitIdle(std::int64_t boundMilliseconds);
    // Tasks queued or running.
    int ActiveTasks() const;
    // Waits, without running the loop and without a bound, until no task is queued or running: the
    // host's step before it unmaps a plug-in whose tasks may still run its code.
    void WaitTasksEnded();
    // Drops the result callbacks not yet delivered that belong to an unloaded plug-in, releasing
    // their records; belongs is asked with the callback's code and with the record's type. How many
    // were dropped.
    using CodeFilter = std::function<bool(const void* address)>;
    int DropCallbacks(const CodeFilter& belongs);
    // Called on the user-interface thread after each save of user data, with the whole saved map,
    // before the watchers (which get only the changed entries).
    std::function<void(const std::string& name, const Property& data, int flag)> onUserDataSaved;

private:
    struct Watcher {
        std::uint64_t id;
        void* owner;
        UserDataDelegate delegate;
        std::string name;
        std::string account;
    };
    void WorkerMain();
    // Waits until every task that had started when it was called has ended.
    void WaitRunningTasks();
    void DeliverCallback(std::uint64_t id);

    CoreConfig config_;
    std::string passwordCredential_;
    UiLoop& loop_;
    std::unique_ptr<UserStore> store_;

    mutable std::shared_mutex servicesMutex_;
    std::map<unsigned, IService*> services_;
    std::unique_ptr<Notifier> notifier_;
    std::unique_ptr<PluginWindowHost> windowHost_;
    std::unique_ptr<TimeTagService> timeTags_;

    mutable std::mutex tasksMutex_;
    std::condition_variable tasksChanged_;
    std::deque<ITaskClass*> tasks_;
    int running_ = 0;
    // Start numbers of the tasks running now, and the number of the last one started.
    std::vector<std::uint64_t> runningSequence_;
    std::uint64_t lastStarted_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;

    // Result callbacks waiting for the loop, by number, so that those of an unloaded plug-in can be
    // dropped before they run.
    struct PendingCallback {
        TaskCallback callback;
        IAsync_CallbackParam* record;
    };
    std::mutex callbacksMutex_;
    std::map<std::uint64_t, PendingCallback> callbacks_;
    std::uint64_t nextCallback_ = 1;

    std::mutex watchersMutex_;
    std::vector<Watcher> watchers_;
    std::uint64_t nextWatcher_ = 1;
    struct UserDataRegistration {
        IService* service;
        bool synced; // kept on the messenger server as well
    };
    std::map<std::string, UserDataRegistration> userDataOwners_; // guarded by servicesMutex_

    std::mutex linkMutex_;
    std::shared_ptr<MessengerLink> link_;
    std::atomic<bool> messengerSignedIn_{false};
    // Calls posted to the loop check this before they touch the core, which may be gone by then.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
};

} // namespace tavi::runtime
