#include "runtime/platform/message_queue.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <vector>

namespace tavi::runtime {
namespace {

// The queues by thread. Never destroyed: a detached thread may still be ending, running its
// thread-local destructors, while the process destroys its statics.
struct Registry {
    std::mutex mutex;
    std::map<ThreadId, std::weak_ptr<MessageQueue>> queues;
};

Registry& TheRegistry() {
    static auto* registry = new Registry();
    return *registry;
}

std::atomic<ThreadId> nextThreadId{1};

struct CurrentQueue {
    ThreadId id = nextThreadId.fetch_add(1);
    std::shared_ptr<MessageQueue> queue;
    ~CurrentQueue() {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.queues.erase(id);
    }
};

thread_local CurrentQueue current;

} // namespace

MessageQueue::MessageQueue() : wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

MessageQueue::~MessageQueue() {
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

ThreadId MessageQueue::CurrentThreadId() {
    return current.id;
}

MessageQueue& MessageQueue::Current() {
    if (!current.queue) {
        current.queue = std::make_shared<MessageQueue>();
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.queues[current.id] = current.queue;
    }
    return *current.queue;
}

void MessageQueue::ReleaseCurrent() {
    {
        Registry& registry = TheRegistry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        registry.queues.erase(current.id);
    }
    current.queue.reset();
}

std::shared_ptr<MessageQueue> MessageQueue::Prepare(ThreadId& id) {
    id = nextThreadId.fetch_add(1);
    auto queue = std::make_shared<MessageQueue>();
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.queues[id] = queue;
    return queue;
}

void MessageQueue::AdoptAsCurrent(ThreadId id, std::shared_ptr<MessageQueue> queue) {
    // The id this thread was given by default was never handed out; the prepared one replaces it.
    current.id = id;
    current.queue = std::move(queue);
}

void MessageQueue::Forget(ThreadId id) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.queues.erase(id);
}

std::shared_ptr<MessageQueue> MessageQueue::Find(ThreadId thread) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    auto found = registry.queues.find(thread);
    return found == registry.queues.end() ? nullptr : found->second.lock();
}

void MessageQueue::Post(const MSG& msg) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(msg);
    }
    std::uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof(one)) < 0) {
        // The counter is saturated only when the owner is far behind; it is awake already.
    }
}

bool MessageQueue::PopLocked(MSG* msg, bool remove) {
    if (messages_.empty())
        return false;
    if (msg)
        *msg = messages_.front();
    if (remove)
        messages_.pop_front();
    return true;
}

bool MessageQueue::Peek(MSG* msg, bool remove) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (PopLocked(msg, remove))
            return true;
    }
    PollOnce(0);
    std::lock_guard<std::mutex> lock(mutex_);
    return PopLocked(msg, remove);
}

bool MessageQueue::Wait(int timeoutMs) {
    // The clock is read only for a wait with a limit.
    auto deadline = timeoutMs < 0 ? std::chrono::steady_clock::time_point()
                                  : std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!messages_.empty())
                return true;
        }
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                PollOnce(0);
                std::lock_guard<std::mutex> lock(mutex_);
                return !messages_.empty();
            }
            wait = static_cast<int>(left.count());
        }
        PollOnce(wait);
    }
}

bool MessageQueue::Get(MSG* msg, int timeoutMs) {
    if (!Wait(timeoutMs))
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    return PopLocked(msg, true);
}

void MessageQueue::PollOnce(int timeoutMs) {
    // The lists are the queue's own, kept from one poll to the next (only the owner polls).
    std::vector<pollfd>& fds = pollFds_;
    std::vector<int>& ids = pollIds_;
    fds.clear();
    ids.clear();
    fds.push_back({wakeFd_, POLLIN, 0});
    for (auto& [id, watch] : watches_) {
        if (watch.pending || watch.events == 0)
            continue;
        fds.push_back({watch.fd, watch.events, 0});
        ids.push_back(id);
    }
    int ready = poll(fds.data(), fds.size(), timeoutMs);
    if (ready <= 0)
        return;
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        while (read(wakeFd_, &count, sizeof(count)) > 0) {
        }
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents == 0)
            continue;
        auto found = watches_.find(ids[i - 1]);
        if (found == watches_.end())
            continue;
        found->second.pending = true;
        MSG event;
        event.message = WM_SOCKET_EVENT;
        event.wParam = static_cast<std::uintptr_t>(ids[i - 1]);
        event.lParam = fds[i].revents;
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(event);
    }
}

int MessageQueue::WatchFd(int fd, short events, FdHandler handler) {
    int id = nextWatchId_++;
    watches_[id] = Watch{fd, events, false, std::move(handler)};
    return id;
}

void MessageQueue::SetFdEvents(int watchId, short events) {
    auto found = watches_.find(watchId);
    if (found != watches_.end())
        found->second.events = events;
}

void MessageQueue::UnwatchFd(int watchId) {
    watches_.erase(watchId);
}

void MessageQueue::RaiseFdEvent(int watchId, short revents) {
    auto found = watches_.find(watchId);
    if (found == watches_.end() || found->second.pending)
        return;
    found->second.pending = true;
    MSG event;
    event.message = WM_SOCKET_EVENT;
    event.wParam = static_cast<std::uintptr_t>(watchId);
    event.lParam = revents;
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(event);
}

void MessageQueue::DispatchFdEvent(const MSG& msg) {
    auto found = watches_.find(static_cast<int>(msg.wParam));
    if (found == watches_.end())
        return;
    found->second.pending = false;
    // The handler may unwatch itself; call a copy.
    FdHandler handler = found->second.handler;
    handler(static_cast<short>(msg.lParam));
}

} // namespace tavi::runtime

namespace tavi {

using runtime::MessageQueue;

bool GetMessageA(MSG* msg) {
    MSG taken;
    MessageQueue::Current().Get(&taken, -1);
    if (msg)
        *msg = taken;
    return taken.message != WM_QUIT;
}

bool PeekMessageA(MSG* msg, bool remove) {
    return MessageQueue::Current().Peek(msg, remove);
}

bool WaitMessageFor(int milliseconds) {
    return MessageQueue::Current().Wait(milliseconds);
}

void TranslateMessage(const MSG*) {}

void DispatchMessageA(const MSG* msg) {
    if (msg && msg->message == WM_SOCKET_EVENT)
        MessageQueue::Current().DispatchFdEvent(*msg);
}

bool PostThreadMessageA(ThreadId thread, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    auto queue = MessageQueue::Find(thread);
    if (!queue)
        return false;
    MSG msg;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    queue->Post(msg);
    return true;
}

void PostQuitMessage(int exitCode) {
    MSG msg;
    msg.message = WM_QUIT;
    msg.wParam = static_cast<std::uintptr_t>(exitCode);
    MessageQueue::Current().Post(msg);
}

ThreadId GetCurrentThreadId() {
    return MessageQueue::CurrentThreadId();
}

} // namespace tavi
