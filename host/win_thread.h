// The platform's thread with a message queue, as the host framework gives it: a thread runs a
// message loop over messages posted to it, and the socket library delivers a connection's events
// through the loop of the thread that owns the connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace tavi {

constexpr unsigned WM_NULL = 0x0000;
constexpr unsigned WM_QUIT = 0x0012;
constexpr unsigned WM_KEYDOWN = 0x0100;
constexpr unsigned WM_KEYUP = 0x0101;
constexpr unsigned WM_CHAR = 0x0102;
constexpr unsigned WM_USER = 0x0400;
// Internal: a socket event waiting to be dispatched to its connection.
constexpr unsigned WM_SOCKET_EVENT = 0x8001;

struct MSG {
    void* hwnd = nullptr;
    unsigned message = WM_NULL;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

using ThreadId = std::uint64_t;

// The calling thread's message queue, created on first use. GetMessageA waits for a message (and
// for the calling thread's sockets) and returns false on WM_QUIT; PeekMessageA never waits.
bool GetMessageA(MSG* msg);
bool PeekMessageA(MSG* msg, bool remove);
// Waits at most the given milliseconds for a message or a socket event; true when one is there.
bool WaitMessageFor(int milliseconds);
void TranslateMessage(const MSG* msg);
void DispatchMessageA(const MSG* msg);
bool PostThreadMessageA(ThreadId thread, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
void PostQuitMessage(int exitCode);
ThreadId GetCurrentThreadId();

// A thread with its own message loop. Created suspended as an object; CreateThread starts it.
// With auto-delete set the object deletes itself when its thread ends.
class CWinThread {
public:
    CWinThread();
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread; false when it could not be created.
    bool CreateThread();
    ThreadId GetThreadId() const;
    bool PostThreadMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);

    virtual bool InitInstance() { return true; }
    // The message loop; its result is the thread's exit code.
    virtual int Run();
    virtual int ExitInstance() { return 0; }
    virtual bool PreTranslateMessage(MSG* /*msg*/) { return false; }
    // Idle work between messages; true asks for more idle calls.
    virtual bool OnIdle(long /*count*/) { return false; }
    // Whether Run should stop; tested while idle and before each message is taken and dispatched.
    virtual bool IsDone() const { return false; }

    bool autoDelete = true;

    // A handle that observes the thread's end and stays valid after the object is gone.
    class Handle {
    public:
        // Waits at most the given milliseconds; true once the thread has ended.
        bool WaitFor(int milliseconds) const;
        bool HasEnded() const;
        struct State;
        std::shared_ptr<State> state;
    };
    Handle GetHandle() const;

private:
    static void ThreadMain(CWinThread* self, std::shared_ptr<Handle::State> state);
    std::shared_ptr<Handle::State> state_;
};

} // namespace tavi
