// The message queue behind each thread's message loop. Its wait also watches the file descriptors
// that the thread's sockets registered, and turns their readiness into messages, so a socket's
// events reach it through the loop of the thread that owns it.
#pragma once

#include <poll.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "host/win_thread.h"

namespace tavi::runtime {

class MessageQueue {
public:
    using FdHandler = std::function<void(short revents)>;

    MessageQueue();
    ~MessageQueue();
    MessageQueue(const MessageQueue&) = delete;
    MessageQueue& operator=(const MessageQueue&) = delete;

    // The calling thread's queue, created on first use.
    static MessageQueue& Current();
    // The queue of a thread that has one, or null.
    static std::shared_ptr<MessageQueue> Find(ThreadId thread);
    static ThreadId CurrentThreadId();
    // Drops the calling thread's queue (as its thread ends): later posts to the thread fail.
    static void ReleaseCurrent();
    // For a thread about to be started: its id and its queue, made and registered by the creator,
    // so that posts to the thread queue up before it runs; the thread then adopts them as its own
    // (AdoptAsCurrent, first thing). Forget undoes a queue whose thread could not be started.
    static std::shared_ptr<MessageQueue> Prepare(ThreadId& id);
    static void AdoptAsCurrent(ThreadId id, std::shared_ptr<MessageQueue> queue);
    static void Forget(ThreadId id);

    // Any thread.
    void Post(const MSG& msg);
    // Owner thread. Waits up to timeoutMs (-1: without limit); false when nothing came in time.
    bool Get(MSG* msg, int timeoutMs);
    bool Peek(MSG* msg, bool remove);
    // Owner thread. Waits up to timeoutMs (-1: without limit) until a message is queued.
    bool Wait(int timeoutMs);

    // Owner thread. Readiness of fd for events becomes a WM_SOCKET_EVENT message; dispatching it
    // calls the handler with the poll result. The fd is not watched again until that dispatch.
    int WatchFd(int fd, short events, FdHandler handler);
    void SetFdEvents(int watchId, short events);
    void UnwatchFd(int watchId);
    // Owner thread: queues a socket event for the watch now, as if its fd had become ready with
    // revents, unless one is already waiting. A socket hands out what it has buffered this way.
    void RaiseFdEvent(int watchId, short revents);
    // Owner thread: calls the handler of a socket event message.
    void DispatchFdEvent(const MSG& msg);

private:
    struct Watch {
        int fd;
        short events;
        bool pending;
        FdHandler handler;
    };
    bool PopLocked(MSG* msg, bool remove);
    void PollOnce(int timeoutMs);

    std::mutex mutex_;
    std::deque<MSG> messages_;
    int wakeFd_;
    std::map<int, Watch> watches_; // owner thread only
    int nextWatchId_ = 1;
    std::vector<pollfd> pollFds_; // owner thread only
    std::vector<int> pollIds_;    // owner thread only
};

} // namespace tavi::runtime
