// Generated activity: every period another user posts a status, so that the reminder counters of
// the others move while a client watches them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "devserver/mbservice/microblog.h"

namespace mbservice {

class ActivityGenerator {
public:
    ActivityGenerator(Microblog& microblog, int periodSeconds)
        : microblog_(microblog), periodSeconds_(periodSeconds) {}
    ~ActivityGenerator() { Stop(); }
    ActivityGenerator(const ActivityGenerator&) = delete;
    ActivityGenerator& operator=(const ActivityGenerator&) = delete;

    void Start();
    // Ends the generator's thread; safe to call more than once and from any thread.
    void Stop();
    // Posts the next status now (the generator's thread calls it each period); returns its id, 0 when
    // no user has a microblog.
    std::int64_t PostNext();

private:
    void Run();

    Microblog& microblog_;
    int periodSeconds_;
    std::size_t turn_ = 0;
    // Guards stopping_ and thread_, and wakes the thread when stopping_ is set.
    std::mutex stopLock_;
    std::condition_variable stopWake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace mbservice
