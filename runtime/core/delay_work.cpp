// Delayed calls on the user-interface loop, keyed by delegate so that RemoveWork can cancel them.
#include <map>
#include <mutex>

#include "host/global_helper.h"
#include "runtime/core/ui_loop.h"

namespace tavi {
namespace {

class LoopDelayWork : public DelayWork {
public:
    void DelayDo(int seconds, const DelayDelegate& delegate) override {
        RemoveWork(delegate);
        auto& loop = runtime::UiLoop::Instance();
        std::lock_guard<std::mutex> lock(mutex_);
        std::uint64_t ticket = nextTicket_++;
        auto id = loop.AddTimer(static_cast<std::int64_t>(seconds) * 1000, [this, delegate, ticket] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                auto found = pending_.find(delegate);
                if (found == pending_.end() || found->second.ticket != ticket)
                    return;
                pending_.erase(found);
            }
            delegate();
        });
        pending_[delegate] = Pending{id, ticket};
    }

    void RemoveWork(const DelayDelegate& delegate) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = pending_.find(delegate);
        if (found == pending_.end())
            return;
        runtime::UiLoop::Instance().CancelTimer(found->second.timer);
        pending_.erase(found);
    }

private:
    struct Pending {
        runtime::UiLoop::TimerId timer;
        std::uint64_t ticket;
    };
    std::mutex mutex_;
    std::map<DelayDelegate, Pending> pending_;
    std::uint64_t nextTicket_ = 1;
};

} // namespace

DelayWork* DelayWork::GetInstance() {
    static LoopDelayWork* instance = new LoopDelayWork();
    return instance;
}

} // namespace tavi
