// Windows of the UI library: forms built in Create, their failures, dialog keys and the tab order,
// the message pre-translation, the edit control, closing forms, the main form and its container.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "host/skin.h"
#include "runtime/core/host_services.h"
#include "runtime/skin/skin_runtime.h"
#include "tests/skin/skin_fixture.h"
#include "tests/support/test_env.h"

namespace skintest {
namespace {

using tavi::CSkinObject;

constexpr unsigned kFormStyle = 0x80CF0000u;
constexpr unsigned kEditStyle = 0x50010000u;

// A form as the plug-in writes them: its edits' windows are made in OnBuildControlAfter.
class TestForm : public tavi::CSkinForm {
public:
    explicit TestForm(int afterResult = 1, int closeAnswer = 1)
        : afterResult_(afterResult), closeAnswer_(closeAnswer) {
        SetObjectID("FixtureForm");
    }
    int OnBuildControlAfter() override {
        ++afterCalls;
        first = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EdtFirst");
        second = tavi::FindSkinControl<tavi::CSWColorEdit>(this, "EdtSecond");
        if (!first || !second)
            return 0;
        first->Create(kEditStyle, tavi::SkinRect{}, GetSafeHwnd(), 0);
        second->Create(kEditStyle | tavi::ES_MULTILINE, tavi::SkinRect{}, GetSafeHwnd(), 0);
        return afterResult_;
    }
    int OnQueryCloseForm() override {
        ++queries;
        if (releaseOnQuery) {
            Release();
            return 1;
        }
        return closeAnswer_;
    }
    bool PreTranslateMessage(tavi::MSG* msg) override {
        ++pretranslated;
        return CSkinForm::PreTranslateMessage(msg);
    }
    int Create() { return CSkinWnd::Create(kFormStyle, "FixtureForm", "", nullptr, 0); }
    CSkinObject* Find(const std::string& name) { return GetSkinObject()->FindControlRecusive(name); }

    int afterCalls = 0;
    int queries = 0;
    int pretranslated = 0;
    bool releaseOnQuery = false;
    tavi::CSWColorEdit* first = nullptr;
    tavi::CSWColorEdit* second = nullptr;

private:
    int afterResult_;
    int closeAnswer_;
};

struct Recorder {
    void OnEvent(CSkinObject* sender, void*) { senders.push_back(sender ? sender->GetObjectID() : "-"); }
    tavi::SkinEventHandler Handler() { return tavi::SkinEventHandler(this, &Recorder::OnEvent); }
    std::vector<std::string> senders;
};

bool Key(unsigned message, unsigned key, void* hwnd) {
    tavi::MSG msg;
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = key;
    return tavi::runtime::DispatchHostMessage(msg);
}

// Types as the keyboard does: key down, the character unless pre-translation took the key, key up.
void Type(const std::u32string& text) {
    for (char32_t c : text) {
        void* focus = tavi::GetFocus();
        unsigned key = c == U'\n' ? tavi::VK_RETURN : c == U'\t' ? tavi::VK_TAB : tavi::VK_PACKET;
        if (!Key(tavi::WM_KEYDOWN, key, focus))
            Key(tavi::WM_CHAR, c == U'\n' ? U'\r' : c, focus);
        Key(tavi::WM_KEYUP, key, focus);
    }
}

class SkinWindows : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        form = new TestForm();
        ASSERT_EQ(form->Create(), 1) << manager()->GetLastError();
        form->ShowWindow(tavi::SW_SHOWNORMAL);
    }
    void TearDown() override {
        if (tavi::CSkinWndManager::GetInstance()->IsForm(form))
            form->Release();
        SkinTest::TearDown();
    }
    TestForm* form = nullptr;
};

TEST_F(SkinWindows, FormIsBuiltInCreateFromTheNodeItsObjectIdNames) {
    EXPECT_EQ(form->afterCalls, 1);
    EXPECT_TRUE(form->IsWindow());
    EXPECT_EQ(form->GetWindowText(), "Fixture form") << "the node's caption is the title";
    EXPECT_EQ(form->GetWindowRect(), (tavi::SkinRect{100, 50, 400, 250}));
    EXPECT_EQ(form->GetSkinObject()->GetRect(), (tavi::SkinRect{0, 0, 300, 200}));
    EXPECT_EQ(form->Find("BtnOk")->GetRect(), (tavi::SkinRect{120, 162, 200, 190})) << "placed in the form";
    EXPECT_TRUE(form->first->IsWindow());
    EXPECT_EQ(form->first->GetParent(), form);
    EXPECT_EQ(form->first->GetWindowRect(), (tavi::SkinRect{10, 10, 210, 32}))
        << "an edit follows its skin object";
    EXPECT_EQ(tavi::CSkinWndManager::GetInstance()->FindForm("FixtureForm"), form);
    EXPECT_EQ(tavi::CWnd::GetForegroundWindow(), form) << "showing a form normally activates it";
    form->CenterWindow();
    EXPECT_EQ(form->GetWindowRect(), (tavi::SkinRect{490, 300, 790, 500}));
    form->SetFormPosition(tavi::SkinRect{0, 0, 300, 260});
    EXPECT_EQ(form->Find("BtnOk")->GetRect().top, 222) << "a bottom-anchored button follows the new size";
}

struct FailingCreate {
    const char* name;
    int afterResult;
    bool removeNode;
};

class FormCreateFailure : public SkinTest, public ::testing::WithParamInterface<FailingCreate> {};

TEST_P(FormCreateFailure, LeavesNoWindow) {
    if (GetParam().removeNode)
        manager()->Reset();
    TestForm failing(GetParam().afterResult);
    EXPECT_EQ(failing.Create(), 0);
    EXPECT_FALSE(failing.IsWindow());
    EXPECT_FALSE(manager()->GetLastError().empty());
}

INSTANTIATE_TEST_SUITE_P(Forms, FormCreateFailure,
                         ::testing::Values(FailingCreate{"missing node", 1, true},
                                           FailingCreate{"OnBuildControlAfter refuses", 0, false}));

TEST_F(SkinWindows, ChildWindowsNeedALiveParent) {
    tavi::CSWColorEdit orphan;
    EXPECT_FALSE(orphan.Create(kEditStyle, tavi::SkinRect{}, nullptr, 0));
    void* stale = nullptr;
    {
        TestForm gone;
        ASSERT_EQ(gone.Create(), 1);
        stale = gone.GetSafeHwnd();
    }
    EXPECT_FALSE(tavi::IsWindow(stale));
    EXPECT_FALSE(orphan.Create(kEditStyle, tavi::SkinRect{}, stale, 0)) << "a stale handle is no parent";
    tavi::CSkinWnd panelWindow;
    EXPECT_EQ(panelWindow.Create(0x50000000, "Child", "child", form->GetSafeHwnd(), -1), 1)
        << "a child window is not built in Create";
    EXPECT_EQ(tavi::SendMessageA(stale, tavi::WM_CLOSE, 0, 0), 0);
}

TEST_F(SkinWindows, SkinVisibilityAndWindowVisibilityFollowEachOther) {
    form->first->GetSkinObject()->SetVisible(false);
    EXPECT_FALSE(form->first->IsWindowVisible());
    form->first->ShowWindow(tavi::SW_SHOWNA);
    EXPECT_TRUE(form->first->GetSkinObject()->IsVisible());
    form->first->GetSkinObject()->SetEnabled(false);
    EXPECT_FALSE(form->first->IsWindowEnabled());
    form->first->EnableWindow(true);
    EXPECT_TRUE(form->first->GetSkinObject()->IsEnabled());
    form->ShowWindow(tavi::SW_HIDE);
    EXPECT_FALSE(form->first->IsWindowVisible()) << "a child of a hidden window is not visible";
    EXPECT_FALSE(form->GetSkinObject()->IsVisible());
}

TEST_F(SkinWindows, TabMovesTheFocusInTheTabOrderSkippingWhatCannotTakeIt) {
    form->AddTABOrder(form->first);
    form->AddTABOrder(form->second);
    form->AddTABOrder(form->Find("ChkRemember"));
    form->AddTABOrder(form->Find("BtnOk"));
    form->AddTABOrder(form->Find("BtnCancel"));
    form->first->SetFocus();
    EXPECT_EQ(form->GetFocusedControl(), form->first->GetSkinObject());
    EXPECT_TRUE(Key(tavi::WM_KEYDOWN, tavi::VK_TAB, form->first->GetSafeHwnd()));
    EXPECT_EQ(tavi::CWnd::GetFocus(), form->second);
    Key(tavi::WM_KEYDOWN, tavi::VK_TAB, form->second->GetSafeHwnd());
    EXPECT_EQ(form->GetFocusedControl(), form->Find("ChkRemember"));
    EXPECT_TRUE(form->Find("ChkRemember")->IsFocused());
    form->Find("BtnOk")->SetEnabled(false);
    Key(tavi::WM_KEYDOWN, tavi::VK_TAB, form->GetSafeHwnd());
    EXPECT_EQ(form->GetFocusedControl(), form->Find("BtnCancel")) << "a disabled button is skipped";
    Key(tavi::WM_KEYDOWN, tavi::VK_SHIFT, form->GetSafeHwnd());
    Key(tavi::WM_KEYDOWN, tavi::VK_TAB, form->GetSafeHwnd());
    Key(tavi::WM_KEYUP, tavi::VK_SHIFT, form->GetSafeHwnd());
    EXPECT_EQ(form->GetFocusedControl(), form->Find("ChkRemember")) << "Shift+Tab goes back";
}

TEST_F(SkinWindows, EnterAndEscapeClickTheDefaultButtons) {
    Recorder clicks;
    form->GetSkinObject()->ListenEvent(tavi::kSkinEventClick, clicks.Handler());
    form->SetDefaultOkButton(form->Find("BtnOk"));
    form->SetDefaultCancelButton(form->Find("BtnCancel"));
    form->first->SetFocus();
    EXPECT_TRUE(Key(tavi::WM_KEYDOWN, tavi::VK_RETURN, form->first->GetSafeHwnd()));
    EXPECT_TRUE(Key(tavi::WM_KEYDOWN, tavi::VK_ESCAPE, form->first->GetSafeHwnd()));
    EXPECT_EQ(clicks.senders, (std::vector<std::string>{"BtnOk", "BtnCancel"}));

    // Enter in a multi-line edit is a line break, not the default button.
    form->second->SetFocus();
    Type(U"a\nb");
    EXPECT_EQ(form->second->GetWindowText(), "a\r\nb");
    EXPECT_EQ(clicks.senders.size(), 2u);
}

TEST_F(SkinWindows, PreTranslationOffersEachWindowAMessageOnce) {
    // A plug-in's hook walks the windows itself, as its application object does; the host's walk
    // after it must not offer the same windows again.
    static int hookCalls;
    static bool consume;
    hookCalls = 0;
    consume = false;
    auto hook = [](void* message) -> int {
        ++hookCalls;
        if (consume)
            return 1;
        return tavi::CWnd::WalkPreTranslateTree(static_cast<tavi::MSG*>(message)) ? 1 : 0;
    };
    tavi::runtime::AddPreTranslateHook(hook);
    form->first->SetFocus();
    Type(U"x");
    EXPECT_EQ(hookCalls, 3) << "key down, character, key up";
    EXPECT_EQ(form->pretranslated, 3);
    EXPECT_EQ(form->first->GetWindowText(), "x");

    consume = true;
    Type(U"y");
    EXPECT_EQ(form->pretranslated, 3) << "a consumed message goes no further";
    EXPECT_EQ(form->first->GetWindowText(), "x");
    tavi::runtime::RemovePreTranslateHook(hook);
}

class EditControl : public SkinWindows {
protected:
    void SetUp() override {
        SkinWindows::SetUp();
        host = std::make_unique<testenv::HostRuntime>();
        form->first->SetFocus();
        form->GetSkinObject()->ListenEvent(tavi::kSkinEventContentChanged, changes.Handler());
    }
    void TearDown() override {
        SkinWindows::TearDown();
        host.reset();
    }
    std::vector<tavi::runtime::Notifier::Balloon> Balloons() {
        return host->core().GetNotifier().GetBalloons();
    }

    std::unique_ptr<testenv::HostRuntime> host;
    Recorder changes;
};

TEST_F(EditControl, TypedCharactersEnterInTheSystemCodePageAndRaiseEvent2) {
    Type(U"ab中");
    EXPECT_EQ(form->first->GetWindowText(), Narrow("ab中"));
    EXPECT_EQ(form->first->GetWindowText().size(), 4u) << "a Chinese character is two bytes";
    EXPECT_EQ(changes.senders, (std::vector<std::string>{"EdtFirst", "EdtFirst", "EdtFirst"}));
    Type(U"\b");
    EXPECT_EQ(form->first->GetWindowText(), "ab") << "backspace takes the whole character";
    form->first->SetWindowText("set by code");
    EXPECT_EQ(changes.senders.size(), 5u) << "setting the text is a change too";
    form->first->SetWindowText("set by code");
    EXPECT_EQ(changes.senders.size(), 5u) << "the same text again is none";
    EXPECT_EQ(form->first->GetSkinObject()->GetText(), "set by code");
}

TEST_F(EditControl, TheLimitRefusesTypingAndShowsItsTip) {
    form->first->LimitText(3);
    form->first->SetLimitTipEnable(1);
    form->first->SetLimitTipText(Narrow("太长了"));
    Type(U"abcd");
    EXPECT_EQ(form->first->GetWindowText(), "abc");
    EXPECT_EQ(form->first->GetRefusedCount(), 1);
    auto balloons = Balloons();
    ASSERT_EQ(balloons.size(), 1u);
    EXPECT_EQ(balloons[0].anchor, "EdtFirst");
    EXPECT_EQ(balloons[0].text, Narrow("太长了"));
    EXPECT_EQ(balloons[0].milliseconds, 2000);

    form->first->SetLimitTipEnable(0);
    form->first->SetSel(0, -1);
    Type(U"中文");
    EXPECT_EQ(form->first->GetWindowText(), Narrow("中")) << "the limit counts bytes: one more would be four";
    EXPECT_EQ(Balloons().size(), 1u) << "no tip when it is off";
}

TEST_F(EditControl, StylesDecideWhatTheEditTakesAndShows) {
    tavi::CSWColorEdit digits;
    ASSERT_TRUE(digits.Create(kEditStyle | tavi::ES_NUMBER, tavi::SkinRect{}, form->GetSafeHwnd(), 0));
    digits.SetFocus();
    Type(U"1a2");
    EXPECT_EQ(digits.GetWindowText(), "12");
    tavi::CSWColorEdit password;
    ASSERT_TRUE(password.Create(kEditStyle | tavi::ES_PASSWORD, tavi::SkinRect{}, form->GetSafeHwnd(), 0));
    password.SetFocus();
    Type(U"密码x");
    EXPECT_EQ(password.GetWindowText(), Narrow("密码x"));
    EXPECT_EQ(password.GetDisplayText(), "***");
    form->first->SetFocus();
    Type(U"line\nbreak");
    EXPECT_EQ(form->first->GetWindowText(), "linebreak") << "a single-line edit takes no line break";
}

using SkinWindowManager = SkinTest;

TEST_F(SkinWindowManager, QueryCloseDestroysAndReleasesTheFormsThatAgree) {
    auto* agrees = new TestForm();
    auto* refuses = new TestForm(1, 0);
    auto* releasesItself = new TestForm();
    releasesItself->releaseOnQuery = true;
    ASSERT_EQ(agrees->Create() + refuses->Create() + releasesItself->Create(), 3);
    std::weak_ptr<void> agreed = agrees->GetSkinObject()->GetLifeToken();
    auto* manager = tavi::CSkinWndManager::GetInstance();
    EXPECT_EQ(manager->QueryCloseForms(), 2);
    EXPECT_TRUE(agreed.expired());
    EXPECT_FALSE(manager->IsForm(releasesItself));
    ASSERT_TRUE(manager->IsForm(refuses));
    EXPECT_TRUE(refuses->IsWindow());
    EXPECT_EQ(refuses->queries, 1);

    // The close box asks the same question.
    refuses->SendMessage(tavi::WM_CLOSE);
    EXPECT_TRUE(refuses->IsWindow());
    refuses->Release();
}

class MainForm : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        host = std::make_unique<testenv::HostRuntime>();
        main = tavi::runtime::CreateHostMainForm();
        ASSERT_NE(main, nullptr);
        main->ShowWindow(tavi::SW_SHOW);
    }
    void TearDown() override {
        if (main)
            main->Release();
        host.reset();
        SkinTest::TearDown();
    }
    std::unique_ptr<testenv::HostRuntime> host;
    tavi::CDockFormEx* main = nullptr;
};

TEST_F(MainForm, DocksAtTheRightAndFloatsOutForSomeSeconds) {
    main->SetDockFlags(main->GetDockFlags() | tavi::CDockFormEx::kAutoHide);
    EXPECT_EQ(main->Dock(tavi::CDockFormEx::kSideRight, nullptr, nullptr, 15), 1);
    EXPECT_TRUE(main->GetDockFlags() & tavi::CDockFormEx::kDockedAtEdge);
    EXPECT_EQ(main->GetWindowRect().right, tavi::kScreenWidth - 15);
    main->FloatingSomeTime(3);
    EXPECT_TRUE(main->IsFloating());
    host->loop().Advance(2999);
    EXPECT_TRUE(main->IsFloating());
    host->loop().Advance(1);
    EXPECT_FALSE(main->IsFloating());

    main->SetDockFlags(tavi::CDockFormEx::kDockAllowed);
    main->FloatingSomeTime(3);
    EXPECT_FALSE(main->IsFloating()) << "a form that does not hide at its edge is out already";
    EXPECT_EQ(main->Dock(7, nullptr, nullptr, 0), 0);
}

// A plug-in window as the host's interface declares it.
class TestPluginWindow : public tavi::IPluginWindow {
public:
    explicit TestPluginWindow(const std::string& id) : IPluginWindow(nullptr, nullptr) { SetObjectID(id); }
    void ShowPluginWindow(int visible) override { SetVisible(visible != 0); }
    void BuildPluginWindow() override {}
    void DestroyPluginWindow() override {}
    int QueryPluginWindowState() override { return 0; }
};

TEST_F(MainForm, TheContainerShowsOnePluginWindowAndForgetsOneThatGoes) {
    tavi::CSkinPluginContainer* container = main->GetPluginContainer();
    ASSERT_NE(container, nullptr);
    auto* first = new TestPluginWindow("First");
    auto* second = new TestPluginWindow("Second");
    container->AddPluginWindow(first);
    container->AddPluginWindow(second);
    EXPECT_FALSE(first->IsVisible()) << "placed hidden";
    container->ActivateWindow(first);
    EXPECT_TRUE(first->IsShown());
    container->ActivateWindow(second);
    EXPECT_FALSE(first->IsVisible());
    EXPECT_EQ(container->GetActiveWindow(), second);
    EXPECT_EQ(second->GetRect(), container->GetRect()) << "a plug-in window fills the container";
    EXPECT_EQ(second->GetOwnerForm(), main);
    second->Release();
    EXPECT_EQ(container->GetActiveWindow(), nullptr);
    EXPECT_EQ(container->GetPluginWindows(), (std::vector<tavi::IPluginWindow*>{first}));
    container->RemovePluginWindow(first);
    first->Release();
    EXPECT_TRUE(container->GetChildren().empty());
}

TEST_F(MainForm, HidingTheForegroundFormHandsTheForegroundOn) {
    TestForm other;
    ASSERT_EQ(other.Create(), 1);
    other.ShowWindow(tavi::SW_SHOWNORMAL);
    EXPECT_EQ(tavi::CWnd::GetForegroundWindow(), &other);
    other.ShowWindow(tavi::SW_HIDE);
    EXPECT_EQ(tavi::CWnd::GetForegroundWindow(), main);
    EXPECT_FALSE(other.SetForegroundWindow()) << "a hidden form cannot be brought to the front";
    other.BringToTop();
    EXPECT_EQ(tavi::CWnd::GetForegroundWindow(), &other);
}

} // namespace
} // namespace skintest
