// The host's Core library: the core object with its services, worker tasks, result callbacks and
// per-user data, and the base classes of services, tasks and callback records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host/fast_delegate.h"
#include "host/marshal.h"

namespace tavi {

class ITavi;
class IService;
class ITaskClass;

// Host service ids.
constexpr unsigned kServicePluginWindows = 1001;
constexpr unsigned kServiceNotifier = 1002;
constexpr unsigned kServiceTimeTags = 11;

// A record handed from a worker to the user-interface thread; the host releases it after the
// callback has returned.
class IAsync_CallbackParam {
public:
    virtual ~IAsync_CallbackParam() = default;
    virtual void Release() { delete this; }
};

using TaskCallback = FastDelegate2<ITavi*, IAsync_CallbackParam*>;

// Called on the user-interface thread after a save of the watched data, with the entries the save
// changed or added.
using UserDataDelegate = FastDelegate2<const std::string& /*name*/, const Property& /*data*/>;

class IService {
public:
    explicit IService(unsigned serviceId) : serviceId_(serviceId) {}
    virtual ~IService() = default;
    virtual void OnPacket(const Property& /*packet*/) {}
    virtual int IsNeedCallback() { return 0; }
    virtual void InvokeUICallback(IAsync_CallbackParam* /*record*/) {}
    virtual void Release() = 0;
    virtual int OnLoad() { return 1; }
    virtual void OnUnLoad() {}

    unsigned GetServiceID() const { return serviceId_; }

private:
    unsigned serviceId_;
};

// Work the host runs once on one of its worker threads and then releases.
class ITaskClass {
public:
    explicit ITaskClass(ITavi* core) : core_(core) {}
    ITaskClass(ITavi* core, TaskCallback callback) : core_(core), callback_(callback) {}
    virtual ~ITaskClass() = default;

    virtual void Run() = 0;
    virtual void Release() { delete this; }
    // Called on the worker when Run throws; the exception is described by its message.
    virtual void OnException(const std::string& /*message*/) {}
    // Sends a packet to the messenger server over the host's connection and, when wait is set,
    // waits up to the given seconds for the reply. Null when no reply came.
    virtual std::unique_ptr<Unpack> SendPacketAndWaitResponse(const Marshallable& frame, const Marshallable& body,
                                                              bool wait, int seconds);
    virtual int SendPacket(const Marshallable& frame, const Marshallable& body);

    // Hands the record to the user-interface thread, where the task's callback receives it.
    // The host takes ownership of the record in every case.
    void InvokeUICallBack(IAsync_CallbackParam* record);

    ITavi* GetCore() const { return core_; }
    const TaskCallback& GetCallback() const { return callback_; }

private:
    ITavi* core_;
    TaskCallback callback_;
};

class ITavi {
public:
    virtual ~ITavi() = default;

    virtual std::string GetUserAccount() = 0;
    // The messenger user's password credential: the lower-case hex MD5 of the password.
    virtual std::string GetUserPassword() = 0;

    virtual int RegisterService(IService* service) = 0;
    virtual int UnregisterService(IService* service) = 0;
    virtual IService* GetService(unsigned id) = 0;

    virtual int PostTask(ITaskClass* task, int flags) = 0;
    // Queues callback(core, record) on the user-interface thread, then releases the record.
    virtual void InvokeUICallBack(const TaskCallback& callback, IAsync_CallbackParam* record) = 0;

    virtual void WatchUserData(void* owner, const UserDataDelegate& delegate, const std::string& name,
                               const std::string& account, int flags) = 0;
    virtual void UnwatchUserData(void* owner) = 0;
    virtual void RegisterUserData(IService* service, const std::string& name, int a, int b, int c) = 0;
    virtual void UnregisterUserData(const std::string& name) = 0;
    virtual bool HasUserData(const std::string& name, const std::string& account) = 0;
    virtual bool LoadUserData(const std::string& name, const std::string& account, Property& data) = 0;
    virtual bool SaveUserData(const std::string& name, const std::string& account, const Property& data,
                              int flag) = 0;

    // The messenger connection behind ITaskClass::SendPacketAndWaitResponse.
    virtual std::unique_ptr<Unpack> SendPacketAndWaitResponse(const Marshallable& frame, const Marshallable& body,
                                                              bool wait, int seconds) = 0;
};

// The core object of this process; null before the host has started its core.
ITavi* Core_GetITavi();

} // namespace tavi
