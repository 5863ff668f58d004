// What the host program uses of the UI library beyond the host interfaces: the message loop's
// pre-translation (the plug-ins' MyPreTranslateMessage, then the host's own windows), and the host's
// main form.
#pragma once

#include <cstdint>

#include "host/wnd.h"

namespace tavi {
class CDockFormEx;
} // namespace tavi

namespace tavi::runtime {

// A plug-in's message hook: non-zero when it consumed the message.
using PreTranslateHook = int (*)(void* message);
void AddPreTranslateHook(PreTranslateHook hook);
void RemovePreTranslateHook(PreTranslateHook hook);

// A message of the host's loop: offered to every hook, then to the windows from the one it is for up
// to its top-level window (each window once), then dispatched to its window. True when
// pre-translation consumed it. User-interface thread.
bool DispatchHostMessage(MSG& msg);

// A key message (WM_KEYDOWN, WM_CHAR, WM_KEYUP) to the window, through DispatchHostMessage; true
// when pre-translation consumed it.
bool SendKeyMessage(void* hwnd, unsigned message, std::uintptr_t wParam);
// Typing as the keyboard gives it, through DispatchHostMessage to the window: the key's down
// message, the character (unless pre-translation took the key), the key's up message.
void TypeCharacter(void* hwnd, char32_t c);
// A key without a character (Delete, Home, End): its down and up messages.
void TypeKey(void* hwnd, unsigned virtualKey);

// Builds the host's main form (toolbar "ButtonManager" with "ToolbarMicroBlog", the plug-in
// container), registers it as the main form and returns it, hidden. Null when its build fails.
CDockFormEx* CreateHostMainForm();

} // namespace tavi::runtime
