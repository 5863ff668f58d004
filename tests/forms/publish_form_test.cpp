// The compose form: the counter against the status limit, what each mode sends, the options and
// titles of the reply modes, and what the user sees when a send comes back.
#include "tests/forms/forms_fixture.h"

namespace formstest {
namespace {

using microblog::MicroBlogPublishForm;

// Two statuses of a home timeline: an original, and a retweet whose chain starts at another author.
constexpr const char* kTimeline = R"([
  {"id": "11", "text": "大家晚安", "flag": "ORIGINAL", "user": {"name": "林小雨"}},
  {"id": "12", "text": "转发理由", "flag": "RETWEET", "user": {"name": "Emma_Li"},
   "root_in_reply_to_user_name": "陈默"}
])";

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

class PublishFormTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        service_->SetHomeTimeline(kTimeline);
    }

    // Opens a form as the tool panel and the list panel do, and finds it on screen.
    MicroBlogPublishForm* Open(const std::string& mode, const std::string& id = std::string()) {
        if (mode == "update")
            microblog::ShowPublishForm(mode);
        else
            microblog::ShowReplyForm(mode, id, "");
        loop().RunUntilIdle();
        MicroBlogPublishForm* shown = nullptr;
        for (tavi::CSkinForm* form : tavi::CSkinWndManager::GetInstance()->GetForms())
            if (auto* compose = dynamic_cast<MicroBlogPublishForm*>(form);
                compose && compose->IsWindowVisible())
                shown = compose;
        EXPECT_NE(shown, nullptr) << "no compose form is shown";
        if (shown) {
            content_ = Control<tavi::CSWColorEdit>(shown, "EdtContent");
            send_ = Control<tavi::CSkinObject>(shown, "ButtonSend");
            status_ = Control<tavi::CSkinLabel>(shown, "SendStatus");
        }
        return shown;
    }
    static bool IsAlive(MicroBlogPublishForm* form) {
        return tavi::CSkinWndManager::GetInstance()->IsForm(form);
    }

    tavi::CSWColorEdit* content_ = nullptr;
    tavi::CSkinObject* send_ = nullptr;
    tavi::CSkinLabel* status_ = nullptr;
};

struct CountCase {
    const char* name;
    std::string text; // UTF-8, line breaks as the edit holds them
    std::string shown;
    bool over;
};

class CharCountTest : public PublishFormTest, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CharCountTest, CounterShowsWhatIsLeftOrHowFarOverInUtf16UnitsOfTheCleanedText) {
    const CountCase& c = GetParam();
    MicroBlogPublishForm* form = Open("update");
    ASSERT_NE(form, nullptr);
    content_->SetWindowText(Narrow(c.text));
    auto* number = Control<tavi::CSkinLabel>(form, "LabelNumberLeft");
    auto* first = Control<tavi::CSkinLabel>(form, "InputStatusFirst");
    EXPECT_EQ(number->GetText(), c.shown);
    EXPECT_EQ(number->GetTextColor(), c.over ? microblog::kCounterOverColor : microblog::kCounterColor);
    EXPECT_EQ(first->GetText(), Text(c.over ? "STRID_MICROBLOG_MSGTRANS_BEYONDNUMBER"
                                            : "STRID_MICROBLOG_MSGTRANS_INPUTSTATUS"));
    EXPECT_EQ(send_->IsEnabled(), !c.over);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CharCountTest,
    ::testing::Values(
        CountCase{"Empty", "", "150", false}, CountCase{"Exactly150", Repeat("a", 150), "0", false},
        CountCase{"OneOver", Repeat("a", 151), "1", true},
        CountCase{"BlanksAndBreaksAtTheEndsDoNotCount", " \r\n\t" + Repeat("a", 150) + "\r\n  ", "0", false},
        CountCase{"InnerLineBreakCountsOne", Repeat("a", 75) + "\r\n" + Repeat("a", 74), "0", false},
        CountCase{"InnerLineBreakCanTipItOver", Repeat("a", 75) + "\r\n" + Repeat("a", 75), "1", true},
        CountCase{"DoubleByteCountsOne", Repeat("中", 150), "0", false},
        CountCase{"DoubleByteOneOver", Repeat("中", 151), "1", true},
        CountCase{"OutsideTheBasicPlaneCountsTwo", Repeat("🌙", 76), "2", true}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return std::string(info.param.name); });

struct SendCase {
    const char* name;
    std::string mode;
    std::string id;
    std::string typed; // UTF-8, typed over the preset; "\n" is Enter
    std::vector<std::string> tick;
    SentRequest expected;
};

class SendTest : public PublishFormTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendTest, EachModeSendsItsRequestWithTheTextAndTheOptions) {
    const SendCase& c = GetParam();
    MicroBlogPublishForm* form = Open(c.mode, c.id);
    ASSERT_NE(form, nullptr);
    if (c.typed != "-")
        Type(content_, c.typed);
    for (const std::string& name : c.tick)
        Control<tavi::CSkinCheckBox>(form, name)->SetChecked(1, 0);
    ASSERT_TRUE(send_->PerformClick());
    loop().RunUntilIdle();

    ASSERT_EQ(service_->sent.size(), 1u);
    const SentRequest& sent = service_->sent[0];
    EXPECT_EQ(sent.kind, c.expected.kind);
    EXPECT_EQ(sent.id, c.expected.id);
    EXPECT_EQ(sent.text, Narrow(c.expected.text));
    EXPECT_EQ(sent.firstFlag, c.expected.firstFlag);
    EXPECT_EQ(sent.secondFlag, c.expected.secondFlag);
    // While the send is under way the button stays disabled and the sending state shows.
    EXPECT_FALSE(send_->IsEnabled());
    EXPECT_TRUE(status_->IsVisible());
    EXPECT_TRUE(notifier().GetBalloons().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Modes, SendTest,
    ::testing::Values(
        SendCase{"UpdateSendsALineBreakAsABlank",
                 "update",
                 "",
                 "  第一行\n第二行 \n",
                 {},
                 {"update", "", "第一行 第二行"}},
        SendCase{"CommentSendsLineBreaksAsTyped",
                 "comment",
                 "12",
                 "好的\n谢谢",
                 {"ChkRetweet", "ChkCommentRoot"},
                 {"reply", "12", "好的\r\n谢谢", 1, 1}},
        SendCase{"CommentWithoutOptions", "comment", "11", "赞", {}, {"reply", "11", "赞", 0, 0}},
        SendCase{"RetweetMaySendNoText", "retweet", "11", "", {"ChkComment"}, {"retweet", "11", "", 1, 0}},
        SendCase{"RetweetOfARetweetSendsThePresetTrimmed",
                 "retweet",
                 "12",
                 "-",
                 {"ChkCommentRoot"},
                 {"retweet", "12", "||@Emma_Li：转发理由", 0, 1}}),
    [](const ::testing::TestParamInfo<SendCase>& info) { return std::string(info.param.name); });

class EmptyTextTest : public PublishFormTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(EmptyTextTest, ABlankTextSendsNothingAndSaysSoAtTheSendButton) {
    MicroBlogPublishForm* form = Open(GetParam(), "11");
    ASSERT_NE(form, nullptr);
    Type(content_, "  \n ");
    ASSERT_TRUE(send_->PerformClick());
    loop().RunUntilIdle();
    EXPECT_TRUE(service_->sent.empty());
    EXPECT_EQ(Balloons(),
              std::vector<std::string>{BalloonOf("ButtonSend", Text("STRID_MICROBLOG_MSGTRANS_EDITEMPTY"))});
    EXPECT_TRUE(send_->IsEnabled());
    EXPECT_FALSE(status_->IsVisible());
    EXPECT_TRUE(form->IsWindowVisible());
}

INSTANTIATE_TEST_SUITE_P(Modes, EmptyTextTest, ::testing::Values("update", "comment"));

struct ModeCase {
    const char* name;
    std::string mode;
    std::string id;
    std::string title;
    bool options;
    bool retweet;
    bool comment;
    bool root;
    std::string commentText;
    std::string rootText;
    std::string preset;
};

class ModeTest : public PublishFormTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeTest, TheModeDecidesTitleOptionsAndPreset) {
    const ModeCase& c = GetParam();
    MicroBlogPublishForm* form = Open(c.mode, c.id);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->GetWindowText(), Narrow(c.title));
    EXPECT_EQ(Control<tavi::CSkinObject>(form, "PanelOption")->IsVisible(), c.options);
    if (c.options) {
        auto* retweet = Control<tavi::CSkinCheckBox>(form, "ChkRetweet");
        auto* comment = Control<tavi::CSkinCheckBox>(form, "ChkComment");
        auto* root = Control<tavi::CSkinCheckBox>(form, "ChkCommentRoot");
        EXPECT_EQ(retweet->IsVisible(), c.retweet);
        EXPECT_EQ(comment->IsVisible(), c.comment);
        EXPECT_EQ(root->IsVisible(), c.root);
        EXPECT_EQ(comment->GetText(), Narrow(c.commentText));
        EXPECT_EQ(root->GetText(), Narrow(c.rootText));
    }
    EXPECT_EQ(content_->GetWindowText(), Narrow(c.preset));
    // The edit has the focus, so the user can type at once.
    EXPECT_EQ(tavi::CWnd::GetFocus(), content_);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeTest,
    ::testing::Values(ModeCase{"Update", "update", "", "发布微博", false, false, false, false, "", "", ""},
                      ModeCase{"RetweetOfAnOriginal", "retweet", "11", "转发微博", true, false, true, false,
                               "同时评论给 林小雨", "同时评论给原作者 ", ""},
                      ModeCase{"RetweetOfARetweet", "retweet", "12", "转发微博", true, false, true, true,
                               "同时评论给 Emma_Li", "同时评论给原作者 陈默", " ||@Emma_Li：转发理由"},
                      ModeCase{"CommentNamesTheAuthor", "comment", "11", "评论@林小雨", true, true, false,
                               false, "同时评论给 林小雨", "同时评论给原作者 ", ""},
                      ModeCase{"CommentOnARetweetOffersTheRoot", "comment", "12", "评论@Emma_Li", true, true,
                               false, true, "同时评论给 Emma_Li", "同时评论给原作者 陈默", ""},
                      ModeCase{"CommentOnAnUnknownStatusHasTheBareTitle", "comment", "999", "评论", true,
                               true, false, false, "同时评论给 ", "同时评论给原作者 ", ""}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

struct ResultCase {
    const char* name;
    int status;
    std::string text;
};

class SendResultTest : public PublishFormTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(SendResultTest, AFailedSendKeepsTheTextAndLetsTheUserSendAgain) {
    const ResultCase& c = GetParam();
    MicroBlogPublishForm* form = Open("update");
    ASSERT_NE(form, nullptr);
    Type(content_, "你好");
    ASSERT_TRUE(send_->PerformClick());
    service_->Answer(c.status, c.text);
    loop().RunUntilIdle();

    EXPECT_TRUE(form->IsWindowVisible());
    EXPECT_EQ(content_->GetWindowText(), Narrow("你好"));
    EXPECT_TRUE(send_->IsEnabled());
    EXPECT_EQ(service_->mainPanelShown, 0);
    if (c.text == microblog::kTimestampRefused) {
        EXPECT_FALSE(status_->IsVisible());
        EXPECT_EQ(Balloons(), std::vector<std::string>{
                                  BalloonOf("ButtonSend", Narrow("发送失败，请设置正确的本地时间"))});
    } else {
        EXPECT_TRUE(status_->IsVisible());
        EXPECT_EQ(status_->GetText(), Text("STRID_MICROBLOG_MSGTRANS_SENDFAILED"));
        EXPECT_TRUE(notifier().GetBalloons().empty());
    }

    // The second try sends the same text again.
    ASSERT_TRUE(send_->PerformClick());
    ASSERT_EQ(service_->sent.size(), 2u);
    EXPECT_EQ(service_->sent[1].text, Narrow("你好"));
}

INSTANTIATE_TEST_SUITE_P(
    Results, SendResultTest,
    ::testing::Values(ResultCase{"TimestampRefused", 401, "timestamp_refused"},
                      ResultCase{"Refused", 400, ""}, ResultCase{"NoResponse", -1, ""},
                      ResultCase{"RefusedWithAnotherText", 401, "timestamp_refused_later"}),
    [](const ::testing::TestParamInfo<ResultCase>& info) { return std::string(info.param.name); });

TEST_F(PublishFormTest, ASuccessfulSendHidesTheFormShowsTheTimelineAndTheFormGoes) {
    MicroBlogPublishForm* form = Open("update");
    ASSERT_NE(form, nullptr);
    Type(content_, "你好");
    ASSERT_TRUE(send_->PerformClick());
    service_->Answer(200);
    loop().RunUntilIdle();
    EXPECT_EQ(service_->mainPanelShown, 1);
    EXPECT_FALSE(IsAlive(form)) << "a hidden compose form is never shown again, so it is released";
    EXPECT_EQ(tavi::CSkinWndManager::GetInstance()->FindForm("MicroBlogPublishForm"), nullptr);
}

TEST_F(PublishFormTest, EachPublishOpensANewFormAndClosingOneLeavesTheOther) {
    MicroBlogPublishForm* first = Open("update");
    MicroBlogPublishForm* second = Open("comment", "11");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first->SendMessage(tavi::WM_CLOSE);
    EXPECT_FALSE(first->IsWindowVisible());
    loop().RunUntilIdle();
    EXPECT_FALSE(IsAlive(first));
    EXPECT_TRUE(second->IsWindowVisible());
}

TEST_F(PublishFormTest, WhileASendIsUnderWayTypingDoesNotAllowASecondSend) {
    MicroBlogPublishForm* form = Open("update");
    ASSERT_NE(form, nullptr);
    Type(content_, "第一次");
    ASSERT_TRUE(send_->PerformClick());
    TypeHere("再来");
    EXPECT_FALSE(send_->IsEnabled());
    EXPECT_FALSE(send_->PerformClick());
    EXPECT_EQ(service_->sent.size(), 1u);

    // Typed past the limit while sending: the failure counts again and keeps the button disabled.
    TypeHere(Repeat("长", microblog::MaxStatusChars));
    service_->Answer(400);
    loop().RunUntilIdle();
    EXPECT_FALSE(send_->IsEnabled());
    EXPECT_FALSE(send_->PerformClick());
    EXPECT_EQ(service_->sent.size(), 1u);

    // An answer that comes without its record still ends the send, as a failure.
    Type(content_, "短");
    ASSERT_TRUE(send_->PerformClick());
    service_->Answer(200, "", false);
    loop().RunUntilIdle();
    EXPECT_FALSE(form->IsSending());
    EXPECT_TRUE(send_->IsEnabled());
    EXPECT_EQ(status_->GetText(), Text("STRID_MICROBLOG_MSGTRANS_SENDFAILED"));
}

TEST_F(PublishFormTest, AFormClosedOrReleasedDuringItsSendLivesUntilTheResultComes) {
    MicroBlogPublishForm* closed = Open("update");
    ASSERT_NE(closed, nullptr);
    Type(content_, "关掉也要发出去");
    ASSERT_TRUE(send_->PerformClick());
    closed->SendMessage(tavi::WM_CLOSE);
    loop().RunUntilIdle();
    EXPECT_FALSE(closed->IsWindowVisible());
    EXPECT_TRUE(IsAlive(closed));
    service_->Answer(200);
    loop().RunUntilIdle();
    EXPECT_EQ(service_->mainPanelShown, 1);
    EXPECT_FALSE(IsAlive(closed));

    // The host closing every form (before an unload) while a send is out.
    MicroBlogPublishForm* released = Open("update");
    ASSERT_NE(released, nullptr);
    Type(content_, "再发一条");
    ASSERT_TRUE(send_->PerformClick());
    tavi::CSkinWndManager::GetInstance()->QueryCloseForms();
    EXPECT_TRUE(IsAlive(released));
    service_->Answer(-1, "", false);
    loop().RunUntilIdle();
    EXPECT_FALSE(IsAlive(released));
    EXPECT_EQ(service_->mainPanelShown, 1);
}

TEST_F(PublishFormTest, ASendThatCannotBePostedFailsAtOnce) {
    service_->postResult = 0;
    MicroBlogPublishForm* form = Open("update");
    ASSERT_NE(form, nullptr);
    Type(content_, "你好");
    ASSERT_TRUE(send_->PerformClick());
    EXPECT_TRUE(send_->IsEnabled());
    EXPECT_EQ(status_->GetText(), Text("STRID_MICROBLOG_MSGTRANS_SENDFAILED"));
    EXPECT_FALSE(form->IsSending());
}

TEST_F(PublishFormTest, ReplyModesGrowByTheOptionPanelOnceHoweverOftenTheSkinIsApplied) {
    MicroBlogPublishForm* update = Open("update");
    MicroBlogPublishForm* comment = Open("comment", "11");
    ASSERT_NE(update, nullptr);
    ASSERT_NE(comment, nullptr);
    int optionHeight = Control<tavi::CSkinObject>(comment, "PanelOption")->GetSkinConfig().height;
    ASSERT_GT(optionHeight, 0);
    EXPECT_EQ(comment->GetWindowRect().Height(), update->GetWindowRect().Height() + optionHeight);
    comment->OnSkinChanged();
    comment->OnSkinChanged();
    EXPECT_EQ(comment->GetWindowRect().Height(), update->GetWindowRect().Height() + optionHeight);
}

TEST(FormText, TableTextsAreFormattedWithTheirFirstPlaceholderOnly) {
    EXPECT_EQ(microblog::FormatText("also to %s", "lin"), "also to lin");
    EXPECT_EQ(microblog::FormatText("%d%% %s and %s", "a"), "%d%% a and %s");
    EXPECT_EQ(microblog::FormatText("no placeholder", "a"), "no placeholder");
}

} // namespace
} // namespace formstest
