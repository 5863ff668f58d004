#include "devserver/mbservice/activity.h"

#include <chrono>
#include <cstdio>

#include "devserver/mbservice/demo_seed.h"

namespace mbservice {

void ActivityGenerator::Start() {
    if (periodSeconds_ > 0 && !thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void ActivityGenerator::Stop() {
    {
        std::lock_guard<std::mutex> hold(stopLock_);
        stopping_ = true;
    }
    stopWake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

std::int64_t ActivityGenerator::PostNext() {
    const std::vector<std::int64_t> users = microblog_.MicroblogUserIds();
    if (users.empty())
        return 0;
    const std::vector<std::string>& texts = ActivityTexts();
    const std::size_t turn = turn_++;
    const std::int64_t author = users[turn % users.size()];
    return microblog_.AddStatus(author, texts[turn % texts.size()], StatusKind::Original, 0,
                                microblog_.Clock().Now(), "web");
}

// Runs on the generator's own thread.
void ActivityGenerator::Run() {
    std::unique_lock<std::mutex> hold(stopLock_);
    while (!stopWake_.wait_for(hold, std::chrono::seconds(periodSeconds_), [this] { return stopping_; })) {
        hold.unlock();
        try {
            if (const std::int64_t id = PostNext())
                std::fprintf(stderr, "activity: status %lld\n", static_cast<long long>(id));
        } catch (const StoreError& error) {
            std::fprintf(stderr, "activity: %s\n", error.what());
        }
        hold.lock();
    }
}

} // namespace mbservice
