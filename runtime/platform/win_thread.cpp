#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "host/module_state.h"
#include "host/win_thread.h"
#include "runtime/platform/message_queue.h"

namespace tavi {

struct CWinThread::Handle::State {
    std::mutex mutex;
    std::condition_variable changed;
    bool ended = false;
    ThreadId id = 0;
};

bool CWinThread::Handle::WaitFor(int milliseconds) const {
    if (!state)
        return true;
    std::unique_lock<std::mutex> lock(state->mutex);
    return state->changed.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                   [&] { return state->ended; });
}

bool CWinThread::Handle::HasEnded() const {
    if (!state)
        return true;
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->ended;
}

CWinThread::CWinThread() : state_(std::make_shared<Handle::State>()) {}

CWinThread::~CWinThread() = default;

CWinThread::Handle CWinThread::GetHandle() const {
    return Handle{state_};
}

ThreadId CWinThread::GetThreadId() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->id;
}

bool CWinThread::PostThreadMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    return PostThreadMessageA(GetThreadId(), message, wParam, lParam);
}

bool CWinThread::CreateThread() {
    auto state = state_;
    // The id is known, and the queue exists, before the creator can post to the thread: both are
    // made here, so the creator need not wait for the thread to start.
    ThreadId id = 0;
    std::shared_ptr<runtime::MessageQueue> queue = runtime::MessageQueue::Prepare(id);
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->id = id;
    }
    try {
        std::thread([this, state, id, queue]() mutable {
            runtime::MessageQueue::AdoptAsCurrent(id, std::move(queue));
            ThreadMain(this, std::move(state));
        }).detach();
    } catch (const std::system_error&) {
        runtime::MessageQueue::Forget(id);
        std::lock_guard<std::mutex> lock(state->mutex);
        state->id = 0;
        return false;
    }
    return true;
}

void CWinThread::ThreadMain(CWinThread* self, std::shared_ptr<Handle::State> state) {
    if (self->InitInstance())
        self->Run();
    else
        self->ExitInstance();
    if (self->autoDelete)
        delete self;
    runtime::MessageQueue::ReleaseCurrent();
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->ended = true;
    }
    state->changed.notify_all();
}

int CWinThread::Run() {
    MSG msg;
    long idleCount = 0;
    for (;;) {
        while (!IsDone() && !PeekMessageA(&msg, false)) {
            if (!OnIdle(idleCount++))
                break;
        }
        if (IsDone())
            break;
        if (!GetMessageA(&msg))
            break;
        if (IsDone())
            break;
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (IsDone())
            break;
        idleCount = 0;
    }
    return ExitInstance();
}

namespace {
ModuleState hostModule{"host"};
thread_local ModuleState* currentModule = &hostModule;
} // namespace

ModuleState* GetCurrentModuleState() {
    return currentModule;
}

ModuleStateGuard::ModuleStateGuard(ModuleState* state) : previous_(currentModule) {
    if (state)
        currentModule = state;
}

ModuleStateGuard::~ModuleStateGuard() {
    currentModule = previous_;
}

} // namespace tavi
