// The endpoints of the REST interface: what each answers on success, and the failures it tells apart.
#include <chrono>
#include <cstdlib>
#include <regex>
#include <thread>

#include "tests/mbservice/mbservice_harness.h"

namespace {

using mbtest::Credentials;
using mbtest::HttpReply;

class MbserviceEndpointTest : public mbtest::DemoServiceTest {
protected:
    void SetUp() override {
        DemoServiceTest::SetUp();
        lin_ = SignIn("lin@velmora.com", "lin123");
    }

    // The newest status of the timeline that the predicate picks.
    template <class Pick> nlohmann::json Find(const nlohmann::json& timeline, Pick pick) const {
        for (const nlohmann::json& status : timeline) {
            if (pick(status))
                return status;
        }
        return nullptr;
    }
    nlohmann::json StatusBy(const std::string& name, const char* flag) const {
        return Find(Home(demo_), [&](const nlohmann::json& status) {
            return status["user"]["name"] == name && status["flag"] == flag;
        });
    }
    HttpReply Post(const std::string& path, const mbtest::Params& params, const Credentials& who) const {
        return Client().Post(path, params, who);
    }
    static std::string Error(const HttpReply& reply) {
        const nlohmann::json body = reply.Json();
        return body.is_object() ? body.value("error", std::string()) : std::string();
    }

    Credentials lin_;
};

TEST_F(MbserviceEndpointTest, HomeTimelineGivesTheAskedCountNewestFirstWithTheMembersClientsRead) {
    const nlohmann::json timeline = Home(demo_, 50);
    ASSERT_TRUE(timeline.is_array());
    ASSERT_EQ(timeline.size(), 50u);
    const std::regex createdAt(
        R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2} [+-]\d{4} \d{4})");
    long long previous = 0;
    for (const nlohmann::json& status : timeline) {
        ASSERT_TRUE(status["id"].is_string());
        const long long id = std::stoll(status["id"].get<std::string>());
        if (previous != 0) {
            EXPECT_LT(id, previous);
        }
        previous = id;
        EXPECT_TRUE(std::regex_match(status["created_at"].get<std::string>(), createdAt))
            << status["created_at"];
        EXPECT_TRUE(status["text"].is_string());
        EXPECT_TRUE(status["user"]["name"].is_string());
        EXPECT_TRUE(status["favorited"].is_boolean());
        if (status["flag"] != "ORIGINAL") {
            EXPECT_TRUE(status["root_in_reply_to_status_text"].is_string()) << status.dump();
            EXPECT_TRUE(status["root_in_reply_to_user_name"].is_string()) << status.dump();
        }
    }
    const nlohmann::json retweet =
        Find(timeline, [](const nlohmann::json& s) { return s["flag"] == "RETWEET"; });
    ASSERT_TRUE(retweet.is_object());
    EXPECT_EQ(retweet["retweeted_status"]["id"], retweet["in_reply_to_status_id"]);
    EXPECT_TRUE(Find(timeline, [](const nlohmann::json& s) { return s["favorited"] == true; }).is_object());
    const std::string pictures = Client().ApiRoot() + "p/";
    EXPECT_TRUE(Find(timeline, [&](const nlohmann::json& s) {
                    return s["text"].get<std::string>().find(pictures) != std::string::npos;
                }).is_object());

    const HttpReply defaults = Client().Get("statuses/home_timeline.json", {}, demo_);
    EXPECT_EQ(defaults.Json().size(), 20u);
}

TEST_F(MbserviceEndpointTest, TimelineCountOutsideItsRangeIsRefused) {
    for (const char* count : {"0", "201", "fifty", "-3"}) {
        const HttpReply reply = Client().Get("statuses/home_timeline.json", {{"count", count}}, demo_);
        EXPECT_EQ(reply.status, 400) << count;
        EXPECT_NE(Error(reply).find("count"), std::string::npos) << reply.body;
    }
}

struct TextCase {
    const char* name;
    std::string text;
    int status;
    const char* error;
};

void PrintTo(const TextCase& entry, std::ostream* out) {
    *out << entry.name;
}

class MbserviceUpdateTest : public MbserviceEndpointTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(MbserviceUpdateTest, PublishesOrRefusesTheText) {
    const TextCase& entry = GetParam();
    const HttpReply reply =
        Post("statuses/update.json", {{"status", entry.text}, {"method", "addbutter"}, {"keyfrom", "tavi"}},
             demo_);
    ASSERT_EQ(reply.status, entry.status) << reply.body;
    if (entry.status == 200) {
        const nlohmann::json status = reply.Json();
        EXPECT_EQ(status["text"], entry.text);
        EXPECT_EQ(status["flag"], "ORIGINAL");
        EXPECT_EQ(status["user"]["screen_name"], "demo");
        EXPECT_EQ(Home(lin_, 1).at(0)["id"], status["id"]);
    } else {
        EXPECT_EQ(Error(reply), entry.error);
        EXPECT_NE(Home(demo_, 1).at(0)["text"], entry.text);
    }
}

std::string Repeat(const std::string& piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MbserviceUpdateTest,
    ::testing::Values(TextCase{"Reserved", "a&b=c d+e%20f", 200, ""},
                      TextCase{"ChineseAndEmoji", "今天天气不错 🌞 http://www.example.com/x?y=1", 200, ""},
                      TextCase{"LineBreaksCountOnce", Repeat("字", 148) + "\r\nx", 200, ""},
                      TextCase{"ExactlyTheLimit", Repeat("字", 150), 200, ""},
                      TextCase{"OverTheLimit", Repeat("字", 151), 400, "微博内容不能超过150个字"},
                      TextCase{"Empty", "", 400, "微博内容不能为空"},
                      TextCase{"Blanks", " \r\n\t", 400, "微博内容不能为空"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.name); });

TEST_F(MbserviceEndpointTest, TextThatIsNotUtf8IsRefused) {
    const HttpReply reply = Post("statuses/update.json", {{"status", "\xD6\xD0\xCE\xC4"}}, demo_);
    EXPECT_EQ(reply.status, 400);
    EXPECT_NE(Error(reply).find("UTF-8"), std::string::npos) << reply.body;
}

TEST_F(MbserviceEndpointTest, RetweetCarriesItsRootThroughAChain) {
    const std::string original = PostStatus(lin_, "原文 http://www.example.com/original");
    const HttpReply first = Post("statuses/retweet/" + original + ".json",
                                 {{"id", original},
                                  {"status", "转给大家"},
                                  {"is_comment", "0"},
                                  {"is_comment_to_root", "0"},
                                  {"method", "retweet"},
                                  {"keyfrom", "tavi"}},
                                 demo_);
    ASSERT_EQ(first.status, 200) << first.body;
    const nlohmann::json retweet = first.Json();
    EXPECT_EQ(retweet["flag"], "RETWEET");
    EXPECT_EQ(retweet["text"], "转给大家");
    EXPECT_EQ(retweet["retweeted_status"]["id"], original);
    EXPECT_EQ(retweet["root_in_reply_to_status_id"], original);
    EXPECT_EQ(retweet["root_in_reply_to_user_name"], "林小雨");
    EXPECT_EQ(retweet["root_in_reply_to_status_text"], "原文 http://www.example.com/original");

    const std::string again = retweet["id"];
    const HttpReply second = Post("statuses/retweet/" + again + ".json",
                                  {{"id", again}, {"status", ""}, {"is_comment", "1"}}, lin_);
    ASSERT_EQ(second.status, 200) << second.body;
    EXPECT_EQ(second.Json()["retweeted_status"]["id"], again);
    EXPECT_EQ(second.Json()["root_in_reply_to_status_id"], original);
    EXPECT_EQ(second.Json()["text"], "转发微博");
    EXPECT_EQ(second.Json()["retweeted_status"]["retweet_count"], 1);
}

TEST_F(MbserviceEndpointTest, RetweetWithCommentsCommentsOnTheStatusAndItsRoot) {
    const std::string original = PostStatus(lin_, "root");
    const std::string middle =
        Post("statuses/retweet/" + original + ".json", {{"id", original}, {"status", "mid"}}, lin_)
            .Json()["id"];
    const HttpReply reply =
        Post("statuses/retweet/" + middle + ".json",
             {{"id", middle}, {"status", "both"}, {"is_comment", "1"}, {"is_comment_to_root", "1"}}, demo_);
    ASSERT_EQ(reply.status, 200) << reply.body;
    int comments = 0;
    for (const nlohmann::json& status : Home(lin_, 10)) {
        if (status["flag"] == "COMMENT" && status["text"] == "both") {
            ++comments;
            EXPECT_EQ(status["root_in_reply_to_status_id"], original);
        }
    }
    EXPECT_EQ(comments, 2);
}

TEST_F(MbserviceEndpointTest, RetweetFailuresAreToldApart) {
    const std::string original = PostStatus(lin_, "x");
    EXPECT_EQ(Post("statuses/retweet/" + original + ".json", {{"id", "1"}}, demo_).status, 400);
    EXPECT_EQ(Post("statuses/retweet/abc.json", {{"id", "abc"}}, demo_).status, 400);
    const HttpReply missing = Post("statuses/retweet/12345.json", {{"id", "12345"}}, demo_);
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(Error(missing), "微博不存在或已被删除");
    EXPECT_EQ(Post("statuses/retweet/" + original + ".json", {{"is_comment", "yes"}}, demo_).status, 400);
}

TEST_F(MbserviceEndpointTest, ReplyCommentsAndMayAlsoRetweet) {
    const std::string original = PostStatus(lin_, "评论我吧");
    const HttpReply reply = Post("statuses/reply.json",
                                 {{"id", original},
                                  {"status", "好的"},
                                  {"is_retweet", "1"},
                                  {"is_comment_to_root", "0"},
                                  {"method", "reply"},
                                  {"keyfrom", "tavi"}},
                                 demo_);
    ASSERT_EQ(reply.status, 200) << reply.body;
    const nlohmann::json comment = reply.Json();
    EXPECT_EQ(comment["flag"], "COMMENT");
    EXPECT_EQ(comment["in_reply_to_status_id"], original);
    EXPECT_EQ(comment["in_reply_to_user_name"], "林小雨");
    EXPECT_EQ(comment["root_in_reply_to_status_text"], "评论我吧");
    const nlohmann::json target =
        Find(Home(lin_), [&](const nlohmann::json& status) { return status["id"] == original; });
    EXPECT_EQ(target["comments_count"], 1);
    EXPECT_EQ(target["retweet_count"], 1);

    EXPECT_EQ(Post("statuses/reply.json", {{"status", "no id"}}, demo_).status, 400);
    EXPECT_EQ(Error(Post("statuses/reply.json", {{"id", original}}, demo_)), "微博内容不能为空");
    EXPECT_EQ(Post("statuses/reply.json", {{"id", "99"}, {"status", "gone"}}, demo_).status, 404);
}

TEST_F(MbserviceEndpointTest, OnlyTheAuthorDeletesAStatus) {
    const std::string mine = PostStatus(demo_, "to be deleted");
    const std::string theirs = PostStatus(lin_, "not yours");

    const HttpReply foreign = Post("statuses/destroy/" + theirs + ".json", {{"id", theirs}}, demo_);
    EXPECT_EQ(foreign.status, 403);
    EXPECT_EQ(Error(foreign), "不能删除别人的微博");
    EXPECT_EQ(Home(demo_, 1).at(0)["id"], theirs);

    const HttpReply own = Post("statuses/destroy/" + mine + ".json", {{"id", mine}}, demo_);
    ASSERT_EQ(own.status, 200) << own.body;
    EXPECT_EQ(own.Json()["id"], mine);
    EXPECT_FALSE(Find(Home(demo_), [&](const nlohmann::json& s) { return s["id"] == mine; }).is_object());
    EXPECT_EQ(Post("statuses/destroy/" + mine + ".json", {{"id", mine}}, demo_).status, 404);
}

TEST_F(MbserviceEndpointTest, RetweetOfADeletedRootShowsThatItIsGone) {
    const std::string original = PostStatus(lin_, "soon gone");
    Post("statuses/retweet/" + original + ".json", {{"id", original}, {"status", "keep"}}, demo_);
    ASSERT_EQ(Post("statuses/destroy/" + original + ".json", {{"id", original}}, lin_).status, 200);
    const nlohmann::json retweet = Home(demo_, 1).at(0);
    EXPECT_EQ(retweet["text"], "keep");
    EXPECT_EQ(retweet["root_in_reply_to_status_text"], "此微博已被原作者删除");
    EXPECT_EQ(Post("statuses/retweet/" + original + ".json", {{"id", original}}, demo_).status, 404);
}

TEST_F(MbserviceEndpointTest, FavouritesAreAddedAndRemovedOnce) {
    const std::string id = PostStatus(lin_, "keep me");
    const HttpReply added = Post("favorites/create/" + id + ".json", {{"id", id}}, demo_);
    ASSERT_EQ(added.status, 200) << added.body;
    EXPECT_EQ(added.Json()["favorited"], true);
    EXPECT_EQ(Home(demo_, 1).at(0)["favorited"], true);
    EXPECT_EQ(Home(lin_, 1).at(0)["favorited"], false);
    EXPECT_EQ(Error(Post("favorites/create/" + id + ".json", {{"id", id}}, demo_)), "已经收藏过这条微博");

    const HttpReply removed = Post("favorites/destroy/" + id + ".json", {{"id", id}}, demo_);
    ASSERT_EQ(removed.status, 200) << removed.body;
    EXPECT_EQ(removed.Json()["favorited"], false);
    EXPECT_EQ(Post("favorites/destroy/" + id + ".json", {{"id", id}}, demo_).status, 403);
    EXPECT_EQ(Post("favorites/create/4242.json", {{"id", "4242"}}, demo_).status, 404);
    EXPECT_EQ(Post("favorites/destroy/4242.json", {{"id", "4242"}}, demo_).status, 404);
}

TEST_F(MbserviceEndpointTest, ProfileNicknameChangesUnlessInvalidOrTaken) {
    const HttpReply changed = Post("account/update_profile.json", {{"nick_name", "维维"}}, demo_);
    ASSERT_EQ(changed.status, 200) << changed.body;
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, demo_).Json()["name"], "维维");
    EXPECT_EQ(Error(Post("account/update_profile.json", {{"nick_name", "bad name!"}}, demo_)),
              "昵称格式不合法");
    EXPECT_EQ(Error(Post("account/update_profile.json", {{"nick_name", "林小雨"}}, demo_)), "昵称已被占用");
    EXPECT_EQ(Post("account/update_profile.json", {{"nick_name", "维维"}}, demo_).status, 200);
}

TEST_F(MbserviceEndpointTest, MentionsGatherNamesAndCommentsOnMyStatuses) {
    const std::string mention = PostStatus(lin_, "@小维 周末见");
    const std::string mine = PostStatus(demo_, "my own");
    const std::string comment =
        Post("statuses/reply.json", {{"id", mine}, {"status", "nice"}}, lin_).Json()["id"];
    const HttpReply reply = Client().Get("statuses/mentions.json", {{"count", "50"}}, demo_);
    ASSERT_EQ(reply.status, 200) << reply.body;
    const nlohmann::json mentions = reply.Json();
    ASSERT_GE(mentions.size(), 2u);
    EXPECT_EQ(mentions[0]["id"], comment);
    EXPECT_EQ(mentions[1]["id"], mention);
    for (const nlohmann::json& status : mentions)
        EXPECT_NE(status["user"]["screen_name"], "demo");
}

TEST_F(MbserviceEndpointTest, RemindersCountWhatOthersDidSinceTheLastRead) {
    Home(demo_);
    Client().Get("statuses/mentions.json", {}, demo_);
    nlohmann::json counters = Reminds(demo_);
    EXPECT_EQ(counters,
              (nlohmann::json{{"timelineCount", "0"}, {"replyCount", "0"}, {"commentOfMeCount", "0"}}));

    const std::string mine = PostStatus(demo_, "say something");
    PostStatus(lin_, "hello everyone");
    PostStatus(lin_, "@小维 are you there?");
    Post("statuses/reply.json", {{"id", mine}, {"status", "something"}}, lin_);
    counters = Reminds(demo_);
    EXPECT_EQ(counters["timelineCount"], "3");
    EXPECT_EQ(counters["replyCount"], "1");
    EXPECT_EQ(counters["commentOfMeCount"], "1");
    EXPECT_EQ(Reminds(lin_)["timelineCount"], "1");

    Home(demo_);
    counters = Reminds(demo_);
    EXPECT_EQ(counters["timelineCount"], "0");
    EXPECT_EQ(counters["replyCount"], "1");
    Client().Get("statuses/mentions.json", {}, demo_);
    EXPECT_EQ(Reminds(demo_)["replyCount"], "0");
    EXPECT_EQ(Reminds(demo_)["commentOfMeCount"], "0");
}

class MbserviceActivationTest : public MbserviceEndpointTest {
protected:
    void SetUp() override {
        MbserviceEndpointTest::SetUp();
        newbie_ = SignIn("newbie@velmora.com", "newbie123");
    }
    HttpReply Activate(const std::string& nickname, const Credentials& who) const {
        return Post("account/activate.json", {{"nick_name", nickname}}, who);
    }
    Credentials newbie_;
};

TEST_F(MbserviceActivationTest, AccountWithoutMicroblogSignsInButIsNotOkUntilActivated) {
    const HttpReply verify = Client().Get("account/verify_credentials.json", {}, newbie_);
    EXPECT_EQ(verify.status, 403);
    EXPECT_EQ(Error(verify), "该帐号尚未开通微博");
    EXPECT_EQ(Client().Get("statuses/home_timeline.json", {}, newbie_).status, 403);
    EXPECT_EQ(Client().Get("reminds/message/latest.json", {}, newbie_).status, 403);

    const HttpReply invalid = Activate("新 人", newbie_);
    EXPECT_EQ(invalid.status, 400);
    EXPECT_EQ(Error(invalid), "昵称格式不合法");
    const HttpReply taken = Activate("林小雨", newbie_);
    EXPECT_EQ(taken.status, 400);
    EXPECT_EQ(Error(taken), "昵称已被占用");
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, newbie_).status, 403);

    const HttpReply opened = Activate("新人小王", newbie_);
    ASSERT_EQ(opened.status, 200) << opened.body;
    EXPECT_EQ(opened.Json()["name"], "新人小王");
    const HttpReply now = Client().Get("account/verify_credentials.json", {}, newbie_);
    ASSERT_EQ(now.status, 200);
    EXPECT_EQ(now.Json()["screen_name"], "newbie");
    EXPECT_FALSE(Home(newbie_, 50).empty());
    EXPECT_EQ(Reminds(newbie_)["timelineCount"], "0");

    // The new user is followed by the others: their counters move with its posts.
    Home(demo_);
    PostStatus(newbie_, "大家好，我是新人");
    EXPECT_EQ(Reminds(demo_)["timelineCount"], "1");
    EXPECT_EQ(Activate("再来一次", newbie_).status, 403);
}

TEST_F(MbserviceActivationTest, BarredAccountCannotOpenAMicroblog) {
    const Credentials barred = SignIn("barred@velmora.com", "barred123");
    const HttpReply refused = Activate("被拒绝的人", barred);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(Error(refused), "创建微博用户失败");
    EXPECT_EQ(Activate("小维", barred).status, 400);
}

class MbserviceRefusedActivationTest : public MbserviceActivationTest {
protected:
    std::vector<std::string> ServiceArgs() const override {
        return {"--seed", "demo", "--refuse-activation"};
    }
};

TEST_F(MbserviceRefusedActivationTest, EveryActivationFails) {
    const HttpReply refused = Activate("新人小王", newbie_);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(Error(refused), "创建微博用户失败");
    EXPECT_EQ(Client().Get("account/verify_credentials.json", {}, newbie_).status, 403);
}

class MbserviceActivityTest : public mbtest::DemoServiceTest {
protected:
    std::vector<std::string> ServiceArgs() const override { return {"--seed", "demo", "--activity", "1"}; }
};

TEST_F(MbserviceActivityTest, OtherUsersPostOverTimeAndTheCounterMoves) {
    Home(demo_);
    // Bounded wait for the generator's posts to show in the counter.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int count = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        count = std::atoi(Reminds(demo_)["timelineCount"].get<std::string>().c_str());
        if (count >= 2)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_GE(count, 2);
    const nlohmann::json newest = Home(demo_, 5);
    // Reading the timeline cleared the counter; the generator may have posted once since.
    EXPECT_LE(std::atoi(Reminds(demo_)["timelineCount"].get<std::string>().c_str()), 1);
    EXPECT_NE(service_->ErrorLog().find("activity: status " + newest.at(0)["id"].get<std::string>()),
              std::string::npos);
}

} // namespace
