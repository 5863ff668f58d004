#include "frame/microblog_window.h"

#include <cstdlib>

#include "frame/microblog_app.h"
#include "host/common.h"
#include "host/core.h"
#include "host/skin.h"
#include "service/microblog_service.h"
#include "service/settings.h"
#include "ui/microblog_list_panel.h"
#include "ui/microblog_open_panel.h"
#include "ui/microblog_panel.h"
#include "ui/microblog_tool_panel.h"

#if __has_include("ui/forms.h")
#include "ui/forms.h"
#define MICROBLOG_HAVE_FORMS 1
#else
#define MICROBLOG_HAVE_FORMS 0
#endif

namespace microblog {
namespace {

// A reminder counter of the service's reply ("3"), or 0 when it is missing or not a string.
int ReminderCount(const JsonValue* root, const char* name) {
    const std::string* text = root ? root->FindString(name) : nullptr;
    return text ? std::atoi(text->c_str()) : 0;
}

} // namespace

MicroBlogWindow::MicroBlogWindow(void* parent, tavi::IPluginWindowLayout* layout)
    : IPluginWindow(parent, layout) {
    hostValue_ = 0;
    SetObjectId("MicroBlogWindow");
    tipText_ = tavi::CMutiLanSupport::GetStringViaID("TIP_MICROBLOG");
    layoutName_ = "layout_microblog";
    skinClass_ = "pluginwnd";
    skinPath_ = "Plugins MicroBlogWindow";
    if (tavi::ITavi* core = tavi::Core_GetITavi())
        core->WatchUserData(this, tavi::UserDataDelegate(this, &MicroBlogWindow::OnUserDataChanged),
                            kSettingsName, core->GetUserAccount(), -1);
}

MicroBlogWindow::~MicroBlogWindow() = default;

void MicroBlogWindow::Release() {
    if (tavi::ITavi* core = tavi::Core_GetITavi())
        core->UnwatchUserData(this);
    delete this;
}

void MicroBlogWindow::ShowPluginWindow(int visible) {
    SetVisible(visible != 0);
    if (visible != 0 && started_ == 0) {
        RunSignIn();
        started_ = 1;
    }
}

void MicroBlogWindow::BuildPluginWindow() {
    if (mainPanel_ == nullptr)
        CreateMainPanel();
    ResetSkinData();
    DispathSkinChangeMsg();
    started_ = 0;
}

void MicroBlogWindow::DestroyPluginWindow() {
    tavi::ModuleStateGuard guard(MicroBlogApp::GetModuleState());
    if (mainPanel_ != nullptr) {
        UnRegisterControl(mainPanel_);
        mainPanel_->Release();
        mainPanel_ = nullptr;
    }
    started_ = 0;
}

void MicroBlogWindow::ShowInHost() {
    if (tavi::CSkinForm* form = GetOwnerForm())
        form->BringToTop();
    if (layout_)
        layout_->ActivateWindow(this);
}

void MicroBlogWindow::OnUserDataChanged(const std::string& /*name*/, const tavi::Property& data) {
    if (!data.Has(kKeyBound) && !data.Has(kKeyAccount) && !data.Has(kKeyPassword))
        return;
    // A window that has not been shown since it was built signs in at its first show, with the
    // settings as they are then. A new user's defaults, written at load, arrive here before that
    // show; signing in for them as well would sign the first run in twice.
    if (started_ == 0 && !IsVisible())
        return;
    ShowInHost();
    RunSignIn();
    if (mainPanel_)
        started_ = 1;
}

void MicroBlogWindow::RefreshTimeline() {
    if (mainPanel_)
        mainPanel_->RefreshTimeline();
}

void MicroBlogWindow::RefreshShownPage() {
    if (mainPanel_)
        mainPanel_->RefreshShownPage();
}

void MicroBlogWindow::ShowPage(const std::string& path) {
    // While the mentions page is shown, the new counts are shown on it rather than taking the user
    // back to the home page.
    if (mainPanel_ && mainPanel_->GetListPanel())
        mainPanel_->GetListPanel()->NavigateTo(mainPanel_->ReminderPagePath(path));
    // The page changes when a reminder reply brought new counts; the tool panel shows the rest of
    // that reply.
    ShowReminderCounts();
}

void MicroBlogWindow::ShowReminderCounts() {
    MicroBlogService* service = FindService();
    MicroBlogToolPanel* tool = mainPanel_ ? mainPanel_->GetToolPanel() : nullptr;
    if (service == nullptr || tool == nullptr)
        return;
    int mentions = 0;
    int comments = 0;
    bool counted = service->GetRemindsDocument().With([&](const JsonValue* root) {
        if (root == nullptr || !root->Is(JsonValueType::Object))
            return false;
        mentions = ReminderCount(root, "replyCount");
        comments = ReminderCount(root, "commentOfMeCount");
        return true;
    });
    if (counted)
        tool->ShowNewItemCounts(mentions, comments);
}

void MicroBlogWindow::ShowActivationRefusal(int status, const std::string& message) {
    if (mainPanel_ && mainPanel_->GetOpenPanel())
        mainPanel_->GetOpenPanel()->ShowActivationRefusal(status, message);
}

void MicroBlogWindow::ShowConfigForm() {
#if MICROBLOG_HAVE_FORMS
    microblog::ShowConfigForm();
#endif
}

void MicroBlogWindow::ShowPublishForm([[maybe_unused]] const std::string& kind) {
#if MICROBLOG_HAVE_FORMS
    microblog::ShowPublishForm(kind);
#endif
}

void MicroBlogWindow::ShowReplyForm([[maybe_unused]] const std::string& kind,
                                    [[maybe_unused]] const std::string& id,
                                    [[maybe_unused]] const std::string& text) {
#if MICROBLOG_HAVE_FORMS
    microblog::ShowReplyForm(kind, id, text);
#endif
}

void MicroBlogWindow::DestroyConfigForm() {
#if MICROBLOG_HAVE_FORMS
    microblog::DestroyConfigForm();
#endif
}

void MicroBlogWindow::CreateMainPanel() {
    mainPanel_ = new MicroBlogPanel(this, MicroBlogApp::GetModuleState());
    RegisterControl(mainPanel_);
    // A panel whose creation failed stays: it lacks the children it could not make, and every
    // operation on it skips what is missing.
    mainPanel_->Create(parent_);
    RePositionSubControls();
    Refresh();
}

void MicroBlogWindow::RunSignIn() {
    if (mainPanel_)
        mainPanel_->StartSignIn();
}

} // namespace microblog
