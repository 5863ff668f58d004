#include "runtime/core/tavi_core.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <typeinfo>
#include <utility>

#include "host/common.h"
#include "host/microblog_service.h"
#include "runtime/core/host_services.h"

namespace tavi {
namespace {
std::atomic<runtime::TaviCore*> installedCore{nullptr};
} // namespace

ITavi* Core_GetITavi() {
    return installedCore.load();
}

} // namespace tavi

namespace tavi::runtime {
namespace {

// The core whose worker runs on this thread, if any.
thread_local const TaviCore* workerOf = nullptr;

// The plug-in service whose settings the host keeps in step with the messenger server.
constexpr unsigned kServiceMicroBlog = 20005;

microblog::IMicroBlogService* AsSettingsOwner(IService* service) {
    if (service == nullptr || service->GetServiceID() != kServiceMicroBlog)
        return nullptr;
    return static_cast<microblog::IMicroBlogService*>(service);
}

} // namespace

void TaviCore::Install(TaviCore* core) {
    installedCore.store(core);
}
TaviCore* TaviCore::Installed() {
    return installedCore.load();
}

TaviCore::TaviCore(CoreConfig config, UiLoop& loop)
    : config_(std::move(config)), passwordCredential_(GetMD5(config_.password)), loop_(loop),
      store_(std::make_unique<UserStore>(GetAppPath() + "users/userdata.db")),
      notifier_(std::make_unique<Notifier>()), windowHost_(std::make_unique<PluginWindowHost>()),
      timeTags_(std::make_unique<TimeTagService>(*store_, config_.account)) {
    // The signed-in user's own folder, where plug-ins keep their files.
    std::string users = GetAppPath() + "users";
    MakePrivateFolder(users);
    MakePrivateFolder(users + "/" + config_.account);
    services_[notifier_->GetServiceID()] = notifier_.get();
    services_[windowHost_->GetServiceID()] = windowHost_.get();
    services_[timeTags_->GetServiceID()] = timeTags_.get();
    int count = config_.workerThreads > 0 ? config_.workerThreads : 1;
    for (int i = 0; i < count; ++i)
        workers_.emplace_back(&TaviCore::WorkerMain, this);
}

TaviCore::~TaviCore() {
    // The link first: a worker waiting for a reply is let go, and the link stops calling in.
    std::shared_ptr<MessengerLink> link;
    {
        std::lock_guard<std::mutex> lock(linkMutex_);
        link = std::move(link_);
    }
    if (link)
        link->Close();
    alive_->store(false);
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        stopping_ = true;
    }
    tasksChanged_.notify_all();
    for (auto& worker : workers_)
        worker.join();
    // Tasks never started are released without running, and results never delivered with them.
    for (ITaskClass* task : tasks_) {
        task->Release();
        loop_.AddOutstanding(-1);
    }
    for (auto& [id, pending] : callbacks_)
        if (pending.record)
            pending.record->Release();
    if (Installed() == this)
        Install(nullptr);
}

std::string TaviCore::GetUserAccount() {
    return config_.account;
}
std::string TaviCore::GetUserPassword() {
    return passwordCredential_;
}

int TaviCore::RegisterService(IService* service) {
    if (service == nullptr)
        return 0;
    {
        std::unique_lock<std::shared_mutex> lock(servicesMutex_);
        services_[service->GetServiceID()] = service;
    }
    service->OnLoad();
    return 1;
}

int TaviCore::UnregisterService(IService* service) {
    if (service == nullptr)
        return 0;
    {
        std::shared_lock<std::shared_mutex> lock(servicesMutex_);
        auto found = services_.find(service->GetServiceID());
        if (found == services_.end() || found->second != service)
            return 0;
    }
    service->OnUnLoad();
    std::unique_lock<std::shared_mutex> lock(servicesMutex_);
    auto found = services_.find(service->GetServiceID());
    if (found != services_.end() && found->second == service)
        services_.erase(found);
    for (auto it = userDataOwners_.begin(); it != userDataOwners_.end();)
        it = it->second.service == service ? userDataOwners_.erase(it) : std::next(it);
    lock.unlock();
    // A task that found the service before it left may still be using it: the caller releases the
    // service once this returns. Tasks that start from now on no longer find it.
    WaitRunningTasks();
    return 1;
}

void TaviCore::WaitRunningTasks() {
    if (workerOf == this)
        return; // a task unregistering a service cannot wait for itself
    std::unique_lock<std::mutex> lock(tasksMutex_);
    std::uint64_t started = lastStarted_;
    tasksChanged_.wait(lock, [&] {
        return std::none_of(runningSequence_.begin(), runningSequence_.end(),
                            [&](std::uint64_t sequence) { return sequence <= started; });
    });
}

void TaviCore::WaitTasksEnded() {
    if (workerOf == this)
        return;
    std::unique_lock<std::mutex> lock(tasksMutex_);
    tasksChanged_.wait(lock, [&] { return stopping_ || (tasks_.empty() && running_ == 0); });
}

IService* TaviCore::GetService(unsigned id) {
    std::shared_lock<std::shared_mutex> lock(servicesMutex_);
    auto found = services_.find(id);
    return found == services_.end() ? nullptr : found->second;
}

int TaviCore::PostTask(ITaskClass* task, int /*flags*/) {
    if (task == nullptr)
        return 0;
    loop_.AddOutstanding(1);
    {
        std::lock_guard<std::mutex> lock(tasksMutex_);
        tasks_.push_back(task);
    }
    // Someone waiting for the tasks to end shares the signal with the workers.
    tasksChanged_.notify_all();
    return 1;
}

int TaviCore::ActiveTasks() const {
    std::lock_guard<std::mutex> lock(tasksMutex_);
    return static_cast<int>(tasks_.size()) + running_;
}

void TaviCore::WorkerMain() {
    workerOf = this;
    for (;;) {
        ITaskClass* task;
        std::uint64_t sequence;
        {
            std::unique_lock<std::mutex> lock(tasksMutex_);
            tasksChanged_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (stopping_)
                return;
            task = tasks_.front();
            tasks_.pop_front();
            ++running_;
            sequence = ++lastStarted_;
            runningSequence_.push_back(sequence);
        }
        // A task that throws must not take the host down. The packet layer throws its errors by
        // pointer; they are deleted here.
        try {
            task->Run();
        } catch (MarshalError* error) {
            task->OnException(error->GetMessage());
            delete error;
        } catch (const std::exception& error) {
            task->OnException(error.what());
        } catch (...) {
            task->OnException("unknown exception");
        }
        task->Release();
        {
            std::lock_guard<std::mutex> lock(tasksMutex_);
            --running_;
            std::erase(runningSequence_, sequence);
        }
        // Wakes the other workers too, which only go back to waiting, and whoever waits for tasks.
        tasksChanged_.notify_all();
        loop_.AddOutstanding(-1);
    }
}

void TaviCore::InvokeUICallBack(const TaskCallback& callback, IAsync_CallbackParam* record) {
    std::uint64_t id;
    {
        std::lock_guard<std::mutex> lock(callbacksMutex_);
        id = nextCallback_++;
        callbacks_[id] = PendingCallback{callback, record};
    }
    loop_.Post([this, alive = alive_, id] {
        if (alive->load())
            DeliverCallback(id);
    });
}

void TaviCore::DeliverCallback(std::uint64_t id) {
    PendingCallback pending;
    {
        std::lock_guard<std::mutex> lock(callbacksMutex_);
        auto found = callbacks_.find(id);
        if (found == callbacks_.end())
            return; // dropped with its plug-in
        pending = found->second;
        callbacks_.erase(found);
    }
    pending.callback(this, pending.record);
    if (pending.record)
        pending.record->Release();
}

int TaviCore::DropCallbacks(const CodeFilter& belongs) {
    std::vector<IAsync_CallbackParam*> dropped;
    int count = 0;
    {
        std::lock_guard<std::mutex> lock(callbacksMutex_);
        for (auto it = callbacks_.begin(); it != callbacks_.end();) {
            const PendingCallback& pending = it->second;
            bool ours = belongs(pending.callback.GetCode()) ||
                        (pending.record != nullptr && belongs(&typeid(*pending.record)));
            if (!ours) {
                ++it;
                continue;
            }
            dropped.push_back(pending.record);
            ++count;
            it = callbacks_.erase(it);
        }
    }
    // The records are the plug-in's own objects: they go while its code is still there.
    for (IAsync_CallbackParam* record : dropped)
        if (record)
            record->Release();
    return count;
}

void TaviCore::WatchUserData(void* owner, const UserDataDelegate& delegate, const std::string& name,
                             const std::string& account, int /*flags*/) {
    std::lock_guard<std::mutex> lock(watchersMutex_);
    watchers_.push_back(Watcher{nextWatcher_++, owner, delegate, name, account});
}

void TaviCore::UnwatchUserData(void* owner) {
    std::lock_guard<std::mutex> lock(watchersMutex_);
    std::erase_if(watchers_, [&](const Watcher& watcher) { return watcher.owner == owner; });
}

// The first flag says whether the data is kept on the messenger server too.
void TaviCore::RegisterUserData(IService* service, const std::string& name, int synced, int, int) {
    {
        std::unique_lock<std::shared_mutex> lock(servicesMutex_);
        userDataOwners_[name] = UserDataRegistration{service, synced != 0};
    }
    // A service that registers after the sign-in gets its sync once its load has finished.
    if (synced != 0 && messengerSignedIn_.load()) {
        loop_.Post([this, alive = alive_, name] {
            if (!alive->load())
                return;
            if (auto* owner = GetSettingsService(name))
                owner->RequestSyncSettings();
        });
    }
}

void TaviCore::UnregisterUserData(const std::string& name) {
    std::unique_lock<std::shared_mutex> lock(servicesMutex_);
    userDataOwners_.erase(name);
}

IService* TaviCore::GetUserDataOwner(const std::string& name) {
    std::shared_lock<std::shared_mutex> lock(servicesMutex_);
    auto found = userDataOwners_.find(name);
    return found == userDataOwners_.end() || !found->second.synced ? nullptr : found->second.service;
}

void TaviCore::OnMessengerSignedIn(std::uint32_t serverTimeTag) {
    timeTags_->SetTimeTag(kServerTimeTag, serverTimeTag);
    messengerSignedIn_.store(true);
    loop_.Post([this, alive = alive_] {
        if (alive->load())
            RequestSettingsSync();
    });
}

void TaviCore::OnMessengerSignedOut() {
    messengerSignedIn_.store(false);
}

std::vector<std::string> TaviCore::GetSyncedUserDataNames() {
    std::vector<std::string> names;
    std::shared_lock<std::shared_mutex> lock(servicesMutex_);
    for (const auto& [name, registration] : userDataOwners_)
        if (registration.synced)
            names.push_back(name);
    return names;
}

microblog::IMicroBlogService* TaviCore::GetSettingsService(const std::string& name) {
    return AsSettingsOwner(GetUserDataOwner(name));
}

microblog::IMicroBlogService* TaviCore::GetMicroBlogService() {
    return AsSettingsOwner(GetService(kServiceMicroBlog));
}

int TaviCore::RequestSettingsSync() {
    // Looked up again one by one: a sync request may run plug-in code that changes the registrations.
    int asked = 0;
    for (const std::string& name : GetSyncedUserDataNames()) {
        if (auto* owner = GetSettingsService(name)) {
            owner->RequestSyncSettings();
            ++asked;
        }
    }
    return asked;
}

bool TaviCore::RequestSettingsUpload(const std::string& name) {
    auto* owner = GetSettingsService(name);
    if (owner == nullptr)
        return false;
    Property stored;
    if (!store_->Has(name, config_.account) || !store_->Load(name, config_.account, stored))
        return false;
    owner->SaveSettings(stored);
    return true;
}

bool TaviCore::HasUserData(const std::string& name, const std::string& account) {
    return store_->Has(name, account);
}

bool TaviCore::LoadUserData(const std::string& name, const std::string& account, Property& data) {
    return store_->Load(name, account, data);
}

bool TaviCore::SaveUserData(const std::string& name, const std::string& account, const Property& data,
                            int flag) {
    // Watchers hear of the save on the user-interface thread. A store of the user's own settings
    // (flag 1) hands them the map that was saved, so that a form storing its fields unchanged still
    // counts as a change of them; defaults and copies from the server (flag 0) hand them only the
    // entries the save changed, so that a copy that differs in the prompt interval alone does not
    // look like a new account. What changed is taken in the save's own transaction and the call is
    // posted under the store's lock: a server copy saved on a worker while the settings form stores
    // is told against the map it really replaced, in the order of the commits. Only the watchers
    // there at the save hear of it, and a watcher removed before the call runs is not called.
    return store_->Save(name, account, data, [&](const Property& previous) {
        Property delivered = data;
        if (flag != 1)
            delivered.RemoveEqual(previous);
        std::vector<std::uint64_t> ids;
        {
            std::lock_guard<std::mutex> lock(watchersMutex_);
            for (const Watcher& watcher : watchers_)
                if (watcher.name == name && watcher.account == account)
                    ids.push_back(watcher.id);
        }
        loop_.Post([this, alive = alive_, name, account, data, delivered, flag, ids] {
            if (!alive->load())
                return;
            if (onUserDataSaved)
                onUserDataSaved(name, data, flag);
            // Settings the user changed (flag 1; defaults and copies from the server come with 0)
            // are handed back to the service that syncs them, for the upload.
            if (flag == 1 && account == config_.account)
                if (auto* owner = GetSettingsService(name))
                    owner->SaveSettings(data);
            for (std::uint64_t id : ids) {
                UserDataDelegate delegate;
                {
                    std::lock_guard<std::mutex> lock(watchersMutex_);
                    auto found = std::find_if(watchers_.begin(), watchers_.end(),
                                              [&](const Watcher& watcher) { return watcher.id == id; });
                    if (found == watchers_.end())
                        continue;
                    delegate = found->delegate;
                }
                delegate(name, delivered);
            }
        });
    });
}

void TaviCore::SetMessengerLink(std::shared_ptr<MessengerLink> link) {
    std::shared_ptr<MessengerLink> replaced;
    {
        std::lock_guard<std::mutex> lock(linkMutex_);
        replaced = std::exchange(link_, std::move(link));
        if (replaced == link_)
            replaced.reset();
    }
    // A link that is replaced stops, so that only one connection speaks for this user.
    if (replaced)
        replaced->Close();
}

std::unique_ptr<Unpack> TaviCore::SendPacketAndWaitResponse(const Marshallable& frame,
                                                            const Marshallable& body, bool wait,
                                                            int seconds) {
    std::shared_ptr<MessengerLink> link;
    {
        std::lock_guard<std::mutex> lock(linkMutex_);
        link = link_;
    }
    Pack framePack;
    frame.marshal(framePack);
    Pack bodyPack;
    body.marshal(bodyPack);
    if (!link)
        return nullptr; // not connected to a messenger server: no reply will come

    return link->SendAndWait(framePack.str(), bodyPack.str(), wait, seconds);
}

bool TaviCore::WaitIdle(std::int64_t boundMilliseconds) {
    return loop_.RunUntil([this] { return loop_.Outstanding() == 0 && !loop_.HasPendingCalls(); },
                          boundMilliseconds);
}

} // namespace tavi::runtime
