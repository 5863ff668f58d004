// The host's Service library: the message box. A box is modal; the host program supplies its answer
// (the user, or a script's prepared answer).
#pragma once

#include <string>

namespace tavi {

// Style bits of a message box.
constexpr int kMsgBoxModal = 0x02;
constexpr int kMsgBoxTopMost = 0x08;
constexpr int kMsgBoxIconQuestion = 0x20;
constexpr int kMsgBoxIconWarning = 0x30;
constexpr int kMsgBoxQuestion = kMsgBoxIconQuestion | kMsgBoxTopMost | kMsgBoxModal; // 42

// Button sets.
constexpr int kMsgBoxButtonsOk = 1;
constexpr int kMsgBoxButtonsYesNo = 2;
constexpr int kMsgBoxButtonsYesNoCancel = 3;

// Answers: the number of the chosen button (1 OK or Yes, 2 No, 3 Cancel); 0 when the box could not
// be shown.
constexpr int kMsgBoxAnswerYes = 1;
constexpr int kMsgBoxAnswerNo = 2;
constexpr int kMsgBoxAnswerCancel = 3;

// Shows a box with a title and a text (system code page) and the given buttons, the default one
// (1-based) preselected, and returns the answer.
int PP_ShowMsgBox(int style, const std::string& title, const std::string& text, int buttons,
                  int defaultButton);

} // namespace tavi
