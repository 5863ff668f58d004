#include "runtime/core/ui_loop.h"

#include <algorithm>
#include <vector>

namespace tavi::runtime {

UiLoop::UiLoop() : start_(std::chrono::steady_clock::now()) {}

UiLoop& UiLoop::Instance() {
    static UiLoop* loop = new UiLoop(); // never destroyed: workers may post during exit
    return *loop;
}

void UiLoop::BindToCurrentThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    uiThread_ = std::this_thread::get_id();
    uiThreadBound_ = true;
}

bool UiLoop::IsUiThread() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return uiThreadBound_ && uiThread_ == std::this_thread::get_id();
}

void UiLoop::Post(Call call) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(std::move(call));
        NoteWakeLocked();
    }
    wake_.notify_all();
    if (UiLoopDriver* driver = driver_.load())
        driver->Wake();
}

std::int64_t UiLoop::RealNow() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_).count();
}

std::int64_t UiLoop::Now() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return manual_ ? manualNow_ : RealNow() + offset_;
}

void UiLoop::UseManualClock(bool manual) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (manual == manual_)
        return;
    // Keep the clock continuous across the switch.
    if (manual)
        manualNow_ = RealNow() + offset_;
    else
        offset_ = manualNow_ - RealNow();
    manual_ = manual;
}

UiLoop::TimerId UiLoop::AddTimer(std::int64_t delayMilliseconds, Call call) {
    TimerId id;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::int64_t now = manual_ ? manualNow_ : RealNow() + offset_;
        id = nextTimer_++;
        timers_[id] = Timer{now + (delayMilliseconds < 0 ? 0 : delayMilliseconds), nextSequence_++, std::move(call)};
        NoteWakeLocked();
    }
    wake_.notify_all();
    if (UiLoopDriver* driver = driver_.load())
        driver->Wake();
    return id;
}

bool UiLoop::CancelTimer(TimerId id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.erase(id) != 0;
}

std::size_t UiLoop::PendingTimers() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timers_.size();
}

bool UiLoop::HasPendingCalls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !posted_.empty();
}

void UiLoop::AddOutstanding(int delta) {
    outstanding_.fetch_add(delta);
    if (delta < 0)
        Wake();
}

void UiLoop::Wake() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        NoteWakeLocked();
    }
    wake_.notify_all();
    if (UiLoopDriver* driver = driver_.load())
        driver->Wake();
}

void UiLoop::SetDriver(UiLoopDriver* driver) { driver_.store(driver); }

std::int64_t UiLoop::MillisecondsUntilReady() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!posted_.empty())
        return 0;
    std::int64_t now = manual_ ? manualNow_ : RealNow() + offset_;
    std::int64_t wait = -1;
    for (auto& [id, timer] : timers_) {
        // A manual clock moves only by Advance: its timers never fall due by waiting.
        if (manual_ && timer.due > now)
            continue;
        std::int64_t left = std::max<std::int64_t>(0, timer.due - now);
        if (wait < 0 || left < wait)
            wait = left;
    }
    return wait;
}

std::uint64_t UiLoop::WakeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return wakes_;
}

std::uint64_t UiLoop::WaitsSleptThrough() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return waitsSleptThrough_;
}

// Runs the posted calls that are queued now, then the earliest due timer. True when anything ran.
bool UiLoop::RunReadyOnce() {
    std::deque<Call> calls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls.swap(posted_);
    }
    bool ran = !calls.empty();
    for (auto& call : calls)
        call();

    Call due;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::int64_t now = manual_ ? manualNow_ : RealNow() + offset_;
        auto earliest = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->second.due > now)
                continue;
            if (earliest == timers_.end() || it->second.due < earliest->second.due ||
                (it->second.due == earliest->second.due && it->second.sequence < earliest->second.sequence))
                earliest = it;
        }
        if (earliest != timers_.end()) {
            due = std::move(earliest->second.call);
            timers_.erase(earliest);
        }
    }
    if (due) {
        due();
        ran = true;
    }
    return ran;
}

void UiLoop::RunUntilIdle() {
    while (RunReadyOnce()) {
    }
}

bool UiLoop::RunOnce(std::int64_t maxWaitMilliseconds) {
    return RunOnceSince(maxWaitMilliseconds, WakeCount());
}

bool UiLoop::RunOnceSince(std::int64_t maxWaitMilliseconds, std::uint64_t seen) {
    if (RunReadyOnce())
        return true;
    if (UiLoopDriver* driver = driver_.load()) {
        // The driver's loop dispatches this loop's work among its other sources.
        std::int64_t wait = MillisecondsUntilReady();
        driver->Iterate(wait < 0 ? maxWaitMilliseconds : std::min(wait, maxWaitMilliseconds));
        return RunReadyOnce();
    }
    std::unique_lock<std::mutex> lock(mutex_);
    std::int64_t wait = maxWaitMilliseconds;
    if (!manual_) {
        std::int64_t now = RealNow() + offset_;
        for (auto& [id, timer] : timers_)
            wait = std::min(wait, timer.due - now);
    }
    if (wait > 0 && posted_.empty() && wakes_ == seen) {
        if (!wake_.wait_for(lock, std::chrono::milliseconds(wait), [&] { return wakes_ != seen; }))
            ++waitsSleptThrough_;
    }
    lock.unlock();
    return RunReadyOnce();
}

bool UiLoop::RunUntil(const std::function<bool()>& condition, std::int64_t boundMilliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
    for (;;) {
        // Taken before the condition is looked at: whatever could change it afterwards (work
        // ending on another thread, a post) moves the count, and the wait below is then skipped.
        std::uint64_t seen = WakeCount();
        RunUntilIdle();
        if (condition())
            return true;
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            return false;
        RunOnceSince(std::min<std::int64_t>(left, 50), seen);
    }
}

void UiLoop::Advance(std::int64_t milliseconds) {
    std::int64_t target;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        target = (manual_ ? manualNow_ : RealNow() + offset_) + milliseconds;
    }
    // Step from timer to timer so that each runs with the clock at its own time.
    for (;;) {
        RunUntilIdle();
        std::lock_guard<std::mutex> lock(mutex_);
        std::int64_t now = manual_ ? manualNow_ : RealNow() + offset_;
        std::int64_t next = target;
        for (auto& [id, timer] : timers_)
            if (timer.due > now && timer.due < next)
                next = timer.due;
        if (next <= now && now >= target)
            break;
        std::int64_t step = next - now;
        if (step <= 0)
            break;
        if (manual_)
            manualNow_ += step;
        else
            offset_ += step;
    }
    RunUntilIdle();
}

} // namespace tavi::runtime
