// The host program's user-interface commands, run in-process against a small plug-in of the tests
// built on the UI library as the microblog plug-in is: a panel with a label, buttons, a check box
// and an edit, a list window with a browser, and a dialog.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/host_app.h"
#include "app/screen_text.h"
#include "host/common.h"
#include "host/msgbox.h"
#include "host/services.h"
#include "host/skin.h"
#include "runtime/common/runtime_settings.h"
#include "tests/support/test_env.h"

namespace apptest {
namespace {

using tavi::CSkinObject;

std::string Fixture(const std::string& name) {
    return std::string(TAVI_SOURCE_DIR) + "/tests/fixtures/skin/" + name;
}

std::string Narrow(const char* utf8) {
    return tavi::utf8_to_CString(utf8);
}

int hookMessages = 0;

// The fixture plug-in's pre-translation, as its application object does it.
int FixturePreTranslate(void* message) {
    ++hookMessages;
    return tavi::CWnd::WalkPreTranslateTree(static_cast<tavi::MSG*>(message)) ? 1 : 0;
}

class FixtureDialog : public tavi::CSkinForm {
public:
    explicit FixtureDialog(FixtureDialog** owner) : owner_(owner) { SetObjectID("FixtureDialog"); }
    int OnBuildControlAfter() override {
        auto* edit = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EdtDialog");
        ok_ = GetSkinObject()->FindControlRecusive("BtnDialogOk");
        if (!edit || !ok_)
            return 0;
        edit->Create(0x50010000, tavi::SkinRect{}, GetSafeHwnd(), 0);
        GetSkinObject()->ListenEvent(tavi::kSkinEventClick,
                                     tavi::SkinEventHandler(this, &FixtureDialog::OnClick));
        return 1;
    }
    bool PreTranslateMessage(tavi::MSG* msg) override {
        if (msg->message == tavi::WM_CHAR)
            ++characters;
        return CSkinForm::PreTranslateMessage(msg);
    }
    // The owner keeps a pointer: the dialog lets go of it when the library closes it.
    int OnQueryCloseForm() override {
        *owner_ = nullptr;
        Release();
        return 1;
    }
    int characters = 0;

protected:
    void OnClose() override { ShowWindow(tavi::SW_HIDE); }

private:
    void OnClick(CSkinObject* sender, void*) {
        if (sender == ok_)
            ShowWindow(tavi::SW_HIDE);
    }
    FixtureDialog** owner_;
    CSkinObject* ok_ = nullptr;
};

// The list window: a child window holding the browser, with the event sink the list panel has.
class FixtureList : public tavi::CSkinWnd, public tavi::ILinkUrlSink {
public:
    explicit FixtureList(CSkinObject* status) : status_(status) { SetObjectID("FixtureList"); }
    int Create(void* hostParent) {
        if (!CSkinWnd::Create(0x50000000, "FixtureList", "list", hostParent, -1))
            return 0;
        return BuildFromXML(tavi::CSkinManager::GetInstance()->GetBuildNode("TAVI Plugins FixtureList"));
    }
    int OnBuildControlAfter() override {
        browser_ = new tavi::CSkinWebBrowser();
        browser_->SetObjectID("Fixture.Navigator");
        GetSkinObject()->RegisterControl(browser_->GetSkinObject());
        browser_->GetSkinObject()->SetAnchorStyle(tavi::kAnchorFill);
        browser_->SetLinkUrlSink(this);
        return browser_->Create("Fixture.Navigator", 0x50000000, tavi::SkinRect{0, 0, 1, 1}, GetSafeHwnd(),
                                3345)
                   ? 1
                   : 0;
    }
    long OnLinkUrl(unsigned long, const wchar_t* url, void**) override {
        pending_ = tavi::WideToCString(url);
        return 0;
    }
    int OnEventSink(int controlId, int dispatchId, tavi::EventSinkParams& params) override {
        if (controlId != 3345 || dispatchId != tavi::DISPID_NEWWINDOW2 || params.cancel == nullptr)
            return 0;
        // The plug-in's own links are cancelled and run here; others open in a browser window.
        if (pending_.rfind("tavi://", 0) == 0) {
            *params.cancel = true;
            if (pending_ == "tavi://refresh/") {
                int answer = tavi::PP_ShowMsgBox(tavi::kMsgBoxQuestion, Narrow("确认"), Narrow("刷新？"),
                                                 tavi::kMsgBoxButtonsYesNo, 1);
                status_->SetText("answer=" + std::to_string(answer), 1);
            }
        }
        return 1;
    }
    tavi::CSkinWebBrowser* Browser() const { return browser_; }

private:
    CSkinObject* status_;
    tavi::CSkinWebBrowser* browser_ = nullptr;
    std::string pending_;
};

class FixtureWindow : public tavi::IPluginWindow {
public:
    FixtureWindow(void* parent, tavi::IPluginWindowLayout* layout) : IPluginWindow(parent, layout) {
        SetObjectID("FixtureWindow");
    }
    ~FixtureWindow() override {
        if (dialog_)
            dialog_->Release();
    }
    void ShowPluginWindow(int visible) override {
        SetVisible(visible != 0);
        if (visible && list_ && list_->Browser()->GetLinks().empty())
            list_->Browser()->Navigate2(Fixture("page.xml"), tavi::navNoHistory);
    }
    void BuildPluginWindow() override {
        if (panel_ != nullptr)
            return;
        panel_ = new tavi::CSkinPanel();
        panel_->SetObjectID("FixturePanel");
        RegisterControl(panel_);
        if (!panel_->BuildFromXML(
                tavi::CSkinManager::GetInstance()->GetBuildNode("TAVI Plugins FixturePanel")))
            return;
        status_ = panel_->FindControlRecusive("LabelStatus");
        if (auto* edit = tavi::FindSkinControl<tavi::CSWColorEdit>(panel_, "EdtMessage"))
            edit->Create(0x50010000, tavi::SkinRect{}, GetParentWindow(), -1);
        panel_->ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(this, &FixtureWindow::OnClick));
        list_ = new FixtureList(status_);
        RegisterControl(list_->GetSkinObject());
        list_->Create(GetParentWindow());
    }
    void DestroyPluginWindow() override {}
    int QueryPluginWindowState() override { return 0; }

private:
    void OnClick(CSkinObject* sender, void*) {
        const std::string& name = sender->GetObjectID();
        if (name == "BtnHello") {
            status_->SetText("hello", 1);
            tavi::SafeOpenWeb("http://example.com/hello", 3);
            tavi::ITavi* core = tavi::Core_GetITavi();
            if (auto* notifier = dynamic_cast<tavi::INotifier*>(core->GetService(tavi::kServiceNotifier)))
                notifier->ShowBalloon(sender, "hi", 2000);
            if (auto* main = tavi::CSkinWndManager::GetInstance()->GetMainForm())
                main->GetButtonManager()->SetButtonText("ToolbarMicroBlog", "1", "one new");
        } else if (name == "ChkOption") {
            status_->SetText(
                "checked=" + std::to_string(static_cast<tavi::CSkinCheckBox*>(sender)->GetChecked()), 1);
        } else if (name == "BtnOpenForm") {
            if (dialog_ == nullptr) {
                dialog_ = new FixtureDialog(&dialog_);
                if (!dialog_->Create(0x80CF0000, "FixtureDialog", "", nullptr, 0)) {
                    dialog_->Release();
                    dialog_ = nullptr;
                    return;
                }
            }
            dialog_->CenterWindow();
            dialog_->ShowWindow(tavi::SW_SHOWNORMAL);
        }
    }

    tavi::CSkinPanel* panel_ = nullptr;
    FixtureList* list_ = nullptr;
    CSkinObject* status_ = nullptr;
    FixtureDialog* dialog_ = nullptr;
};

class FixturePlugin : public tavi::IPlugin {
public:
    FixturePlugin() {
        name = "fixture";
        pluginId = 9001;
        skinBuildFilePath = Fixture("app_build.xml");
    }
    int OnLoad(void* parent, tavi::IPluginWindowLayout* layout) override {
        IPlugin::OnLoad(parent, layout);
        window_ = new FixtureWindow(parent, layout);
        auto* windows = dynamic_cast<tavi::IPluginWindowHost*>(
            tavi::Core_GetITavi()->GetService(tavi::kServicePluginWindows));
        return windows && windows->AddPluginWindow(window_);
    }
    int OnUnLoad() override {
        if (auto* windows = dynamic_cast<tavi::IPluginWindowHost*>(
                tavi::Core_GetITavi()->GetService(tavi::kServicePluginWindows)))
            windows->RemovePluginWindow(window_);
        if (window_)
            window_->Release();
        window_ = nullptr;
        return IPlugin::OnUnLoad();
    }
    int QueryPluginReady() override { return 1; }
    int QueryPluginActive() override { return 1; }
    int OpenSettings() override { return 0; }
    tavi::IMenu* GetPluginMenu() override { return nullptr; }
    void ResetSkinFile() override {
        tavi::CSkinManager::GetInstance()->IncludeSkinBuildFile(skinBuildFilePath);
    }

private:
    FixtureWindow* window_ = nullptr;
};

class HostCommands : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(scratch.path() + "/users");
        tavi::CSkinManager::GetInstance()->Reset();
        tavi::runtime::ClearOpenedWebs();
        hookMessages = 0;
        host = std::make_unique<tavi::app::HostApp>(
            tavi::app::HostOptions{scratch.path(), "tester@velmora.com", "secret", "GB18030", "zh-CN"}, out);
        ASSERT_TRUE(host->AddPlugin(&plugin, &FixturePreTranslate));
        Take();
    }
    void TearDown() override {
        host.reset();
        tavi::CSkinManager::GetInstance()->Reset();
    }
    // The lines printed since the last call.
    std::vector<std::string> Take() {
        std::vector<std::string> lines;
        std::string text = out.str().substr(taken_);
        taken_ = out.str().size();
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Run(const std::string& command) {
        EXPECT_TRUE(host->Execute(command)) << command;
        return Take();
    }

    testenv::ScratchDir scratch{"tavi-host"};
    std::ostringstream out;
    FixturePlugin plugin;
    std::unique_ptr<tavi::app::HostApp> host;

private:
    std::size_t taken_ = 0;
};

using Lines = std::vector<std::string>;

TEST_F(HostCommands, ShowPlacesThePluginWindowAndScreenPrintsWhatItShows) {
    EXPECT_EQ(Run("screen"), (Lines{"error: screen: nothing is shown (try show)"}));
    EXPECT_EQ(Run("show"), Lines{});
    EXPECT_EQ(Run("screen"),
              (Lines{
                  "pluginwnd FixtureWindow",
                  "  panel FixturePanel",
                  "    label LabelStatus visible=1 enabled=1 checked=- text=\"ready\"",
                  "    button BtnHello visible=1 enabled=1 checked=- text=\"Hello\"",
                  "    button BtnOff visible=1 enabled=0 checked=- text=\"Off\"",
                  "    checkbox ChkOption visible=1 enabled=1 checked=0 text=\"选项\"",
                  "    edit EdtMessage visible=1 enabled=1 checked=- text=\"\"",
                  "    button BtnOpenForm visible=1 enabled=1 checked=- text=\"Open\"",
                  "    label LabelGone visible=0 enabled=1 checked=- text=\"gone\"",
                  "  window FixtureList",
                  "    browser Fixture.Navigator visible=1 enabled=1 checked=- text=\"Test feed\"",
              }));
    Lines main = Run("screen TaviMainForm");
    ASSERT_GE(main.size(), 5u);
    EXPECT_EQ(main[0], "form TaviMainForm title=\"TAVI\"");
    EXPECT_EQ(main[1], "  label LabelUserAccount visible=1 enabled=1 checked=- text=\"tester@velmora.com\"");
    EXPECT_EQ(main[2], "  toolbar ButtonManager");
    EXPECT_EQ(main[5], "  plugins PluginContainer");
    EXPECT_EQ(main[6], "    pluginwnd FixtureWindow") << "the plug-in window sits in the main form";
}

TEST_F(HostCommands, ClickTypeAndCheckActOnTheControlsAsAUserWould) {
    Run("show");
    EXPECT_EQ(Run("click BtnHello"), (Lines{"balloon BtnHello 2000 hi"})) << "shown as it is raised";
    EXPECT_EQ(Run("balloons"), (Lines{"balloon BtnHello 2000 hi"}));
    EXPECT_EQ(Run("opened"), (Lines{"web 3 http://example.com/hello"}));
    EXPECT_EQ(Run("toolbar"), (Lines{"ToolbarContacts text=\"联系人\" tip=\"联系人\"",
                                     "ToolbarMicroBlog text=\"1\" tip=\"one new\""}));

    EXPECT_EQ(Run("type EdtMessage \"你好 world\""), Lines{});
    EXPECT_EQ(hookMessages, 24) << "each of the 8 characters as key down, character and key up";
    EXPECT_EQ(Run("type EdtMessage \"a\\\\b\""), Lines{});
    EXPECT_EQ(Run("check ChkOption on"), Lines{});
    EXPECT_EQ(Run("check ChkOption on"), Lines{}) << "ticked already: no click";
    Lines screen = Run("screen");
    EXPECT_EQ(screen[2], "    label LabelStatus visible=1 enabled=1 checked=- text=\"checked=1\"");
    EXPECT_EQ(screen[5], "    checkbox ChkOption visible=1 enabled=1 checked=1 text=\"选项\"");
    EXPECT_EQ(screen[6], "    edit EdtMessage visible=1 enabled=1 checked=- text=\"a\\\\b\"")
        << "typing replaces the text; a quoted backslash is typed as one";
    EXPECT_EQ(Run("type EdtMessage \"\""), Lines{});
    EXPECT_EQ(Run("screen")[6], "    edit EdtMessage visible=1 enabled=1 checked=- text=\"\"");
}

TEST_F(HostCommands, AfterUnloadNothingOfThePluginWindowIsShownOrRead) {
    Run("show");
    host->SetEchoChanges(true);
    EXPECT_EQ(Run("unload"), (Lines{"unloaded fixture"}));
    EXPECT_EQ(Run("screen"), (Lines{"error: screen: nothing is shown (try show)"}));
}

struct BadCommand {
    const char* command;
    const char* line;
};

void PrintTo(const BadCommand& bad, std::ostream* out) { *out << '"' << bad.command << '"'; }

class CommandErrors : public HostCommands, public ::testing::WithParamInterface<BadCommand> {};

TEST_P(CommandErrors, AreOneClearLineAndTheSessionGoesOn) {
    Run("show");
    EXPECT_EQ(Run(GetParam().command), (Lines{GetParam().line}));
    EXPECT_EQ(Run("click BtnHello"), (Lines{"balloon BtnHello 2000 hi"})) << "the session goes on";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandErrors,
    ::testing::Values(
        BadCommand{"click Nope", "error: click: no control Nope"},
        BadCommand{"click BtnOff", "error: click: BtnOff is disabled"},
        BadCommand{"click LabelGone", "error: click: LabelGone is not shown"},
        BadCommand{"click", "error: click: give the control's name"},
        BadCommand{"type BtnHello x", "error: type: BtnHello is not an edit"},
        BadCommand{"type EdtMessage",
                   "error: type: give the edit's name and the text (quoted when it has blanks)"},
        BadCommand{"check BtnHello on", "error: check: BtnHello is not a check box"},
        BadCommand{"check ChkOption maybe", "error: check: give the check box's name and on or off"},
        BadCommand{"follow 99", "error: follow: no link 99 (the page has 6)"},
        BadCommand{"follow two", "error: follow: give the number of a link (see links)"},
        BadCommand{"focus Nope", "error: focus: no window Nope"},
        BadCommand{"close Nope", "error: close: no window Nope"},
        BadCommand{"close TaviMainForm", "error: close: the main form closes with quit"},
        BadCommand{"screen Nope", "error: screen: no window Nope"},
        BadCommand{"answer maybe", "error: answer: give yes, no or cancel"},
        BadCommand{"frobnicate", "error: unknown command: frobnicate (try help)"}));

TEST_F(HostCommands, FormsAreListedFocusedAndClosed) {
    Run("show");
    EXPECT_EQ(Run("windows"), (Lines{"form TaviMainForm visible=1 foreground=1 title=\"TAVI\""}));
    Run("click BtnOpenForm");
    EXPECT_EQ(Run("windows"), (Lines{"form TaviMainForm visible=1 foreground=0 title=\"TAVI\"",
                                     "form FixtureDialog visible=1 foreground=1 title=\"对话框\""}));
    EXPECT_EQ(Run("screen"), (Lines{"form FixtureDialog title=\"对话框\"",
                                    "  edit EdtDialog visible=1 enabled=1 checked=- text=\"\"",
                                    "  button BtnDialogOk visible=1 enabled=1 checked=- text=\"OK\""}))
        << "the focused form comes first";
    Run("type EdtDialog abc");
    auto* dialog =
        dynamic_cast<FixtureDialog*>(tavi::CSkinWndManager::GetInstance()->FindForm("FixtureDialog"));
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->characters, 3) << "the form's pre-translation sees the typed characters";
    EXPECT_EQ(Run("focus FixtureWindow"), Lines{});
    EXPECT_EQ(Run("screen")[0], "pluginwnd FixtureWindow");
    EXPECT_EQ(Run("focus FixtureDialog"), Lines{});
    EXPECT_EQ(Run("close FixtureDialog"), Lines{});
    EXPECT_EQ(Run("windows")[1], "form FixtureDialog visible=0 foreground=0 title=\"对话框\"");
    EXPECT_EQ(Run("focus FixtureDialog"), (Lines{"error: focus: FixtureDialog is not shown"}));
    EXPECT_EQ(Run("screen")[0], "pluginwnd FixtureWindow") << "a hidden form no longer takes the commands";
}

TEST_F(HostCommands, LinksArePrintedFollowedAndTheirMessageBoxesAnswered) {
    Run("show");
    Lines links = Run("links");
    ASSERT_EQ(links.size(), 6u);
    EXPECT_EQ(links[0], "1 tavi://refresh/ Reload");
    EXPECT_EQ(links[1], "2 tavi://retweet/id=11 Retweet");
    EXPECT_EQ(links[2], "3 http://example.com/u/11 Profile");
    EXPECT_EQ(Run("answer yes"), Lines{});
    EXPECT_EQ(Run("follow 1"), (Lines{"msgbox 确认: 刷新？ -> yes"}));
    EXPECT_EQ(Run("screen")[2], "    label LabelStatus visible=1 enabled=1 checked=- text=\"answer=1\"");
    EXPECT_EQ(Run("follow 1"), (Lines{"msgbox 确认: 刷新？ -> no"})) << "a box nobody answered is declined";
    EXPECT_EQ(Run("follow 2"), Lines{});
    EXPECT_EQ(Run("opened"), (Lines{"nothing opened"})) << "a cancelled request opens nothing";
    Run("follow 3");
    EXPECT_EQ(Run("opened"), (Lines{"window http://example.com/u/11"}));
    Lines page = Run("page");
    ASSERT_FALSE(page.empty());
    EXPECT_EQ(page[0], "Feed");
    EXPECT_NE(std::find(page.begin(), page.end(), "Reload [1]"), page.end());
}

TEST_F(HostCommands, InTerminalModeEachChangeOnScreenIsNamedOnce) {
    host->SetEchoChanges(true);
    EXPECT_EQ(Run("show"), (Lines{"-> showing FixturePanel FixtureList",
                                  "-> page \"Test feed\" with 6 links (page prints it; follow N opens link N)"}));
    EXPECT_EQ(Run("screen").size(), 11u) << "nothing changed, nothing named";
    EXPECT_EQ(Run("click BtnHello"),
              (Lines{"balloon BtnHello 2000 hi", "-> toolbar ToolbarMicroBlog text=\"1\" tip=\"one new\""}));
    EXPECT_EQ(Run("click BtnHello"), (Lines{"balloon BtnHello 2000 hi"})) << "the same toolbar text again";
    EXPECT_EQ(Run("click BtnOpenForm"), (Lines{"-> form FixtureDialog open"}));
    EXPECT_EQ(Run("close FixtureDialog"), (Lines{"-> form FixtureDialog closed"}));
}

TEST_F(HostCommands, ControlCharactersNeverReachTheTerminalAsThemselves) {
    EXPECT_EQ(Run("\x1b]0;owned\a\x1b[2J"), (Lines{"error: unknown command: \\x1B]0;owned\\x07\\x1B[2J (try help)"}));
    EXPECT_EQ(tavi::app::TerminalSafe("c1 \xc2\x9b" "2J del\x7f nul" + std::string(1, '\0') + " tab\t 中文"),
              "c1 \\x9B2J del\\x7F nul\\x00 tab\t 中文")
        << "C1 controls, DEL and NUL are shown; Tab and other text pass as they are";
}

TEST_F(HostCommands, WhenRunsItsCommandOnlyWhileTheControlIsShown) {
    Run("show");
    EXPECT_EQ(Run("when LabelGone click BtnHello"), Lines{}) << "a hidden control";
    EXPECT_EQ(Run("when Nope click BtnHello"), Lines{}) << "no such control";
    EXPECT_EQ(Run("opened"), (Lines{"nothing opened"}));
    EXPECT_EQ(Run("when BtnHello type EdtMessage \"a \\\"b\\\" c\""), Lines{});
    EXPECT_EQ(Run("screen")[6], "    edit EdtMessage visible=1 enabled=1 checked=- text=\"a \\\"b\\\" c\"")
        << "the command's words reach it as they were given";
    EXPECT_EQ(Run("when BtnHello"), (Lines{"error: when: give a control's name and a command"}));
}

TEST_F(HostCommands, APersonAtTheTerminalAnswersAMessageBox) {
    Run("show");
    std::string asked;
    host->SetAsker([&](const std::string& question, std::string& reply) {
        asked = question;
        reply = "yes";
        return true;
    });
    EXPECT_EQ(Run("follow 1"), (Lines{"msgbox 确认: 刷新？ -> yes"}));
    EXPECT_EQ(asked, "msgbox 确认: 刷新？ [yes/no] ");
    host->SetAsker([](const std::string&, std::string&) { return false; });
    EXPECT_EQ(Run("follow 1"), (Lines{"msgbox 确认: 刷新？ -> no"})) << "no reply declines";
}

} // namespace
} // namespace apptest
