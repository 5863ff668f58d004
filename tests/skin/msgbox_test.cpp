// The message box: the host program's responder answers it; without one a box is declined.
#include <gtest/gtest.h>

#include "host/msgbox.h"
#include "runtime/service/msgbox_host.h"

namespace {

class MessageBox : public ::testing::Test {
protected:
    void SetUp() override { tavi::runtime::ClearShownMessageBoxes(); }
    void TearDown() override {
        tavi::runtime::SetMessageBoxResponder(nullptr);
        tavi::runtime::ClearShownMessageBoxes();
    }
};

TEST_F(MessageBox, TheRespondersAnswerIsReturnedAndTheBoxRecorded) {
    tavi::runtime::MessageBoxRequest seen;
    tavi::runtime::SetMessageBoxResponder([&](const tavi::runtime::MessageBoxRequest& request) {
        seen = request;
        return tavi::kMsgBoxAnswerYes;
    });
    EXPECT_EQ(tavi::PP_ShowMsgBox(42, "Title", "Delete?", 2, 1), 1);
    EXPECT_EQ(seen.style, tavi::kMsgBoxQuestion);
    EXPECT_EQ(seen.title, "Title");
    EXPECT_EQ(seen.text, "Delete?");
    EXPECT_EQ(seen.buttons, tavi::kMsgBoxButtonsYesNo);
    EXPECT_EQ(seen.defaultButton, 1);
    auto shown = tavi::runtime::GetShownMessageBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].answer, 1);
}

struct Unanswered {
    int buttons;
    int responderAnswer; // 0: no responder
    int expected;
};

class DeclinedBox : public MessageBox, public ::testing::WithParamInterface<Unanswered> {};

TEST_P(DeclinedBox, GivesItsLastButton) {
    int answer = GetParam().responderAnswer;
    if (answer != 0)
        tavi::runtime::SetMessageBoxResponder(
            [answer](const tavi::runtime::MessageBoxRequest&) { return answer; });
    EXPECT_EQ(tavi::PP_ShowMsgBox(42, "t", "x", GetParam().buttons, 1), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Boxes, DeclinedBox,
                         ::testing::Values(Unanswered{tavi::kMsgBoxButtonsYesNo, 0, tavi::kMsgBoxAnswerNo},
                                           Unanswered{tavi::kMsgBoxButtonsYesNoCancel, 0,
                                                      tavi::kMsgBoxAnswerCancel},
                                           Unanswered{tavi::kMsgBoxButtonsOk, 0, tavi::kMsgBoxAnswerYes},
                                           Unanswered{tavi::kMsgBoxButtonsYesNo, 3, tavi::kMsgBoxAnswerNo},
                                           Unanswered{tavi::kMsgBoxButtonsYesNo, -1, tavi::kMsgBoxAnswerNo}));

TEST_F(MessageBox, AnUnknownButtonSetShowsNoBox) {
    EXPECT_EQ(tavi::PP_ShowMsgBox(42, "t", "x", 9, 1), 0);
    EXPECT_TRUE(tavi::runtime::GetShownMessageBoxes().empty());
}

} // namespace
