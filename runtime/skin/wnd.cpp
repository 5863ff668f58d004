// Windows: handles, the parent chain, visibility, enabled state, text, focus, the foreground
// window and the z-order of top-level windows, messages and their pre-translation.
#include "host/wnd.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "runtime/core/ui_loop.h"
#include "runtime/skin/skin_runtime.h"
#include "runtime/skin/skin_view.h"

namespace tavi {

// The windows of the process. User-interface thread only.
struct WindowRegistry {
    std::map<void*, CWnd*> windows;
    // Top-level windows, the topmost last.
    std::vector<CWnd*> zorder;
    CWnd* focus = nullptr;
    CWnd* foreground = nullptr;
    std::uintptr_t nextHandle = 0x10000;

    static WindowRegistry& Get() {
        static WindowRegistry registry;
        return registry;
    }

    void ForgetTopLevel(CWnd* window) {
        std::erase(zorder, window);
        if (foreground == window)
            foreground = TopmostVisible();
    }
    CWnd* TopmostVisible() const {
        for (auto it = zorder.rbegin(); it != zorder.rend(); ++it)
            if ((*it)->style_ & WS_VISIBLE)
                return *it;
        return nullptr;
    }
    void Raise(CWnd* window) {
        std::erase(zorder, window);
        zorder.push_back(window);
    }
    bool IsInside(CWnd* window, CWnd* ancestor) const {
        for (CWnd* up = window; up; up = up->GetParent())
            if (up == ancestor)
                return true;
        return false;
    }
};

namespace {

// The handles already offered a message during its pre-translation, so that the plug-ins' walks
// and the host's each reach a window once.
thread_local std::set<void*>* preTranslated = nullptr;

int caretX = 0;
int caretY = 0;
void* currentCursor = nullptr;

} // namespace

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (handle_ == nullptr)
        return;
    // Child windows go with their parent; this object's own handlers cannot run any more.
    WindowRegistry& registry = WindowRegistry::Get();
    std::vector<CWnd*> children;
    for (auto& [handle, window] : registry.windows)
        if (window->parentHandle_ == handle_)
            children.push_back(window);
    for (CWnd* child : children)
        if (child->handle_)
            child->DestroyWindow();
    TearDown(false);
}

bool CWnd::CreateEx(unsigned style, const std::string& className, const std::string& title,
                    const SkinRect& rect, void* parent, int id) {
    if (handle_ != nullptr)
        return false;
    WindowRegistry& registry = WindowRegistry::Get();
    if (parent != nullptr && FromHandle(parent) == nullptr)
        return false;
    if ((style & WS_CHILD) && parent == nullptr)
        return false;
    // Handles are numbers never used twice, so a stale one finds no window.
    handle_ = reinterpret_cast<void*>(registry.nextHandle); // NOLINT(performance-no-int-to-ptr)
    registry.nextHandle += 4;
    registry.windows[handle_] = this;
    parentHandle_ = parent;
    style_ = style & ~WS_VISIBLE;
    controlId_ = id;
    className_ = className;
    text_ = title;
    rect_ = rect;
    if (!IsChild())
        registry.zorder.insert(registry.zorder.begin(), this);
    if (runtime::ISkinView* view = runtime::GetSkinView())
        view->OnWindowCreated(this);
    if (style & WS_VISIBLE)
        ShowWindow(IsChild() ? SW_SHOWNA : SW_SHOW);
    return true;
}

bool CWnd::DestroyWindow() {
    if (handle_ == nullptr)
        return false;
    void* handle = handle_;
    SendMessage(WM_DESTROY);
    WindowRegistry& registry = WindowRegistry::Get();
    std::vector<void*> children;
    for (auto& [childHandle, window] : registry.windows)
        if (window->parentHandle_ == handle)
            children.push_back(childHandle);
    for (void* child : children)
        if (CWnd* window = FromHandle(child))
            window->DestroyWindow();
    if (FromHandle(handle) != this)
        return true;
    TearDown(true);
    PostNcDestroy();
    return true;
}

void CWnd::TearDown(bool notify) {
    WindowRegistry& registry = WindowRegistry::Get();
    registry.windows.erase(handle_);
    if (!IsChild())
        registry.ForgetTopLevel(this);
    if (registry.focus == this)
        registry.focus = nullptr;
    handle_ = nullptr;
    style_ &= ~WS_VISIBLE;
    if (notify)
        if (runtime::ISkinView* view = runtime::GetSkinView())
            view->OnWindowDestroyed(this);
}

CWnd* CWnd::FromHandle(void* hwnd) {
    if (hwnd == nullptr)
        return nullptr;
    WindowRegistry& registry = WindowRegistry::Get();
    auto found = registry.windows.find(hwnd);
    return found == registry.windows.end() ? nullptr : found->second;
}

CWnd* CWnd::GetParent() const {
    return FromHandle(parentHandle_);
}

CWnd* CWnd::GetTopLevel() {
    CWnd* window = this;
    while (window->IsChild() && window->GetParent())
        window = window->GetParent();
    return window;
}

bool CWnd::ShowWindow(int command) {
    if (handle_ == nullptr)
        return false;
    WindowRegistry& registry = WindowRegistry::Get();
    bool was = (style_ & WS_VISIBLE) != 0;
    bool show = command != SW_HIDE;
    style_ = show ? (style_ | WS_VISIBLE) : (style_ & ~WS_VISIBLE);
    if (!IsChild()) {
        bool activate = command == SW_SHOW || command == SW_SHOWNORMAL || command == SW_RESTORE;
        if (show && activate) {
            registry.Raise(this);
            registry.foreground = this;
        } else if (!show && registry.foreground == this) {
            registry.foreground = registry.TopmostVisible();
        }
    }
    if (!show && registry.focus && registry.IsInside(registry.focus, this))
        registry.focus = nullptr;
    OnShowWindow(show);
    if (runtime::ISkinView* view = runtime::GetSkinView())
        view->OnWindowShown(this, show);
    return was;
}

bool CWnd::IsWindowVisible() const {
    if (handle_ == nullptr)
        return false;
    for (const CWnd* window = this; window; window = window->IsChild() ? window->GetParent() : nullptr)
        if (!(window->style_ & WS_VISIBLE))
            return false;
    return true;
}

bool CWnd::EnableWindow(bool enable) {
    if (handle_ == nullptr)
        return false;
    bool wasDisabled = (style_ & WS_DISABLED) != 0;
    style_ = enable ? (style_ & ~WS_DISABLED) : (style_ | WS_DISABLED);
    WindowRegistry& registry = WindowRegistry::Get();
    if (!enable && registry.focus && registry.IsInside(registry.focus, this))
        registry.focus = nullptr;
    OnEnable(enable);
    return wasDisabled;
}

bool CWnd::IsWindowEnabled() const {
    return handle_ != nullptr && (style_ & WS_DISABLED) == 0;
}

void CWnd::SetWindowText(const std::string& text) {
    SendMessage(WM_SETTEXT, 0, reinterpret_cast<std::intptr_t>(text.c_str()));
}

std::string CWnd::GetWindowText() const {
    return text_;
}
int CWnd::GetWindowTextLength() const {
    return static_cast<int>(text_.size());
}

void CWnd::SetWindowTextValue(const std::string& text) {
    text_ = text;
    OnTextChanged();
}

CWnd* CWnd::SetFocus() {
    WindowRegistry& registry = WindowRegistry::Get();
    CWnd* previous = registry.focus;
    if (handle_ == nullptr || previous == this)
        return previous;
    void* self = handle_;
    registry.focus = this;
    if (previous)
        previous->SendMessage(WM_KILLFOCUS);
    if (FromHandle(self) != this)
        return previous;
    SendMessage(WM_SETFOCUS);
    if (FromHandle(self) == this) {
        CWnd* top = GetTopLevel();
        if (top->style_ & WS_VISIBLE) {
            registry.Raise(top);
            registry.foreground = top;
        }
    }
    return previous;
}

CWnd* CWnd::GetFocus() {
    return WindowRegistry::Get().focus;
}

bool CWnd::SetForegroundWindow() {
    if (handle_ == nullptr)
        return false;
    CWnd* top = GetTopLevel();
    if (!(top->style_ & WS_VISIBLE))
        return false;
    WindowRegistry& registry = WindowRegistry::Get();
    registry.Raise(top);
    registry.foreground = top;
    return true;
}

CWnd* CWnd::GetForegroundWindow() {
    return WindowRegistry::Get().foreground;
}

void CWnd::BringWindowToTop() {
    if (handle_ == nullptr)
        return;
    CWnd* top = GetTopLevel();
    WindowRegistry& registry = WindowRegistry::Get();
    registry.Raise(top);
    if (top->style_ & WS_VISIBLE)
        registry.foreground = top;
}

void CWnd::MoveWindow(const SkinRect& rect, bool /*repaint*/) {
    if (handle_ == nullptr)
        return;
    rect_ = rect;
    OnMoved();
    if (runtime::ISkinView* view = runtime::GetSkinView())
        view->OnWindowMoved(this);
}

void CWnd::CenterWindow() {
    if (handle_ == nullptr)
        return;
    SkinRect area{0, 0, kScreenWidth, kScreenHeight};
    if (IsChild())
        if (CWnd* parent = GetParent())
            area = SkinRect{0, 0, parent->rect_.Width(), parent->rect_.Height()};
    int width = rect_.Width();
    int height = rect_.Height();
    int left = area.left + (area.Width() - width) / 2;
    int top = area.top + (area.Height() - height) / 2;
    MoveWindow(SkinRect{left, top, left + width, top + height});
}

std::intptr_t CWnd::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    if (handle_ == nullptr)
        return 0;
    return WindowProc(message, wParam, lParam);
}

bool CWnd::PostMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    return PostMessageA(handle_, message, wParam, lParam);
}

bool CWnd::PreTranslateMessage(MSG* /*msg*/) {
    return false;
}

bool CWnd::WalkPreTranslateTree(MSG* msg) {
    if (msg == nullptr)
        return false;
    void* handle = msg->hwnd;
    while (CWnd* window = FromHandle(handle)) {
        // Taken before the call: a handler may destroy the window.
        void* parent = window->IsChild() ? window->parentHandle_ : nullptr;
        bool fresh = preTranslated == nullptr || preTranslated->insert(handle).second;
        if (fresh && window->PreTranslateMessage(msg))
            return true;
        handle = parent;
    }
    return false;
}

int CWnd::OnEventSink(int /*controlId*/, int /*dispatchId*/, EventSinkParams& /*params*/) {
    return 0;
}

std::intptr_t CWnd::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    return DefWindowProc(message, wParam, lParam);
}

std::intptr_t CWnd::DefWindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_SETFOCUS:
        OnSetFocus();
        return 0;
    case WM_KILLFOCUS:
        OnKillFocus();
        return 0;
    case WM_SETTEXT:
        // Text messages carry the text's address, as the platform's messages do.
        SetWindowTextValue(
            lParam ? std::string(reinterpret_cast<const char*>(lParam)) // NOLINT(performance-no-int-to-ptr)
                   : std::string());
        return 1;
    case WM_GETTEXTLENGTH:
        return static_cast<std::intptr_t>(text_.size());
    case WM_GETTEXT: {
        auto* buffer = reinterpret_cast<char*>(lParam); // NOLINT(performance-no-int-to-ptr)
        if (buffer == nullptr || wParam == 0)
            return 0;
        std::size_t n = std::min<std::size_t>(wParam - 1, text_.size());
        std::memcpy(buffer, text_.data(), n);
        buffer[n] = '\0';
        return static_cast<std::intptr_t>(n);
    }
    default:
        return 0;
    }
}

void CWnd::OnClose() {
    DestroyWindow();
}
void CWnd::OnDestroy() {}
void CWnd::OnShowWindow(bool) {}
void CWnd::OnEnable(bool) {}
void CWnd::OnTextChanged() {}
void CWnd::OnSetFocus() {}
void CWnd::OnKillFocus() {}
void CWnd::OnMoved() {}
void CWnd::PostNcDestroy() {}

bool IsWindow(void* hwnd) {
    return CWnd::FromHandle(hwnd) != nullptr;
}

bool IsWindowVisible(void* hwnd) {
    CWnd* window = CWnd::FromHandle(hwnd);
    return window && window->IsWindowVisible();
}

bool EnableWindow(void* hwnd, bool enable) {
    CWnd* window = CWnd::FromHandle(hwnd);
    return window && window->EnableWindow(enable);
}

bool SetForegroundWindow(void* hwnd) {
    CWnd* window = CWnd::FromHandle(hwnd);
    return window && window->SetForegroundWindow();
}

void* GetFocus() {
    CWnd* window = CWnd::GetFocus();
    return window ? window->GetSafeHwnd() : nullptr;
}

std::intptr_t SendMessageA(void* hwnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    CWnd* window = CWnd::FromHandle(hwnd);
    return window ? window->SendMessage(message, wParam, lParam) : 0;
}

bool PostMessageA(void* hwnd, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    // Any thread may post: the handle is checked when the loop dispatches the message.
    if (hwnd == nullptr)
        return false;
    runtime::UiLoop::Instance().Post([hwnd, message, wParam, lParam] {
        MSG msg;
        msg.hwnd = hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        runtime::DispatchHostMessage(msg);
    });
    return true;
}

bool SetCaretPos(int x, int y) {
    caretX = x;
    caretY = y;
    return true;
}

bool GetCaretPos(int* x, int* y) {
    if (x == nullptr || y == nullptr)
        return false;
    *x = caretX;
    *y = caretY;
    return true;
}

void* LoadCursorA(void* instance, int cursorId) {
    if (instance != nullptr)
        return nullptr;
    switch (cursorId) {
    case IDC_ARROW:
    case IDC_WAIT:
    case IDC_HAND:
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return reinterpret_cast<void*>(static_cast<std::uintptr_t>(cursorId));
    default:
        return nullptr;
    }
}

void* SetCursor(void* cursor) {
    void* previous = currentCursor;
    currentCursor = cursor;
    return previous;
}

void* GetCursor() {
    return currentCursor;
}

namespace runtime {
namespace {
std::vector<PreTranslateHook>& Hooks() {
    static std::vector<PreTranslateHook> hooks;
    return hooks;
}
} // namespace

void AddPreTranslateHook(PreTranslateHook hook) {
    if (hook && std::find(Hooks().begin(), Hooks().end(), hook) == Hooks().end())
        Hooks().push_back(hook);
}

void RemovePreTranslateHook(PreTranslateHook hook) {
    std::erase(Hooks(), hook);
}

bool DispatchHostMessage(MSG& msg) {
    std::set<void*> offered;
    std::set<void*>* outer = preTranslated;
    preTranslated = &offered;
    bool consumed = false;
    std::vector<PreTranslateHook> hooks = Hooks();
    for (PreTranslateHook hook : hooks)
        if (hook(&msg) != 0) {
            consumed = true;
            break;
        }
    if (!consumed)
        consumed = CWnd::WalkPreTranslateTree(&msg);
    preTranslated = outer;
    if (consumed)
        return true;
    if (CWnd* window = CWnd::FromHandle(msg.hwnd))
        window->SendMessage(msg.message, msg.wParam, msg.lParam);
    return false;
}

namespace {

unsigned VirtualKeyOf(char32_t c) {
    if (c >= U'a' && c <= U'z')
        return static_cast<unsigned>(c - U'a' + 'A');
    if ((c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9'))
        return static_cast<unsigned>(c);
    if (c == U' ')
        return VK_SPACE;
    if (c == U'\n')
        return VK_RETURN;
    if (c == U'\t')
        return VK_TAB;
    return VK_PACKET;
}

} // namespace

bool SendKeyMessage(void* hwnd, unsigned message, std::uintptr_t wParam) {
    MSG msg;
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    return DispatchHostMessage(msg);
}

void TypeCharacter(void* hwnd, char32_t c) {
    unsigned key = VirtualKeyOf(c);
    // A key that pre-translation took (Tab, Enter of a dialog) gives no character.
    if (!SendKeyMessage(hwnd, WM_KEYDOWN, key))
        SendKeyMessage(hwnd, WM_CHAR, c == U'\n' ? U'\r' : c);
    SendKeyMessage(hwnd, WM_KEYUP, key);
}

void TypeKey(void* hwnd, unsigned virtualKey) {
    SendKeyMessage(hwnd, WM_KEYDOWN, virtualKey);
    SendKeyMessage(hwnd, WM_KEYUP, virtualKey);
}

} // namespace runtime
} // namespace tavi
