// The compose form end to end: tavi signed in to mbservice as the demo user, the form opened from the
// tool panel and from the timeline's links, its counter, its sends and their failures, and what the
// next timeline shows.
#include <algorithm>
#include <map>
#include <regex>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kDemo = "demo@velmora.com";
constexpr const char* kDemoPassword = "demo123";

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

// The status ids of the page's links of one action ("retweet", "comments"), by link number.
std::map<std::string, int> LinkNumbers(const std::string& links, const std::string& action) {
    std::map<std::string, int> numbers;
    std::regex pattern("^([0-9]+) tavi://" + action + "/id=([0-9]+)");
    std::size_t at = 0;
    while (at < links.size()) {
        std::size_t end = links.find('\n', at);
        std::string line = links.substr(at, end == std::string::npos ? std::string::npos : end - at);
        std::smatch match;
        if (std::regex_search(line, match, pattern))
            numbers.emplace(match[2].str(), std::stoi(match[1].str()));
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return numbers;
}

// The newest status of the page: the largest id among the links.
std::string NewestId(const std::map<std::string, int>& numbers, int skip = 0) {
    std::vector<long long> ids;
    for (const auto& [id, number] : numbers)
        ids.push_back(std::stoll(id));
    std::sort(ids.rbegin(), ids.rend());
    return static_cast<int>(ids.size()) > skip ? std::to_string(ids[static_cast<std::size_t>(skip)])
                                               : std::string();
}

class ComposeE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.Started()) << service_.Log();
        app_ = std::make_unique<AppFolder>(service_);
        demo_ = std::make_unique<TaviSession>(*app_, kDemo, kDemoPassword);
        std::string signIn = SignIn(*demo_);
        ASSERT_NE(demo_->Run("screen").find("MicroBlogListPanel"), std::string::npos)
            << "the demo user is signed in and sees the timeline\n"
            << signIn;
    }

    MbService service_;
    std::unique_ptr<AppFolder> app_;
    std::unique_ptr<TaviSession> demo_;
};

TEST_F(ComposeE2E, TheCounterFollowsTheTypingAndANewStatusAppearsInTheNextTimeline) {
    std::string opened = demo_->Run("click BtnPublish\nwindows\nscreen");
    EXPECT_NE(LineWith(opened, {"form MicroBlogPublishForm", "visible=1", "foreground=1"}), "") << opened;
    EXPECT_NE(LineWith(opened, {"form MicroBlogPublishForm", "title=\"发布微博\""}), "") << opened;
    EXPECT_NE(LineWith(opened, {"LabelNumberLeft", "text=\"150\""}), "") << opened;
    EXPECT_EQ(LineWith(opened, {"PanelOption"}), "") << "a new status has no options\n" << opened;

    struct Step {
        std::string typed;
        std::string left;
        bool sendable;
    };
    const std::vector<Step> steps = {
        {Repeat("a", 150), "0", true},
        {Repeat("a", 151), "1", false},
        {"\"  \\n" + Repeat("a", 150) + " \\n \"", "0", true},  // blanks and breaks at the ends do not count
        {Repeat("a", 75) + "\\n" + Repeat("a", 74), "0", true}, // an inner break counts one
        {Repeat("a", 75) + "\\n" + Repeat("a", 75), "1", false},
        {Repeat("中", 150), "0", true}, // a double-byte character counts one
        {Repeat("中", 151), "1", false},
    };
    for (const Step& step : steps) {
        std::string screen = demo_->Run("type EdtContent " + step.typed + "\nscreen");
        SCOPED_TRACE(step.typed);
        EXPECT_NE(LineWith(screen, {"label LabelNumberLeft", "text=\"" + step.left + "\""}), "") << screen;
        EXPECT_NE(LineWith(screen, {"ButtonSend", step.sendable ? "enabled=1" : "enabled=0"}), "") << screen;
        EXPECT_NE(LineWith(screen, {"InputStatusFirst", step.sendable ? "还可以输入" : "已经超出"}), "")
            << screen;
    }

    // A blank text is not sent; the balloon says so as it is raised.
    std::string empty = demo_->Run("type EdtContent \"  \\n \"\nclick ButtonSend\nwait\nballoons");
    EXPECT_GE(Occurrences(empty, "请先写点什么吧。"), 2) << "shown as it happened and listed\n" << empty;
    EXPECT_NE(LineWith(empty, {"balloon ButtonSend 2000 请先写点什么吧。"}), "") << empty;
    EXPECT_EQ(service_.Count("POST /statuses/update.json"), 0) << service_.Log();

    // A line feed is published as a blank; the form goes and the timeline shows the status.
    std::string sent =
        demo_->Run("type EdtContent \"  第一行\\n第二行 \"\nclick ButtonSend\nwait\nwindows\npage");
    EXPECT_EQ(service_.Count("POST /statuses/update.json 200"), 1) << service_.Log();
    EXPECT_EQ(LineWith(sent, {"form MicroBlogPublishForm"}), "") << "the sent form is gone\n" << sent;
    EXPECT_NE(sent.find("第一行 第二行"), std::string::npos) << sent;
}

TEST_F(ComposeE2E, AFailedSendKeepsTheTextAndARefusedTimestampSaysToSetTheClock) {
    demo_->Run("click BtnPublish\ntype EdtContent 会失败的一条");

    service_.Stop();
    std::string failed = demo_->Run("click ButtonSend\nwait\nscreen\nballoons");
    EXPECT_NE(LineWith(failed, {"label SendStatus", "visible=1", "text=\"发送失败，请稍后再试。\""}), "")
        << failed;
    EXPECT_NE(LineWith(failed, {"EdtContent", "text=\"会失败的一条\""}), "") << failed;
    EXPECT_NE(LineWith(failed, {"ButtonSend", "enabled=1"}), "") << failed;
    EXPECT_NE(failed.find("no balloons"), std::string::npos) << failed;

    // The service back with its clock an hour off: the same text again, refused for its timestamp.
    ASSERT_TRUE(service_.Restart({"--clock-skew", "3600"})) << service_.Log();
    std::string refused = demo_->Run("click ButtonSend\nwait\nscreen\nballoons");
    EXPECT_NE(LineWith(refused, {"balloon ButtonSend 2000 发送失败，请设置正确的本地时间"}), "") << refused;
    EXPECT_NE(LineWith(refused, {"label SendStatus", "visible=0"}), "") << refused;
    EXPECT_NE(LineWith(refused, {"EdtContent", "text=\"会失败的一条\""}), "") << refused;
    EXPECT_NE(LineWith(refused, {"ButtonSend", "enabled=1"}), "") << refused;
    EXPECT_EQ(service_.Count("POST /statuses/update.json 200"), 0) << service_.Log();

    // With the clock right again the kept text goes out.
    ASSERT_TRUE(service_.Restart()) << service_.Log();
    std::string sent = demo_->Run("click ButtonSend\nwait\nwindows\npage");
    EXPECT_EQ(service_.Count("POST /statuses/update.json 200"), 1) << service_.Log();
    EXPECT_NE(sent.find("会失败的一条"), std::string::npos) << sent;
}

TEST_F(ComposeE2E, RetweetAndCommentFormsFromThePageCarryTheirOptionsToTheService) {
    std::map<std::string, int> retweets = LinkNumbers(demo_->Run("links"), "retweet");
    ASSERT_FALSE(retweets.empty());
    // The newest status of the demo timeline is an original by 林小雨.
    std::string original = NewestId(retweets);
    std::string form = demo_->Run("follow " + std::to_string(retweets[original]) + "\nscreen");
    EXPECT_NE(LineWith(form, {"form MicroBlogPublishForm", "title=\"转发微博\""}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkRetweet", "visible=0"}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkComment ", "visible=1", "text=\"同时评论给 林小雨\""}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkCommentRoot", "visible=0"}), "") << "an original has no root author\n"
                                                                   << form;
    EXPECT_NE(LineWith(form, {"EdtContent", "text=\"\""}), "") << form;

    // Retweeted with a comment to the author: the service makes the retweet and the comment.
    std::string sent =
        demo_->Run("type EdtContent 转一下\ncheck ChkComment on\nclick ButtonSend\nwait\npage");
    EXPECT_EQ(Occurrences(sent, "转一下"), 2) << sent;

    // The demo user's retweet is now the second newest status (the comment is the newest).
    std::string links = demo_->Run("links");
    retweets = LinkNumbers(links, "retweet");
    std::map<std::string, int> comments = LinkNumbers(links, "comments");
    std::string retweet = NewestId(retweets, 1);
    ASSERT_EQ(std::stoll(retweet), std::stoll(original) + 1) << links;
    form = demo_->Run("follow " + std::to_string(retweets[retweet]) + "\nscreen");
    EXPECT_NE(LineWith(form, {"form MicroBlogPublishForm", "title=\"转发微博\""}), "") << form;
    EXPECT_NE(LineWith(form, {"EdtContent", "text=\" ||@小维：转一下\""}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkCommentRoot", "visible=1", "text=\"同时评论给原作者 林小雨\""}), "")
        << form;
    EXPECT_EQ(LineWith(demo_->Run("close MicroBlogPublishForm\nwindows"), {"form MicroBlogPublishForm"}), "");

    form = demo_->Run("follow " + std::to_string(comments[retweet]) + "\nscreen");
    EXPECT_NE(LineWith(form, {"form MicroBlogPublishForm", "title=\"评论@小维\""}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkRetweet", "visible=1"}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkComment ", "visible=0"}), "") << form;
    EXPECT_NE(LineWith(form, {"ChkCommentRoot", "visible=1", "text=\"同时评论给原作者 林小雨\""}), "")
        << form;

    // Commented and also retweeted: the service makes both.
    sent = demo_->Run("type EdtContent 评一下\ncheck ChkRetweet on\nclick ButtonSend\nwait\npage");
    EXPECT_EQ(service_.Count("POST /statuses/reply.json 200"), 1) << service_.Log();
    EXPECT_EQ(Occurrences(sent, "评一下"), 2) << sent;
}

} // namespace
} // namespace e2e
