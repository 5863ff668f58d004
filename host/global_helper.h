// The host's GlobalHelper library: delayed calls on the user-interface thread and the host's
// proxy settings.
#pragma once

#include <cstdint>
#include <string>

#include "host/fast_delegate.h"

namespace tavi {

using DelayDelegate = FastDelegate0<void>;

class DelayWork {
public:
    static DelayWork* GetInstance();
    virtual ~DelayWork() = default;
    // Runs the delegate once, the given seconds from now, on the user-interface thread. Scheduling
    // a delegate that is already pending replaces its time.
    virtual void DelayDo(int seconds, const DelayDelegate& delegate) = 0;
    // Cancels every pending call of an equal delegate.
    virtual void RemoveWork(const DelayDelegate& delegate) = 0;
};

// The host's proxy configuration, copied unchanged into every connection.
struct ProxyCfg {
    enum Type { kNone = 0, kHttpConnect = 1, kSocks5 = 2 };
    int type = kNone;
    std::string host;
    std::uint16_t port = 0;
    std::string user;
    std::string password;
    std::string domain;
};

ProxyCfg GetProxyCfg();
void SetProxyCfg(const ProxyCfg& cfg);

} // namespace tavi
