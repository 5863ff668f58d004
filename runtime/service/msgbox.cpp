// The message box: the request goes to the host program's responder, which stands for the user.
#include <mutex>

#include "host/msgbox.h"
#include "runtime/service/msgbox_host.h"

namespace tavi {
namespace {

std::mutex boxesMutex;
runtime::MessageBoxResponder responder;
std::vector<runtime::ShownMessageBox> shown;

int DeclinedAnswer(int buttons) {
    if (buttons == kMsgBoxButtonsYesNoCancel)
        return kMsgBoxAnswerCancel;
    if (buttons == kMsgBoxButtonsYesNo)
        return kMsgBoxAnswerNo;
    return kMsgBoxAnswerYes;
}

} // namespace

namespace runtime {

void SetMessageBoxResponder(MessageBoxResponder next) {
    std::lock_guard<std::mutex> lock(boxesMutex);
    responder = std::move(next);
}

std::vector<ShownMessageBox> GetShownMessageBoxes() {
    std::lock_guard<std::mutex> lock(boxesMutex);
    return shown;
}

void ClearShownMessageBoxes() {
    std::lock_guard<std::mutex> lock(boxesMutex);
    shown.clear();
}

} // namespace runtime

int PP_ShowMsgBox(int style, const std::string& title, const std::string& text, int buttons,
                  int defaultButton) {
    if (buttons < kMsgBoxButtonsOk || buttons > kMsgBoxButtonsYesNoCancel)
        return 0;
    runtime::MessageBoxRequest request{style, title, text, buttons, defaultButton};
    runtime::MessageBoxResponder answering;
    {
        std::lock_guard<std::mutex> lock(boxesMutex);
        answering = responder;
    }
    // The responder runs without the lock: it may take as long as the user needs.
    int answer = answering ? answering(request) : DeclinedAnswer(buttons);
    if (answer < kMsgBoxAnswerYes || answer > buttons)
        answer = DeclinedAnswer(buttons);
    std::lock_guard<std::mutex> lock(boxesMutex);
    shown.push_back(runtime::ShownMessageBox{request, answer});
    return answer;
}

} // namespace tavi
