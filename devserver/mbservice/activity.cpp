#include "devserver/mbservice/activity.h"

#include <chrono>
#include <cstdio>

#include "devserver/mbservice/demo_seed.h"

namespace mbservice {

void ActivityGenerator::Start() {
    // The service's signal thread may stop the generator while this runs: the thread is made and
    // handed over under the lock, and a generator stopped already stays stopped.
    std::lock_guard<std::mutex> hold(stopLock_);
    if (periodSeconds_ > 0 && !stopping_ && !thread_.joinable())
        thread_ = std::thread([this] { Run(); });
}

void ActivityGenerator::Stop() {
    std::thread running;
    {
        std::lock_guard<std::mutex> hold(stopLock_);
        stopping_ = true;
        // Only one of several stops at once takes the thread to join.
        if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
            running = std::move(thread_);
    }
    stopWake_.notify_all();
    if (running.joinable())
        running.join();
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
