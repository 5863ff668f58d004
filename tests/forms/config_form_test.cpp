// The settings form: what it shows of the stored settings, what OK stores, which inputs it refuses
// and where it says so, and the user's typing seen through the message pre-translation.
#include "tests/forms/forms_fixture.h"

#include "service/settings.h"

namespace formstest {
namespace {

using microblog::MicroBlogConfigForm;

constexpr const char* kStoredPassword = "0f359740bd1cda994f8b55330c86d845"; // what the form stores, an MD5

class ConfigFormTest : public FormsTest {
protected:
    // Replaces the stored settings with exactly these entries.
    void Store(const tavi::Property& settings) {
        ASSERT_TRUE(host_->core().SaveUserData(microblog::kSettingsName, "demo@velmora.com", settings, 1));
    }
    tavi::Property Stored() {
        tavi::Property stored;
        host_->core().LoadUserData(microblog::kSettingsName, "demo@velmora.com", stored);
        return stored;
    }
    static tavi::Property BoundSettings() {
        tavi::Property settings;
        settings.SetInteger(microblog::kKeyBound, 1);
        settings.SetString(microblog::kKeyAccount, "demo@velmora.com");
        settings.SetString(microblog::kKeyPassword, kStoredPassword);
        settings.SetInteger(microblog::kKeyPromptEnabled, 1);
        settings.SetInteger(microblog::kKeyPromptInterval, 20);
        settings.SetInteger(microblog::kKeyReserved6, 1);
        settings.SetInteger(microblog::kKeyReserved7, 0);
        settings.SetInteger(microblog::kKeyReserved8, 0);
        return settings;
    }

    MicroBlogConfigForm* Show() {
        microblog::ShowConfigForm();
        loop().RunUntilIdle();
        MicroBlogConfigForm* form = microblog::FindConfigForm();
        EXPECT_NE(form, nullptr);
        if (form) {
            EXPECT_TRUE(form->IsWindowVisible());
            account_ = Control<tavi::CSWColorEdit>(form, "EditAccount");
            password_ = Control<tavi::CSWColorEdit>(form, "EditPassword");
            interval_ = Control<tavi::CSWColorEdit>(form, "EditInterval");
            bind_ = Control<tavi::CSkinCheckBox>(form, "CheckBindMicroBlog");
            notice_ = Control<tavi::CSkinCheckBox>(form, "CheckNoticeNewMicroBlog");
            ok_ = Control<tavi::CSkinObject>(form, "ButtonOK");
        }
        return form;
    }

    tavi::CSWColorEdit* account_ = nullptr;
    tavi::CSWColorEdit* password_ = nullptr;
    tavi::CSWColorEdit* interval_ = nullptr;
    tavi::CSkinCheckBox* bind_ = nullptr;
    tavi::CSkinCheckBox* notice_ = nullptr;
    tavi::CSkinObject* ok_ = nullptr;
};

struct EmailCase {
    std::string name;
    bool valid;
};

class EmailTest : public ::testing::TestWithParam<EmailCase> {};

TEST_P(EmailTest, AccountsAreMailAddressesOfPlainBytes) {
    EXPECT_EQ(MicroBlogConfigForm::IsValidEmail(GetParam().name), GetParam().valid) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Names, EmailTest,
                         ::testing::Values(EmailCase{"a@b", true},
                                           EmailCase{"demo.user-1_x@velmora.com", true},
                                           EmailCase{std::string(53, 'a') + "@velmora.c", true}, // 63 bytes
                                           EmailCase{std::string(54, 'a') + "@velmora.c", false},
                                           EmailCase{"a@b.", false}, EmailCase{"@ab", false},
                                           EmailCase{"ab@", false}, EmailCase{"ab", false},
                                           EmailCase{"a b@velmora.com", false}, EmailCase{"a@b@c", false},
                                           EmailCase{"小维@velmora.com", false}, EmailCase{"", false}));

TEST_F(ConfigFormTest, ShowsTheStoredSettingsWithThePasswordMasked) {
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(bind_->IsChecked());
    EXPECT_EQ(account_->GetWindowText(), "demo@velmora.com");
    EXPECT_EQ(password_->GetDisplayText(), "********");
    EXPECT_TRUE(account_->IsWindowEnabled());
    EXPECT_TRUE(password_->IsWindowEnabled());
    EXPECT_EQ(Control<tavi::CSkinLabel>(form, "LabelCurrentAccount")->GetText(), "demo@velmora.com");
    EXPECT_TRUE(notice_->IsChecked());
    EXPECT_EQ(interval_->GetWindowText(), "20");
    auto* sync = Control<tavi::CSkinCheckBox>(form, "CheckSyncSignature");
    EXPECT_TRUE(sync->IsChecked());
    EXPECT_FALSE(sync->IsEnabled());
    EXPECT_FALSE(Control<tavi::CSkinObject>(form, "CheckAutoWatch")->IsEnabled());
    EXPECT_FALSE(Control<tavi::CSkinObject>(form, "CheckBeWatched")->IsEnabled());
    EXPECT_EQ(form->GetWindowText(), Text("STRID_MICROBLOG_CONF_TITLE"));
}

struct IntervalCase {
    const char* name;
    bool stored;
    int value;
};

class StoredIntervalTest : public ConfigFormTest, public ::testing::WithParamInterface<IntervalCase> {};

TEST_P(StoredIntervalTest, AnIntervalBelowOneOrNoneShowsFifteen) {
    tavi::Property settings = BoundSettings();
    if (GetParam().stored)
        settings.SetInteger(microblog::kKeyPromptInterval, GetParam().value);
    else
        settings.Erase(microblog::kKeyPromptInterval);
    Store(settings);
    ASSERT_NE(Show(), nullptr);
    EXPECT_EQ(interval_->GetWindowText(), "15");
}

INSTANTIATE_TEST_SUITE_P(Stored, StoredIntervalTest,
                         ::testing::Values(IntervalCase{"Zero", true, 0}, IntervalCase{"Negative", true, -3},
                                           IntervalCase{"Absent", false, 0}),
                         [](const ::testing::TestParamInfo<IntervalCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ConfigFormTest, AbsentFlagsShowTickedAndAnUnboundAccountShowsNoAccount) {
    tavi::Property settings;
    settings.SetString(microblog::kKeyAccount, "demo@velmora.com");
    Store(settings);
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(bind_->IsChecked());
    EXPECT_TRUE(notice_->IsChecked());
    EXPECT_EQ(password_->GetWindowText(), "");

    tavi::Property unbound = BoundSettings();
    unbound.SetInteger(microblog::kKeyBound, 0);
    unbound.SetInteger(microblog::kKeyPromptEnabled, 0);
    Store(unbound);
    form = Show();
    EXPECT_FALSE(bind_->IsChecked());
    EXPECT_FALSE(account_->IsWindowEnabled());
    EXPECT_FALSE(password_->IsWindowEnabled());
    EXPECT_FALSE(interval_->IsWindowEnabled());
    EXPECT_EQ(Control<tavi::CSkinLabel>(form, "LabelCurrentAccount")->GetText(),
              Text("STRID_MICROBLOG_CONF_NOACCOUNT"));
    // Ticking the boxes enables their edits again.
    bind_->PerformClick();
    notice_->PerformClick();
    EXPECT_TRUE(account_->IsWindowEnabled());
    EXPECT_TRUE(password_->IsWindowEnabled());
    EXPECT_TRUE(interval_->IsWindowEnabled());
}

TEST_F(ConfigFormTest, OkWithoutTouchingThePasswordStoresItUnchangedAndKeepsTheOtherEntries) {
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    // Moving through the password edit with Tab is no edit of the password.
    account_->SetFocus();
    Press(tavi::VK_TAB);
    ASSERT_EQ(tavi::CWnd::GetFocus(), password_);
    Press(tavi::VK_TAB);
    Type(interval_, "999");
    ASSERT_TRUE(ok_->PerformClick());
    loop().RunUntilIdle();

    EXPECT_TRUE(notifier().GetBalloons().empty());
    EXPECT_FALSE(form->IsWindowVisible());
    tavi::Property expected = BoundSettings();
    expected.SetInteger(microblog::kKeyPromptInterval, 999);
    EXPECT_EQ(Stored(), expected);
}

TEST_F(ConfigFormTest, TypingIntoTheAccountEmptiesThePasswordAndOkThenAsksForOne) {
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    account_->SetFocus();
    account_->SendMessage(tavi::EM_SETSEL, -1, -1);
    TypeHere("x");
    EXPECT_EQ(password_->GetWindowText(), "");
    EXPECT_TRUE(form->IsPasswordChanged());
    Type(account_, "lin@velmora.com");
    ASSERT_TRUE(ok_->PerformClick());
    EXPECT_EQ(Balloons(),
              std::vector<std::string>{BalloonOf("EditPassword", Text("STRID_MICROBLOG_BLANK_PASSWORD"))});
    EXPECT_TRUE(form->IsWindowVisible());
    EXPECT_EQ(Stored(), BoundSettings());

    Type(password_, "lin123");
    ASSERT_TRUE(ok_->PerformClick());
    EXPECT_FALSE(form->IsWindowVisible());
    tavi::Property stored = Stored();
    EXPECT_EQ(stored.GetString(microblog::kKeyAccount), "lin@velmora.com");
    EXPECT_EQ(stored.GetString(microblog::kKeyPassword), tavi::GetMD5("lin123"));
}

TEST_F(ConfigFormTest, ShowingTheFormAgainDropsUnsavedEdits) {
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    Type(account_, "lin@velmora.com");
    Control<tavi::CSkinObject>(form, "ButtonCancel")->PerformClick();
    EXPECT_FALSE(form->IsWindowVisible());
    EXPECT_EQ(Show(), form) << "one settings form per process";
    EXPECT_EQ(account_->GetWindowText(), "demo@velmora.com");
    EXPECT_EQ(password_->GetDisplayText(), "********");
    EXPECT_FALSE(form->IsPasswordChanged());
}

struct RefusalCase {
    const char* name;
    bool bind;
    std::string account;  // set as text, so that it may exceed what typing allows
    std::string password; // typed; "-" leaves the stored one alone
    std::string interval;
    std::string stringId; // empty: accepted
    std::string anchor;
};

class ValidateTest : public ConfigFormTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ValidateTest, EachRefusalIsABalloonAtItsControlAndChangesNothing) {
    const RefusalCase& c = GetParam();
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    if (bind_->IsChecked() != c.bind)
        bind_->PerformClick();
    account_->SetWindowText(c.account);
    if (c.password != "-")
        Type(password_, c.password);
    interval_->SetWindowText(c.interval);
    ASSERT_TRUE(ok_->PerformClick());
    loop().RunUntilIdle();

    if (c.stringId.empty()) {
        EXPECT_TRUE(notifier().GetBalloons().empty());
        EXPECT_FALSE(form->IsWindowVisible());
        tavi::Property stored = Stored();
        EXPECT_EQ(stored.GetInteger(microblog::kKeyBound), c.bind ? 1 : 0);
        EXPECT_EQ(stored.GetString(microblog::kKeyAccount), c.account);
        EXPECT_EQ(stored.GetString(microblog::kKeyPassword), c.password == "-" ? kStoredPassword : "");
        return;
    }
    EXPECT_EQ(Balloons(), std::vector<std::string>{BalloonOf(c.anchor, Text(c.stringId.c_str()))});
    EXPECT_TRUE(form->IsWindowVisible());
    EXPECT_EQ(Stored(), BoundSettings());
}

const std::string k63 = std::string(53, 'a') + "@velmora.c";
const std::string k64 = std::string(54, 'a') + "@velmora.c";
const std::string k65 = std::string(55, 'a') + "@velmora.c";

INSTANTIATE_TEST_SUITE_P(
    Inputs, ValidateTest,
    ::testing::Values(
        RefusalCase{"BlankAccount", true, "  ", "-", "15", "STRID_MICROBLOG_BLANK_EMAIL", "EditAccount"},
        RefusalCase{"Account63Bytes", true, k63, "-", "15", "", ""},
        RefusalCase{"Account64BytesIsNoAddress", true, k64, "-", "15", "STRID_MICROBLOG_ERROR_ACCOUNT",
                    "EditAccount"},
        RefusalCase{"Account65BytesIsTooLong", true, k65, "-", "15", "STRID_MICROBLOG_ERROR_OVERADDR",
                    "EditAccount"},
        RefusalCase{"Account65BytesIsTooLongUnbound", false, k65, "-", "15", "STRID_MICROBLOG_ERROR_OVERADDR",
                    "EditAccount"},
        RefusalCase{"AccountWithABlank", true, "de mo@velmora.com", "-", "15",
                    "STRID_MICROBLOG_ERROR_ACCOUNT", "EditAccount"},
        RefusalCase{"AccountEndingInADot", true, "a@b.", "-", "15", "STRID_MICROBLOG_ERROR_ACCOUNT",
                    "EditAccount"},
        RefusalCase{"ShortestAddress", true, "a@b", "-", "15", "", ""},
        RefusalCase{"UnboundTakesAnyAccountAndNoPassword", false, "not an address", "", "15", "", ""},
        RefusalCase{"UnboundTakesAnEmptyAccount", false, "", "", "15", "", ""},
        RefusalCase{"BoundNeedsAPassword", true, "demo@velmora.com", "", "15",
                    "STRID_MICROBLOG_BLANK_PASSWORD", "EditPassword"},
        RefusalCase{"IntervalZero", true, "demo@velmora.com", "-", "0", "STRID_MICROBLOG_ERROR_SHORTTIME",
                    "EditInterval"},
        RefusalCase{"IntervalEmpty", true, "demo@velmora.com", "-", " ", "STRID_MICROBLOG_ERROR_SHORTTIME",
                    "EditInterval"},
        RefusalCase{"IntervalTooLargeForANumber", true, "demo@velmora.com", "-", "99999999999",
                    "STRID_MICROBLOG_ERROR_SHORTTIME", "EditInterval"},
        RefusalCase{"Interval999", true, "demo@velmora.com", "-", "999", "", ""}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigFormTest, TheIntervalEditTakesAtMostThreeDigits) {
    Store(BoundSettings());
    ASSERT_NE(Show(), nullptr);
    Type(interval_, "12a345");
    EXPECT_EQ(interval_->GetWindowText(), "123");
}

TEST_F(ConfigFormTest, TheHostClosingTheFormReleasesItAndTheNextShowMakesANewOne) {
    MicroBlogConfigForm* first = Show();
    ASSERT_NE(first, nullptr);
    tavi::CSkinWndManager::GetInstance()->QueryCloseForms();
    EXPECT_EQ(microblog::FindConfigForm(), nullptr);
    MicroBlogConfigForm* second = Show();
    ASSERT_NE(second, nullptr);
    microblog::DestroyConfigForm();
    EXPECT_EQ(microblog::FindConfigForm(), nullptr);
    EXPECT_EQ(tavi::CSkinWndManager::GetInstance()->FindForm("MicroBlogConfigForm"), nullptr);
}

TEST_F(ConfigFormTest, EnterInTheFormPressesOkAndEscapeCancels) {
    Store(BoundSettings());
    MicroBlogConfigForm* form = Show();
    ASSERT_NE(form, nullptr);
    Type(interval_, "30");
    Press(tavi::VK_ESCAPE);
    EXPECT_FALSE(form->IsWindowVisible());
    EXPECT_EQ(Stored(), BoundSettings());
    Show();
    Type(interval_, "30");
    Press(tavi::VK_RETURN);
    EXPECT_FALSE(form->IsWindowVisible());
    EXPECT_EQ(Stored().GetInteger(microblog::kKeyPromptInterval), 30);
}

} // namespace
} // namespace formstest
