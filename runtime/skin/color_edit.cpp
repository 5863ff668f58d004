// The edit control: typing through character and key messages, the text limit and its tip, the
// edit styles, selection, and event 2 on every change of the content.
#include "host/color_edit.h"

#include <algorithm>

#include "host/core.h"
#include "host/services.h"
#include "runtime/skin/text_units.h"

namespace tavi {
namespace {

constexpr int kLimitTipMilliseconds = 2000;

bool IsLineBreak(char32_t c) {
    return c == U'\r' || c == U'\n';
}

} // namespace

CSWColorEdit::CSWColorEdit() {
    GetSkinObject()->SetKind(kKindEdit);
}
CSWColorEdit::~CSWColorEdit() = default;

bool CSWColorEdit::Create(unsigned style, const SkinRect& rect, void* parent, int id) {
    if ((style & WS_CHILD) == 0 || parent == nullptr)
        return false;
    std::string initial = GetSkinObject()->GetText();
    if (!CreateEx(style & ~WS_VISIBLE, "Edit", initial, rect, parent, id))
        return false;
    selStart_ = selEnd_ = 0;
    // The window starts as the skin object is: shown and enabled as the skin says.
    CSkinObject* skin = GetSkinObject();
    if (!skin->IsEnabled())
        EnableWindow(false);
    if ((style & WS_VISIBLE) && skin->IsVisible())
        ShowWindow(SW_SHOWNA);
    else
        skin->SetVisible(false);
    skin->CalculateBounds();
    return true;
}

void CSWColorEdit::LimitText(int limit) {
    limit_ = limit > 0 ? limit : 0;
}

void CSWColorEdit::SetSel(int start, int end) {
    int length = static_cast<int>(runtime::NarrowToUnicode(GetWindowText()).size());
    if (end < 0 || end > length)
        end = length;
    if (start < 0 || start > length)
        start = length;
    selStart_ = std::min(start, end);
    selEnd_ = std::max(start, end);
}

void CSWColorEdit::GetSel(int& start, int& end) const {
    start = selStart_;
    end = selEnd_;
}

bool CSWColorEdit::ReplaceSel(const std::string& text) {
    return InsertText(runtime::NarrowToUnicode(text));
}

std::string CSWColorEdit::GetDisplayText() const {
    if (!IsPassword())
        return GetWindowText();
    return std::string(runtime::NarrowToUnicode(GetWindowText()).size(), '*');
}

bool CSWColorEdit::InsertText(const std::u32string& typed) {
    if (GetStyle() & ES_READONLY) {
        ++refused_;
        return false;
    }
    std::u32string text = runtime::NarrowToUnicode(GetWindowText());
    int length = static_cast<int>(text.size());
    int start = std::clamp(selStart_, 0, length);
    int end = std::clamp(selEnd_, start, length);
    std::u32string result = text.substr(0, start) + typed + text.substr(end);
    std::string narrow = runtime::UnicodeToNarrow(result);
    if (limit_ > 0 && static_cast<int>(narrow.size()) > limit_) {
        Refuse();
        return false;
    }
    SetWindowTextValue(narrow);
    selStart_ = selEnd_ = start + static_cast<int>(typed.size());
    return true;
}

void CSWColorEdit::DeleteSelectionOrChar(bool forward) {
    if (GetStyle() & ES_READONLY)
        return;
    std::u32string text = runtime::NarrowToUnicode(GetWindowText());
    int length = static_cast<int>(text.size());
    int start = std::clamp(selStart_, 0, length);
    int end = std::clamp(selEnd_, start, length);
    if (start == end) {
        if (forward && end < length) {
            ++end;
            // A line break of a multi-line edit is one "\r\n" pair.
            if (end < length && text[end - 1] == U'\r' && text[end] == U'\n')
                ++end;
        } else if (!forward && start > 0) {
            --start;
            if (start > 0 && text[start] == U'\n' && text[start - 1] == U'\r')
                --start;
        } else {
            return;
        }
    }
    text.erase(start, end - start);
    SetWindowTextValue(runtime::UnicodeToNarrow(text));
    selStart_ = selEnd_ = start;
}

void CSWColorEdit::Refuse() {
    ++refused_;
    if (!limitTip_ || limitTipText_.empty())
        return;
    ITavi* core = Core_GetITavi();
    auto* notifier = core ? dynamic_cast<INotifier*>(core->GetService(kServiceNotifier)) : nullptr;
    if (notifier)
        notifier->ShowBalloon(GetSkinObject(), limitTipText_, kLimitTipMilliseconds);
}

std::intptr_t CSWColorEdit::WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
    case WM_CHAR: {
        auto c = static_cast<char32_t>(wParam);
        if (c == U'\b') {
            DeleteSelectionOrChar(false);
        } else if (IsLineBreak(c)) {
            if (IsMultiLine())
                InsertText(U"\r\n");
        } else if (c < 0x20 || c == 0x7F) {
            // Other control characters (Tab, Escape, Ctrl+letters) type nothing.
        } else if (IsDigitsOnly() && (c < U'0' || c > U'9')) {
            ++refused_;
        } else {
            InsertText(std::u32string(1, c));
        }
        return 0;
    }
    case WM_KEYDOWN: {
        int length = static_cast<int>(runtime::NarrowToUnicode(GetWindowText()).size());
        if (wParam == VK_DELETE)
            DeleteSelectionOrChar(true);
        else if (wParam == VK_HOME)
            selStart_ = selEnd_ = 0;
        else if (wParam == VK_END)
            selStart_ = selEnd_ = length;
        return 0;
    }
    case EM_SETSEL:
        SetSel(static_cast<int>(static_cast<std::intptr_t>(wParam)), static_cast<int>(lParam));
        return 0;
    case EM_REPLACESEL: {
        // The message carries the text's address, as the platform's messages do.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        const char* text = reinterpret_cast<const char*>(lParam);
        return text && ReplaceSel(text) ? 1 : 0;
    }
    case EM_LIMITTEXT:
        LimitText(static_cast<int>(wParam));
        return 0;
    case EM_GETLIMITTEXT:
        return limit_;
    case WM_SETTEXT: {
        std::intptr_t result = CSkinWnd::WindowProc(message, wParam, lParam);
        selStart_ = selEnd_ = 0;
        return result;
    }
    default:
        return CSkinWnd::WindowProc(message, wParam, lParam);
    }
}

void CSWColorEdit::OnTextChanged() {
    std::string previous = GetSkinObject()->GetText();
    CSkinWnd::OnTextChanged();
    if (GetSkinObject()->GetText() != previous)
        GetSkinObject()->FireEvent(kSkinEventContentChanged, nullptr);
}

} // namespace tavi
