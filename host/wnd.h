// The host framework's window: an object with a window handle, a style, a text, a parent, a
// visible and an enabled state, focus and a message procedure. Handles are opaque values that the
// host checks before use, so a stale handle finds no window instead of a freed object. All of it but
// PostMessageA runs on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>

#include "host/skin_object.h"
#include "host/win_thread.h"

namespace tavi {

// Window styles.
constexpr unsigned WS_POPUP = 0x80000000u;
constexpr unsigned WS_CHILD = 0x40000000u;
constexpr unsigned WS_VISIBLE = 0x10000000u;
constexpr unsigned WS_DISABLED = 0x08000000u;
constexpr unsigned WS_CAPTION = 0x00C00000u;
constexpr unsigned WS_SYSMENU = 0x00080000u;
constexpr unsigned WS_THICKFRAME = 0x00040000u;
constexpr unsigned WS_MINIMIZEBOX = 0x00020000u;
constexpr unsigned WS_MAXIMIZEBOX = 0x00010000u;
constexpr unsigned WS_TABSTOP = 0x00010000u; // on child windows
// Edit styles.
constexpr unsigned ES_MULTILINE = 0x0004u;
constexpr unsigned ES_PASSWORD = 0x0020u;
constexpr unsigned ES_AUTOVSCROLL = 0x0040u;
constexpr unsigned ES_AUTOHSCROLL = 0x0080u;
constexpr unsigned ES_READONLY = 0x0800u;
constexpr unsigned ES_NUMBER = 0x2000u;

// Messages (beside those of host/win_thread.h).
constexpr unsigned WM_DESTROY = 0x0002;
constexpr unsigned WM_SETFOCUS = 0x0007;
constexpr unsigned WM_KILLFOCUS = 0x0008;
constexpr unsigned WM_ENABLE = 0x000A;
constexpr unsigned WM_SETTEXT = 0x000C;
constexpr unsigned WM_GETTEXT = 0x000D;
constexpr unsigned WM_GETTEXTLENGTH = 0x000E;
constexpr unsigned WM_CLOSE = 0x0010;
constexpr unsigned WM_SHOWWINDOW = 0x0018;
constexpr unsigned WM_MOUSEMOVE = 0x0200;
constexpr unsigned WM_LBUTTONDOWN = 0x0201;
constexpr unsigned WM_LBUTTONUP = 0x0202;
constexpr unsigned EM_SETSEL = 0x00B1;
constexpr unsigned EM_REPLACESEL = 0x00C2;
constexpr unsigned EM_LIMITTEXT = 0x00C5;
constexpr unsigned EM_GETLIMITTEXT = 0x00D5;

// Virtual keys.
constexpr unsigned VK_BACK = 0x08;
constexpr unsigned VK_TAB = 0x09;
constexpr unsigned VK_RETURN = 0x0D;
constexpr unsigned VK_SHIFT = 0x10;
constexpr unsigned VK_ESCAPE = 0x1B;
constexpr unsigned VK_SPACE = 0x20;
constexpr unsigned VK_END = 0x23;
constexpr unsigned VK_HOME = 0x24;
constexpr unsigned VK_DELETE = 0x2E;
constexpr unsigned VK_F5 = 0x74;
constexpr unsigned VK_PACKET = 0xE7; // a character that has no key of its own

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

constexpr int IDC_ARROW = 32512;
constexpr int IDC_WAIT = 32514;
constexpr int IDC_HAND = 32649;

// The screen the host places top-level windows on.
constexpr int kScreenWidth = 1280;
constexpr int kScreenHeight = 800;

// Parameters of an event a hosted control (such as the web browser) raises to its parent window.
struct EventSinkParams {
    void* dispatch = nullptr;     // the control's dispatch object
    void** newDispatch = nullptr; // new-window requests: where a new browser would be returned
    const std::string* url = nullptr;
    bool* cancel = nullptr; // new-window requests: set to true to cancel
};

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Creates the window. A child window (WS_CHILD) needs a live parent window; a top-level
    // window may name an owner. False when the window exists already or the parent is not a window.
    bool CreateEx(unsigned style, const std::string& className, const std::string& title,
                  const SkinRect& rect, void* parent, int id);
    // Destroys the window and its child windows (the object stays). False when there is none.
    virtual bool DestroyWindow();

    void* GetSafeHwnd() const { return handle_; }
    static CWnd* FromHandle(void* hwnd);
    bool IsWindow() const { return handle_ != nullptr; }
    CWnd* GetParent() const;
    // The top-level window that holds this one (itself when it is one).
    CWnd* GetTopLevel();
    // The style; WS_VISIBLE and WS_DISABLED follow ShowWindow and EnableWindow.
    unsigned GetStyle() const { return style_; }
    void ModifyStyle(unsigned remove, unsigned add) { style_ = (style_ & ~remove) | add; }
    bool IsChild() const { return (style_ & WS_CHILD) != 0; }
    int GetDlgCtrlID() const { return controlId_; }
    const std::string& GetClassName() const { return className_; }

    bool ShowWindow(int command);
    // Visible itself and through every parent.
    bool IsWindowVisible() const;
    bool EnableWindow(bool enable);
    bool IsWindowEnabled() const;
    void SetWindowText(const std::string& text);
    std::string GetWindowText() const;
    int GetWindowTextLength() const;

    // Gives this window the keyboard focus; returns the window that had it.
    CWnd* SetFocus();
    static CWnd* GetFocus();
    // Makes this top-level window the one the user works in.
    bool SetForegroundWindow();
    static CWnd* GetForegroundWindow();
    void BringWindowToTop();

    SkinRect GetWindowRect() const { return rect_; }
    void MoveWindow(const SkinRect& rect, bool repaint = true);
    // Centres a top-level window on the screen.
    void CenterWindow();

    std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // Queues the message on the user-interface loop, through the host's pre-translation.
    bool PostMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);

    // Pre-translation of a message of the loop before it is dispatched; true when consumed.
    virtual bool PreTranslateMessage(MSG* msg);
    // Offers the message to the window it is for and to each of its parents, nearest first, each
    // window once per message; true as soon as one consumed it. This is the pre-translation an
    // application object does for its windows (dialog keys, accelerators).
    static bool WalkPreTranslateTree(MSG* msg);

    // Events of the hosted controls of this window, by control id and dispatch id; the
    // window's event sink map. Non-zero when handled.
    virtual int OnEventSink(int controlId, int dispatchId, EventSinkParams& params);

protected:
    virtual std::intptr_t WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    std::intptr_t DefWindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    // The close message; by default the window is destroyed.
    virtual void OnClose();
    // The destroy message, sent while the window still exists.
    virtual void OnDestroy();
    // After the window was shown or hidden, or enabled or disabled.
    virtual void OnShowWindow(bool show);
    virtual void OnEnable(bool enabled);
    // After the window text changed.
    virtual void OnTextChanged();
    virtual void OnSetFocus();
    virtual void OnKillFocus();
    // After the window was moved or sized.
    virtual void OnMoved();
    // Called last when the window has been destroyed.
    virtual void PostNcDestroy();
    // Stores the window text and calls OnTextChanged (what WM_SETTEXT does).
    void SetWindowTextValue(const std::string& text);

private:
    friend struct WindowRegistry;
    void TearDown(bool notify);

    void* handle_ = nullptr;
    void* parentHandle_ = nullptr;
    unsigned style_ = 0;
    int controlId_ = 0;
    std::string className_;
    std::string text_;
    SkinRect rect_;
};

// The window calls of the platform, on handles.
bool IsWindow(void* hwnd);
bool IsWindowVisible(void* hwnd);
bool EnableWindow(void* hwnd, bool enable);
bool SetForegroundWindow(void* hwnd);
void* GetFocus();
std::intptr_t SendMessageA(void* hwnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
// Any thread; the message reaches the window through the loop's pre-translation, if the window
// still exists then.
bool PostMessageA(void* hwnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
bool SetCaretPos(int x, int y);
bool GetCaretPos(int* x, int* y);
// System cursors (instance null) by id; SetCursor returns the cursor that was set before.
void* LoadCursorA(void* instance, int cursorId);
void* SetCursor(void* cursor);
void* GetCursor();

} // namespace tavi
