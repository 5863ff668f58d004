// The skin's edit control: an edit window with an embedded skin object that places it in the skin
// tree. It keeps the window text, a text limit with an optional tip shown when typing reaches it,
// the edit styles (multi-line, password, digits only) and its colours. Typed characters arrive as
// key and character messages; every change of the content raises event 2 on the skin object.
#pragma once

#include <cstdint>
#include <string>

#include "host/skin_controls.h"
#include "host/skin_wnd.h"

namespace tavi {

class CSWColorEdit : public CSkinWnd {
public:
    CSWColorEdit();
    ~CSWColorEdit() override;

    // Creates the edit window (a child window, so the parent must be a window).
    bool Create(unsigned style, const SkinRect& rect, void* parent, int id);

    // The most bytes of the system code page the user can type; 0 means no limit of its own.
    void LimitText(int limit);
    int GetLimitText() const { return limit_; }
    // The tip shown as a balloon at the edit when typing reaches the limit.
    void SetLimitTipEnable(int enable) { limitTip_ = enable != 0; }
    bool IsLimitTipEnabled() const { return limitTip_; }
    void SetLimitTipText(const std::string& text) { limitTipText_ = text; }
    const std::string& GetLimitTipText() const { return limitTipText_; }

    // Selection in characters; end -1 means the end of the text.
    void SetSel(int start, int end);
    void GetSel(int& start, int& end) const;
    // Replaces the selection as typing would (limit and style apply); false when refused.
    bool ReplaceSel(const std::string& text);

    void SetTextColor(COLORREF color) { textColor_ = color; }
    COLORREF GetTextColor() const { return textColor_; }
    void SetBkColor(COLORREF color) { backColor_ = color; }
    COLORREF GetBkColor() const { return backColor_; }

    bool IsPassword() const { return (GetStyle() & ES_PASSWORD) != 0; }
    bool IsMultiLine() const { return (GetStyle() & ES_MULTILINE) != 0; }
    bool IsDigitsOnly() const { return (GetStyle() & ES_NUMBER) != 0; }
    // What the edit shows: one '*' per character of a password edit, else the text.
    std::string GetDisplayText() const;
    // Typing that the limit or the style refused so far.
    int GetRefusedCount() const { return refused_; }

protected:
    std::intptr_t WindowProc(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void OnTextChanged() override;

private:
    bool InsertText(const std::u32string& typed);
    void DeleteSelectionOrChar(bool forward);
    void Refuse();

    int limit_ = 0;
    bool limitTip_ = true;
    std::string limitTipText_;
    int selStart_ = 0;
    int selEnd_ = 0;
    COLORREF textColor_ = kColorDefaultText;
    COLORREF backColor_ = 0xFFFFFF;
    int refused_ = 0;
};

} // namespace tavi
