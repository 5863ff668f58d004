// The saved replies under tests/fixtures/mbservice, which other rooms' tests read, keep the shape
// of what the service answers now: the same members with the same JSON types.
#include <set>

#include "tests/mbservice/mbservice_harness.h"

namespace {

std::string FixturePath(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/tests/fixtures/mbservice/" + name;
}

nlohmann::json Fixture(const std::string& name) {
    return nlohmann::json::parse(testenv::ReadFile(FixturePath(name)), nullptr, false);
}

// The members and their types, with every value left out; an array takes the shape of its first element.
nlohmann::json Shape(const nlohmann::json& value) {
    if (value.is_object()) {
        nlohmann::json shape = nlohmann::json::object();
        for (const auto& [name, member] : value.items())
            shape[name] = Shape(member);
        return shape;
    }
    if (value.is_array())
        return nlohmann::json::array({value.empty() ? nlohmann::json() : Shape(value.front())});
    return value.type_name();
}

// The shape of the first status of each kind in a timeline.
std::map<std::string, nlohmann::json> ShapesByFlag(const nlohmann::json& timeline) {
    std::map<std::string, nlohmann::json> shapes;
    for (const nlohmann::json& status : timeline)
        shapes.emplace(status.value("flag", ""), Shape(status));
    return shapes;
}

class MbserviceFixtureTest : public mbtest::DemoServiceTest {};

TEST_F(MbserviceFixtureTest, SavedRepliesHaveTheShapeOfLiveOnes) {
    const nlohmann::json savedTimeline = Fixture("home_timeline.json");
    ASSERT_TRUE(savedTimeline.is_array());
    EXPECT_EQ(savedTimeline.size(), 50u);
    const auto saved = ShapesByFlag(savedTimeline);
    const auto live = ShapesByFlag(Home(demo_, 50));
    ASSERT_EQ(saved.size(), 3u);
    for (const auto& [flag, shape] : saved) {
        ASSERT_TRUE(live.count(flag)) << flag;
        EXPECT_EQ(shape, live.at(flag)) << flag;
    }

    EXPECT_EQ(Shape(Fixture("verify_credentials.json")),
              Shape(Client().Get("account/verify_credentials.json", {}, demo_).Json()));
    EXPECT_EQ(Shape(Fixture("reminds.json")), Shape(Reminds(demo_)));
    const mbtest::Credentials newbie = SignIn("newbie@velmora.com", "newbie123");
    EXPECT_EQ(Fixture("verify_credentials_no_microblog.json"),
              Client().Get("account/verify_credentials.json", {}, newbie).Json());
    EXPECT_EQ(Fixture("activate_nickname_taken.json"),
              Client().Post("account/activate.json", {{"nick_name", "林小雨"}}, newbie).Json());
    EXPECT_EQ(Fixture("activate_invalid_nickname.json"),
              Client().Post("account/activate.json", {{"nick_name", "新 人"}}, newbie).Json());
    const mbtest::Credentials barred = SignIn("barred@velmora.com", "barred123");
    EXPECT_EQ(Fixture("activate_failed.json"),
              Client().Post("account/activate.json", {{"nick_name", "拒绝"}}, barred).Json());
    EXPECT_EQ(Shape(Fixture("activate.json")),
              Shape(Client().Post("account/activate.json", {{"nick_name", "新人小王"}}, newbie).Json()));

    const std::string token = testenv::ReadFile(FixturePath("access_token.txt"));
    std::set<std::string> names;
    for (const auto& [name, value] : mbtest::ParseForm(token.substr(0, token.find('\n'))))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"oauth_token", "oauth_token_secret", "user_id", "screen_name"}));
    EXPECT_EQ(
        testenv::ReadFile(FixturePath("timestamp_refused.txt")).rfind("oauth_problem=timestamp_refused", 0),
        0u);
}

} // namespace
