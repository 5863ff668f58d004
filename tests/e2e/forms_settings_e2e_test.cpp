// The settings form end to end: tavi signed in to mbservice as the demo user, the form opened from
// the host, typed into through the host's message pre-translation, and what OK stores and starts.
#include "host/common.h"
#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kDemo = "demo@velmora.com";
constexpr const char* kDemoPassword = "demo123";

// The last balloon the output lists, or empty.
std::string LastBalloon(const std::string& output) {
    std::string last;
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (line.rfind("balloon ", 0) == 0)
            last = line;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return last;
}

class SettingsE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service_.Started()) << service_.Log();
        app_ = std::make_unique<AppFolder>(service_);
    }
    // The demo user's settings as a bound account with a stored password and this interval.
    tavi::Property Bound(int interval) const { return e2e::BoundSettings(kDemo, kDemoPassword, interval); }
    // Tries the account with a password typed and OK; the balloon that came of it, or "accepted"
    // when the form closed.
    std::string TryAccount(TaviSession& demo, const std::string& account) {
        std::string output = demo.Run("settings\ntype EditAccount " + account +
                                      "\ntype EditPassword demo123\nclick ButtonOK\nwait\nwindows\nballoons");
        if (LineWith(output, {"form MicroBlogConfigForm", "visible=0"}) != "")
            return "accepted";
        return LastBalloon(output);
    }

    MbService service_;
    std::unique_ptr<AppFolder> app_;
};

TEST_F(SettingsE2E, TheStoredPasswordIsMaskedKeptOnOkAndAskedForAfterTheAccountChanges) {
    // A stored interval below one shows as the default.
    ASSERT_TRUE(app_->Store(kDemo, Bound(0)));
    TaviSession demo(*app_, kDemo, kDemoPassword);
    SignIn(demo);
    int signIns = service_.Count("GET /oauth/access_token 200");

    std::string shown = demo.Run("settings\nwindows\nscreen");
    EXPECT_NE(LineWith(shown, {"form MicroBlogConfigForm", "visible=1", "foreground=1"}), "") << shown;
    EXPECT_NE(LineWith(shown, {"edit EditPassword", "text=\"********\""}), "") << shown;
    EXPECT_NE(LineWith(shown, {"edit EditAccount", "enabled=1", "text=\"demo@velmora.com\""}), "") << shown;
    EXPECT_NE(LineWith(shown, {"edit EditInterval", "text=\"15\""}), "") << shown;
    EXPECT_NE(LineWith(shown, {"CheckSyncSignature", "enabled=0", "checked=1"}), "") << shown;

    // OK without touching the password keeps it, and the changed settings sign in again.
    std::string ok = demo.Run("click ButtonOK\nwait\nwindows");
    EXPECT_NE(LineWith(ok, {"form MicroBlogConfigForm", "visible=0"}), "") << ok;
    tavi::Property stored = app_->Stored(kDemo);
    EXPECT_EQ(stored, Bound(15));
    EXPECT_EQ(service_.Count("GET /oauth/access_token 200"), signIns + 1) << service_.Log();
    EXPECT_NE(demo.Run("screen").find("MicroBlogListPanel"), std::string::npos);

    // Typing into the account empties the password, which OK then asks for.
    std::string retyped =
        demo.Run("settings\ntype EditAccount demo@velmora.com\nscreen\nclick ButtonOK\nballoons");
    EXPECT_NE(LineWith(retyped, {"edit EditPassword", "text=\"\""}), "") << retyped;
    EXPECT_EQ(LastBalloon(retyped), "balloon EditPassword 2000 请输入密码。") << retyped;
    EXPECT_EQ(app_->Stored(kDemo), Bound(15));

    // Cancel drops the edits; the next show has the stored password again.
    std::string again = demo.Run("click ButtonCancel\nsettings\nscreen");
    EXPECT_NE(LineWith(again, {"edit EditPassword", "text=\"********\""}), "") << again;
    demo.Run("click ButtonCancel");
}

TEST_F(SettingsE2E, AccountsMustBeMailAddressesAndTheIntervalAtLeastOneMinute) {
    ASSERT_TRUE(app_->Store(kDemo, Bound(15)));
    TaviSession demo(*app_, kDemo, kDemoPassword);
    SignIn(demo);
    const std::string accountRefused = "balloon EditAccount 2000 账号格式不正确，请输入邮箱地址。";
    const std::string a63 = std::string(53, 'a') + "@velmora.c";
    const std::string a64 = std::string(54, 'a') + "@velmora.c";
    const std::string a65 = std::string(55, 'a') + "@velmora.c";

    EXPECT_EQ(TryAccount(demo, a64), accountRefused);
    // The edit takes 64 bytes: the 65th is refused with the limit's tip, and the 64 are no address.
    std::string typed = demo.Run("type EditAccount " + a65 + "\nscreen\nballoons");
    EXPECT_NE(LineWith(typed, {"edit EditAccount", "text=\"" + a65.substr(0, 64) + "\""}), "") << typed;
    EXPECT_EQ(LastBalloon(typed), "balloon EditAccount 2000 输入的内容超出了长度限制。") << typed;
    demo.Run("click ButtonCancel");
    EXPECT_EQ(TryAccount(demo, "a@b."), accountRefused);
    EXPECT_EQ(TryAccount(demo, "@ab"), accountRefused);
    EXPECT_EQ(TryAccount(demo, "\" \""), "balloon EditAccount 2000 请输入要绑定的微博账号。");
    demo.Run("click ButtonCancel");

    const std::string intervalRefused = "balloon EditInterval 2000 提醒间隔至少为1分钟。";
    for (const char* interval : {"0", "\"\""}) {
        std::string output =
            demo.Run(std::string("settings\ntype EditInterval ") + interval + "\nclick ButtonOK\nballoons");
        EXPECT_EQ(LastBalloon(output), intervalRefused) << interval;
        demo.Run("click ButtonCancel");
    }
    std::string digits = demo.Run("settings\ntype EditInterval 9999\nscreen\nclick ButtonOK\nwait");
    EXPECT_NE(LineWith(digits, {"edit EditInterval", "text=\"999\""}), "") << "three digits at most\n"
                                                                           << digits;
    EXPECT_EQ(app_->Stored(kDemo).GetInteger(microblog::kKeyPromptInterval), 999);

    // Accepted addresses are stored and signed in with (neither domain is one the plug-in knows).
    EXPECT_EQ(TryAccount(demo, a63), "accepted");
    EXPECT_EQ(app_->Stored(kDemo).GetString(microblog::kKeyAccount), a63);
    EXPECT_EQ(TryAccount(demo, "a@b"), "accepted");
    EXPECT_EQ(app_->Stored(kDemo).GetString(microblog::kKeyAccount), "a@b");
    EXPECT_EQ(app_->Stored(kDemo).GetString(microblog::kKeyPassword), tavi::GetMD5(kDemoPassword));

    // Unbound, an empty account is accepted.
    std::string unbound = demo.Run("settings\ntype EditAccount \"\"\ncheck CheckBindMicroBlog off\nscreen\n"
                                   "click ButtonOK\nwait\nwindows");
    EXPECT_NE(LineWith(unbound, {"edit EditAccount", "enabled=0"}), "") << unbound;
    EXPECT_NE(LineWith(unbound, {"form MicroBlogConfigForm", "visible=0"}), "") << unbound;
    tavi::Property stored = app_->Stored(kDemo);
    EXPECT_EQ(stored.GetInteger(microblog::kKeyBound), 0);
    EXPECT_EQ(stored.GetString(microblog::kKeyAccount), "");

    // Bound again to the demo account, the sign-in ends in the timeline.
    std::string rebound =
        demo.Run("settings\ncheck CheckBindMicroBlog on\ntype EditAccount demo@velmora.com\n"
                 "type EditPassword demo123\nclick ButtonOK\nwait\nscreen");
    EXPECT_NE(rebound.find("MicroBlogListPanel"), std::string::npos) << rebound;
    EXPECT_EQ(app_->Stored(kDemo), Bound(999));
}

} // namespace
} // namespace e2e
