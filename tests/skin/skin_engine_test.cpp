// The skin engine: building a tree from a build node, the build's failures, events and their
// senders, visibility and enabled state, layout by bounds and anchors, skin data, the toolbar.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/skin.h"
#include "runtime/skin/skin_runtime.h"
#include "tests/skin/skin_fixture.h"

namespace skintest {
namespace {

using tavi::CSkinObject;

// A panel as the plug-in writes them: it builds from "TAVI Plugins <id>" and finds its controls in
// OnBuildControlAfter.
class TestPanel : public tavi::CSkinPanel {
public:
    explicit TestPanel(const std::string& id, int afterResult = 1) : afterResult_(afterResult) {
        SetObjectID(id);
    }
    int Create() {
        return BuildFromXML(tavi::CSkinManager::GetInstance()->GetBuildNode("TAVI Plugins " + GetObjectID()));
    }
    int OnBuildControlAfter() override {
        ++afterCalls;
        title = tavi::FindSkinControl<tavi::CSkinLabel>(this, "LabelTitle");
        return afterResult_;
    }
    void OnSkinChanged() override { ++skinChanges; }

    int afterCalls = 0;
    int skinChanges = 0;
    tavi::CSkinLabel* title = nullptr;

private:
    int afterResult_;
};

// Records the events a listener receives.
struct Recorder {
    void OnEvent(CSkinObject* sender, void* /*data*/) {
        senders.push_back(sender ? sender->GetObjectID() : "-");
    }
    tavi::SkinEventHandler Handler() { return tavi::SkinEventHandler(this, &Recorder::OnEvent); }
    std::vector<std::string> senders;
};

class SkinEngine : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        panel = new TestPanel("TestPanel");
        ASSERT_EQ(panel->Create(), 1) << manager()->GetLastError();
        panel->SetRect(tavi::SkinRect{0, 0, 300, 400});
        panel->RePositionSubControls();
    }
    void TearDown() override {
        if (panel)
            panel->Release();
        SkinTest::TearDown();
    }
    CSkinObject* Find(const std::string& name) { return panel->FindControlRecusive(name); }

    TestPanel* panel = nullptr;
};

TEST_F(SkinEngine, BuildNodeMakesItsControlsInOrderAndCallsOnBuildControlAfterOnce) {
    EXPECT_EQ(panel->afterCalls, 1);
    ASSERT_NE(panel->title, nullptr) << "the controls exist when OnBuildControlAfter runs";
    std::vector<std::string> made;
    for (CSkinObject* child : panel->GetChildren())
        made.push_back(child->GetKind() + ":" + child->GetObjectID());
    EXPECT_EQ(made, (std::vector<std::string>{"label:LabelTitle", "linklabel:LinkMore", "button:BtnGo",
                                              "checkbox:ChkOption", "panel:PanelInner", "edit:EdtName",
                                              "image:ImageLogo"}));
    EXPECT_EQ(Find("BtnInner")->GetParent(), Find("PanelInner"));
    EXPECT_EQ(panel->title->GetText(), Narrow("测试标题")) << "textid is looked up in the string table";
    EXPECT_EQ(Find("LinkMore")->GetText(), Narrow("更多")) << "literal texts arrive in the system code page";
    EXPECT_EQ(Find("BtnGo")->GetTip(), "Go now");
    EXPECT_TRUE(tavi::FindSkinControl<tavi::CSkinCheckBox>(panel, "ChkOption")->IsChecked());
    EXPECT_EQ(tavi::FindSkinControl<tavi::CSkinImage>(panel, "ImageLogo")->GetImagePath(),
              FixturePath("logo.png"));
}

TEST_F(SkinEngine, FindSkinControlAnswersOnlyForTheRightKind) {
    EXPECT_EQ(tavi::FindSkinControl<tavi::CSkinLabel>(panel, "BtnGo"), nullptr);
    EXPECT_EQ(tavi::FindSkinControl<tavi::CSkinLabel>(panel, "NoSuchControl"), nullptr);
    EXPECT_EQ(tavi::FindSkinControl<tavi::CSkinLabel>(static_cast<CSkinObject*>(nullptr), "LabelTitle"),
              nullptr);
    auto* edit = tavi::FindSkinControl<tavi::CSWColorEdit>(panel, "EdtName");
    ASSERT_NE(edit, nullptr) << "an edit is found as its window object";
    EXPECT_EQ(edit->GetSkinObject(), Find("EdtName"));
    EXPECT_EQ(tavi::FindSkinControl<tavi::CSWColorEdit>(panel, "LabelTitle"), nullptr);
    EXPECT_NE(tavi::FindSkinControl<tavi::CSkinButton>(panel, "ChkOption"), nullptr)
        << "a check box is a button";
}

TEST_F(SkinEngine, TextIdWithoutAnEntryFallsBackToTheLiteralText) {
    tavi::runtime::ClearStringTable();
    TestPanel other("TestPanel");
    ASSERT_EQ(other.Create(), 1);
    EXPECT_EQ(other.title->GetText(), Narrow("标题"));
}

struct FailingBuild {
    const char* node;
    int afterResult;
    const char* errorPart;
};

class SkinBuildFailure : public SkinTest, public ::testing::WithParamInterface<FailingBuild> {};

TEST_P(SkinBuildFailure, FailsWithAClearReason) {
    const FailingBuild& failing = GetParam();
    TestPanel built(failing.node, failing.afterResult);
    EXPECT_EQ(built.Create(), 0);
    EXPECT_NE(manager()->GetLastError().find(failing.errorPart), std::string::npos)
        << manager()->GetLastError();
}

INSTANTIATE_TEST_SUITE_P(
    Builds, SkinBuildFailure,
    ::testing::Values(FailingBuild{"NoSuchPanel", 1, "no build node"},
                      FailingBuild{"TestUnknownKind", 1, "unknown control kind <gadget>"},
                      FailingBuild{"TestBadBounds", 1, "bounds \"1,2,three,4\""},
                      FailingBuild{"TestBadFlag", 1, "visible \"maybe\""},
                      FailingBuild{"TestPanel", 0, "refused its build (OnBuildControlAfter)"}));

TEST_F(SkinEngine, RebuildReplacesWhatTheSkinMadeAndKeepsWhatTheCodeRegistered) {
    auto* byCode = new tavi::CSkinLabel();
    byCode->SetObjectID("LabelByCode");
    panel->RegisterControl(byCode);
    std::weak_ptr<void> oldTitle = Find("LabelTitle")->GetLifeToken();
    ASSERT_EQ(panel->Create(), 1);
    EXPECT_TRUE(oldTitle.expired()) << "the first build's controls are released";
    EXPECT_EQ(Find("LabelByCode"), byCode);
    EXPECT_EQ(panel->FindAllControls("LabelTitle").size(), 1u);
    EXPECT_EQ(panel->GetChildren().size(), 8u);
}

TEST_F(SkinEngine, EventsReachOnlyTheirListenersWithTheControlThatFired) {
    Recorder onPanel, onInner, onChange;
    panel->ListenEvent(tavi::kSkinEventClick, onPanel.Handler());
    panel->ListenEvent(tavi::kSkinEventClick, onPanel.Handler()); // a second subscription is one
    Find("PanelInner")->ListenEvent(tavi::kSkinEventClick, onInner.Handler());
    panel->ListenEvent(tavi::kSkinEventContentChanged, onChange.Handler());

    EXPECT_TRUE(Find("BtnInner")->PerformClick());
    EXPECT_TRUE(Find("BtnGo")->PerformClick());
    EXPECT_EQ(onPanel.senders, (std::vector<std::string>{"BtnInner", "BtnGo"}));
    EXPECT_EQ(onInner.senders, (std::vector<std::string>{"BtnInner"}));
    EXPECT_TRUE(onChange.senders.empty());

    panel->UnListenEvent(tavi::kSkinEventClick, onPanel.Handler());
    Find("LinkMore")->PerformClick();
    EXPECT_EQ(onPanel.senders.size(), 2u);
}

TEST_F(SkinEngine, HiddenOrDisabledControlsCannotBeClicked) {
    Recorder onPanel;
    panel->ListenEvent(tavi::kSkinEventClick, onPanel.Handler());
    EXPECT_FALSE(Find("LabelHidden")->PerformClick());
    EXPECT_FALSE(Find("BtnDisabled")->PerformClick());
    Find("PanelInner")->SetEnabled(false);
    EXPECT_FALSE(Find("BtnInner")->IsEnabledInTree());
    EXPECT_FALSE(Find("BtnInner")->PerformClick());
    Find("PanelInner")->SetEnabled(true);
    Find("PanelInner")->SetVisible(false);
    EXPECT_FALSE(Find("BtnInner")->IsShown());
    EXPECT_FALSE(Find("BtnInner")->PerformClick());
    Find("PanelInner")->SetVisible(true);
    EXPECT_TRUE(Find("BtnInner")->PerformClick());
    EXPECT_EQ(onPanel.senders, (std::vector<std::string>{"BtnInner"}));
}

TEST_F(SkinEngine, ACheckBoxTogglesBeforeItsListenersHear) {
    auto* box = tavi::FindSkinControl<tavi::CSkinCheckBox>(panel, "ChkOption");
    std::vector<int> seen;
    struct Watcher {
        tavi::CSkinCheckBox* box;
        std::vector<int>* seen;
        void OnEvent(CSkinObject*, void*) { seen->push_back(box->GetChecked()); }
    } watcher{box, &seen};
    panel->ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(&watcher, &Watcher::OnEvent));
    box->PerformClick();
    box->PerformClick();
    box->SetChecked(0, 0);
    box->SetChecked(1, 1);
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 1})) << "SetChecked notifies only when asked to";
}

TEST_F(SkinEngine, AListenerMayReleaseTheSender) {
    // The panel releases the control that fired; a later listener of an ancestor hears nothing.
    struct Releaser {
        void OnEvent(CSkinObject* sender, void*) { sender->Release(); }
    } releaser;
    Recorder later;
    Find("PanelInner")
        ->ListenEvent(tavi::kSkinEventClick, tavi::SkinEventHandler(&releaser, &Releaser::OnEvent));
    panel->ListenEvent(tavi::kSkinEventClick, later.Handler());
    EXPECT_TRUE(Find("BtnInner")->PerformClick());
    EXPECT_EQ(Find("BtnInner"), nullptr);
    EXPECT_TRUE(later.senders.empty());
}

TEST_F(SkinEngine, MouseMessagesClickTheControlUnderThePoint) {
    Recorder onPanel;
    panel->ListenEvent(tavi::kSkinEventClick, onPanel.Handler());
    const tavi::SkinRect& go = Find("BtnGo")->GetRect();
    long point = ((go.top + 5) << 16) | (go.left + 5);
    EXPECT_EQ(panel->DispatchMouseMessage(tavi::WM_LBUTTONDOWN, 0, point), 1);
    EXPECT_EQ(panel->DispatchMouseMessage(tavi::WM_LBUTTONUP, 0, point), 1);
    EXPECT_TRUE(Find("BtnGo")->IsCursorInBounds());
    EXPECT_EQ(onPanel.senders, (std::vector<std::string>{"BtnGo"}));
    EXPECT_EQ(panel->DispatchMouseMessage(tavi::WM_LBUTTONUP, 0, (500 << 16) | 500), 0)
        << "outside the panel";
}

TEST_F(SkinEngine, BoundsAndAnchorsPlaceControlsInTheirParent) {
    EXPECT_EQ(Find("LabelTitle")->GetRect(), (tavi::SkinRect{10, 10, 110, 30}))
        << "near edges: offset and size";
    EXPECT_EQ(Find("BtnGo")->GetRect(), (tavi::SkinRect{230, 5, 290, 29}))
        << "right edge kept 10 from the right";
    EXPECT_EQ(Find("PanelInner")->GetRect(), (tavi::SkinRect{5, 100, 295, 150})) << "both edges: margins";
    EXPECT_EQ(Find("BtnInner")->GetRect(), (tavi::SkinRect{10, 105, 60, 125})) << "inside its panel";
    EXPECT_EQ(Find("ImageLogo")->GetRect(), (tavi::SkinRect{284, 376, 300, 392}))
        << "right and bottom anchors";
    panel->SetRect(tavi::SkinRect{0, 0, 500, 400});
    panel->RePositionSubControls();
    EXPECT_EQ(Find("BtnGo")->GetRect().left, 430) << "follows its parent's right edge";
    EXPECT_EQ(Find("PanelInner")->GetRect().right, 495);
    EXPECT_EQ(panel->GetSkinConfig(), (tavi::SkinBounds{0, 0, 0, 0}));
    EXPECT_EQ(panel->GetAnchorStyle(), tavi::kAnchorFill);
}

TEST_F(SkinEngine, SkinDataFollowKindPathAndObjectId) {
    panel->ResetSkinData();
    auto* title = tavi::FindSkinControl<tavi::CSkinLabel>(panel, "LabelTitle");
    auto* more = tavi::FindSkinControl<tavi::CSkinLinkLabel>(panel, "LinkMore");
    auto* hidden = tavi::FindSkinControl<tavi::CSkinLabel>(panel, "LabelHidden");
    EXPECT_EQ(title->GetTextColor(), 0x0000FFu) << "#FF0000 by its id over the kind's colour";
    EXPECT_EQ(title->GetSkinValue("size"), "16");
    EXPECT_EQ(hidden->GetTextColor(), 0x332211u) << "#112233 of the label kind";
    EXPECT_EQ(more->GetTextColor(), 0xFF0000u) << "a link label has a kind of its own";
    title->SetTextColor(0x00FF00);
    EXPECT_EQ(title->GetTextColor(), 0x00FF00u);
    panel->ResetSkinData();
    EXPECT_EQ(title->GetTextColor(), 0x0000FFu) << "applying the skin again restores its colour";
}

TEST_F(SkinEngine, SkinChangeReachesEveryObjectThenRepaints) {
    int before = panel->GetRefreshCount();
    panel->DispathSkinChangeMsg();
    EXPECT_EQ(panel->skinChanges, 1);
    EXPECT_EQ(panel->GetRefreshCount(), before + 1);
}

TEST_F(SkinEngine, IncludesKeepEarlierNodesAndReplaceOnlyByName) {
    testenv::ScratchDir scratch("tavi-skin");
    testenv::WriteFile(scratch.path() + "/more.xml",
                       "<builds><build name=\"TAVI Plugins TestPanel\"><label id=\"LabelTitle\"/></build>"
                       "<build name=\"Extra\"/></builds>");
    testenv::WriteFile(scratch.path() + "/bad.xml", "<builds><build name=\"Broken\"></builds>");
    const tavi::SkinBuildNode* first = manager()->GetBuildNode("TAVI Plugins TestPanel");
    ASSERT_EQ(manager()->IncludeSkinBuildFile(scratch.path() + "/more.xml"), 1);
    const tavi::SkinBuildNode* second = manager()->GetBuildNode("TAVI Plugins TestPanel");
    EXPECT_NE(first, second);
    EXPECT_EQ(first->children.size(), 7u) << "a replaced node stays readable for who holds it";
    EXPECT_EQ(second->children.size(), 1u);
    EXPECT_NE(manager()->GetBuildNode("FixtureForm"), nullptr);

    EXPECT_EQ(manager()->IncludeSkinBuildFile(scratch.path() + "/bad.xml"), 0);
    EXPECT_NE(manager()->GetLastError().find("bad.xml: line 1"), std::string::npos)
        << manager()->GetLastError();
    EXPECT_EQ(manager()->GetBuildNode("Broken"), nullptr);
    EXPECT_EQ(manager()->IncludeSkinBuildFile(scratch.path() + "/missing.xml"), 0);
    EXPECT_EQ(manager()->IncludeSkinFile(FixturePath("build.xml")), 0);
    EXPECT_NE(manager()->GetLastError().find("not a skin file"), std::string::npos);
    EXPECT_EQ(manager()->IncludeSkinBuildFile(FixturePath("skin.xml")), 0);
}

class Toolbar : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        form = tavi::runtime::CreateHostMainForm();
        ASSERT_NE(form, nullptr) << manager()->GetLastError();
        buttons = form->GetButtonManager();
        ASSERT_NE(buttons, nullptr);
    }
    void TearDown() override {
        if (form)
            form->Release();
        SkinTest::TearDown();
    }
    tavi::CDockFormEx* form = nullptr;
    tavi::CSkinButtonManager* buttons = nullptr;
};

TEST_F(Toolbar, ButtonTextAndTipGoToTheNamedButtonOnly) {
    EXPECT_EQ(tavi::CSkinWndManager::GetInstance()->GetMainForm(), form);
    EXPECT_EQ(form->GetSkinObject()->FindControlRecusive("ButtonManager"), buttons);
    ASSERT_TRUE(buttons->SetButtonText("ToolbarMicroBlog", "3", Narrow("有3条新微博，点击查看")));
    buttons->RePositionSubControls();
    EXPECT_EQ(buttons->FindButton("ToolbarMicroBlog")->GetText(), "3");
    EXPECT_EQ(buttons->FindButton("ToolbarMicroBlog")->GetTip(), Narrow("有3条新微博，点击查看"));
    EXPECT_NE(buttons->FindButton("ToolbarContacts")->GetText(), "3");
    EXPECT_FALSE(buttons->SetButtonText("ToolbarNoSuchButton", "x", "y"));
}

TEST_F(Toolbar, ReLayoutGivesALongerTextMoreRoomAndKeepsButtonsApart) {
    buttons->RePositionSubControls();
    int narrow = buttons->FindButton("ToolbarMicroBlog")->GetRect().Width();
    buttons->SetButtonText("ToolbarMicroBlog", "12345", "tip");
    buttons->RePositionSubControls();
    const tavi::SkinRect& contacts = buttons->FindButton("ToolbarContacts")->GetRect();
    const tavi::SkinRect& microblog = buttons->FindButton("ToolbarMicroBlog")->GetRect();
    EXPECT_GT(microblog.Width(), narrow);
    EXPECT_GE(microblog.left, contacts.right);
    EXPECT_EQ(microblog.top, buttons->GetRect().top);
}

} // namespace
} // namespace skintest
