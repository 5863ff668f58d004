// The host program's side of the message box: what answers a box, and the boxes shown so far.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace tavi::runtime {

struct MessageBoxRequest {
    int style = 0;
    std::string title; // system code page
    std::string text;
    int buttons = 0;
    int defaultButton = 0;
};

struct ShownMessageBox {
    MessageBoxRequest request;
    int answer = 0;
};

// Answers each box (user-interface thread); without one, a box is declined: it gives the answer of
// its last button (No, or Cancel), and OK for a box that only has OK.
using MessageBoxResponder = std::function<int(const MessageBoxRequest&)>;
void SetMessageBoxResponder(MessageBoxResponder responder);

std::vector<ShownMessageBox> GetShownMessageBoxes();
void ClearShownMessageBoxes();

} // namespace tavi::runtime
