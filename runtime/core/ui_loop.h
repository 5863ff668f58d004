// The host's user-interface thread: one loop that runs posted calls and timers. Entry points of
// plug-ins, task callbacks and delayed calls all run here. Tests drive it deterministically with a
// manual clock that only moves when advanced.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace tavi::runtime {

// Another event loop that runs the user-interface loop's work as one of its sources (the windowed
// host's GLib main context). With a driver, waiting for work means iterating the driver's loop, so
// windows stay live while a command waits.
class UiLoopDriver {
public:
    virtual ~UiLoopDriver() = default;
    // Any thread: work was posted or a timer added; the driver wakes its loop.
    virtual void Wake() = 0;
    // User-interface thread: one iteration of the driver's loop, blocking up to maxWait for an event.
    virtual void Iterate(std::int64_t maxWaitMilliseconds) = 0;
};

class UiLoop {
public:
    using Call = std::function<void()>;
    using TimerId = std::uint64_t;

    UiLoop();
    UiLoop(const UiLoop&) = delete;
    UiLoop& operator=(const UiLoop&) = delete;

    // The process's loop.
    static UiLoop& Instance();

    // The thread that runs the loop: the one that called this last, or the first that ran it.
    void BindToCurrentThread();
    bool IsUiThread() const;

    // Any thread: runs the call on the loop, after the calls posted before it.
    void Post(Call call);
    // Any thread: runs the call once when the clock reaches now + delay.
    TimerId AddTimer(std::int64_t delayMilliseconds, Call call);
    bool CancelTimer(TimerId id);
    std::size_t PendingTimers() const;

    // The loop's clock in milliseconds. With the manual clock it moves only by Advance; otherwise
    // it is real time plus everything advanced.
    void UseManualClock(bool manual);
    std::int64_t Now() const;
    // Moves the clock forward, running every timer that falls due on the way, in time order, with
    // the calls they post.
    void Advance(std::int64_t milliseconds);

    // Runs what is ready: posted calls and due timers. Waits up to maxWait for something when
    // nothing is ready. True when anything ran.
    bool RunOnce(std::int64_t maxWaitMilliseconds);
    // Runs posted calls and due timers until none is ready, without waiting.
    void RunUntilIdle();
    // Runs the loop until the condition holds or the bound passes (real time). True when it held.
    bool RunUntil(const std::function<bool()>& condition, std::int64_t boundMilliseconds);
    bool HasPendingCalls() const;

    // Work outside the loop that will post back to it (tasks queued or running). The host program's
    // "wait" runs the loop until this is zero and no call is pending.
    void AddOutstanding(int delta);
    int Outstanding() const { return outstanding_.load(); }
    // Wakes a waiting RunOnce, as when outstanding work ends without posting.
    void Wake();
    // How many times a wait of the loop ran its whole length with nothing waking it.
    std::uint64_t WaitsSleptThrough() const;

    // User-interface thread: null returns to the loop's own waiting.
    void SetDriver(UiLoopDriver* driver);
    // For a driver: milliseconds until work is ready (0 now), or -1 when nothing is pending.
    std::int64_t MillisecondsUntilReady() const;
    // For a driver: runs the posted calls and due timers that are ready. True when anything ran.
    bool DispatchReady() { return RunReadyOnce(); }

private:
    struct Timer {
        std::int64_t due;
        std::uint64_t sequence;
        Call call;
    };
    bool RunReadyOnce();
    std::int64_t RealNow() const;
    std::uint64_t WakeCount() const;
    // RunOnce that does not wait when the loop was woken after wakes_ was `seen`.
    bool RunOnceSince(std::int64_t maxWaitMilliseconds, std::uint64_t seen);
    // Under mutex_, and then wake_ notified.
    void NoteWakeLocked() { ++wakes_; }

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Call> posted_;
    std::map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
    std::uint64_t nextSequence_ = 0;
    bool manual_ = false;
    std::int64_t manualNow_ = 0;
    std::int64_t offset_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::thread::id uiThread_;
    bool uiThreadBound_ = false;
    std::atomic<int> outstanding_{0};
    std::atomic<UiLoopDriver*> driver_{nullptr};
    // Counts every post, timer, wake and end of outstanding work, under mutex_: a waiter that saw
    // the count before it last looked at its condition does not wait once it has moved, so a wake
    // that comes between the look and the wait is not lost.
    std::uint64_t wakes_ = 0;
    std::uint64_t waitsSleptThrough_ = 0;
};

} // namespace tavi::runtime
