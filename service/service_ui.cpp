// The service's operations that reach the window, the panels, the forms and the host toolbar. They
// run on the user-interface thread.
#include "data/timeline_page.h"
#include "host/common.h"
#include "host/skin.h"
#include "service/deployment.h"
#include "service/fixed_texts.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"
#include "service/service_view.h"

namespace microblog {

void MicroBlogService::ShowPlugin() {
    if (window_)
        window_->ShowInHost();
    if (GetState() & kStateBound)
        ShowMainPanel();
    else
        ShowConfigForm();
}

void MicroBlogService::ShowMainPanel() {
    if (FindService() == nullptr)
        return;
    // A main form that hides at its screen edge docks at the right and comes out for a moment.
    tavi::CDockFormEx* main = tavi::CSkinWndManager::GetInstance()->GetMainForm();
    constexpr unsigned kHidingAtEdge = tavi::CDockFormEx::kAutoHide | tavi::CDockFormEx::kDockedAtEdge;
    if (main && main->IsWindow() && (main->GetDockFlags() & kHidingAtEdge) == kHidingAtEdge) {
        main->Dock(tavi::CDockFormEx::kSideRight, nullptr, nullptr, 15);
        main->FloatingSomeTime(3);
    }
    if (window_)
        window_->ShowInHost();
    if (GetState() & kStateBound) {
        if (window_)
            window_->RefreshTimeline();
        return;
    }
    SetToolbarButtonText("", FixedText(kTipStartMicroLife));
    ShowConfigForm();
}

void MicroBlogService::ShowConfigForm() {
    if (window_)
        window_->ShowConfigForm();
}

void MicroBlogService::ShowPublishForm(std::string kind) {
    if (window_)
        window_->ShowPublishForm(kind);
}

void MicroBlogService::ShowReplyForm(std::string kind, std::string id, std::string text) {
    if (window_)
        window_->ShowReplyForm(kind, id, text);
}

void MicroBlogService::SetToolbarButtonText(std::string text, std::string tip) {
    tavi::CDockFormEx* main = tavi::CSkinWndManager::GetInstance()->GetMainForm();
    if (main == nullptr)
        return;
    auto* buttons = tavi::FindSkinControl<tavi::CSkinButtonManager>(main->GetSkinObject(), "ButtonManager");
    if (buttons == nullptr)
        return;
    buttons->SetButtonText("ToolbarMicroBlog", text, tip);
    buttons->RePositionSubControls();
    buttons->Refresh();
}

std::string MicroBlogService::GetDocumentPath(std::string& path, int kind, int regenerate) {
    TimelinePageSettings settings{userFolder_, tavi::GetAppPath(), CurrentDeployment().picturePrefix};
    // A page is written from the documents as they are now; workers replacing one wait until it is
    // written. The locks are always taken in this order.
    accountDocument_.With([&](const JsonValue* account) {
        remindsDocument_.With([&](const JsonValue* reminds) {
            homeTimelineDocument_.With([&](const JsonValue* timeline) {
                mentionsDocument_.With([&](const JsonValue* mentions) {
                    path = microblog::GetDocumentPath(settings, kind, regenerate != 0,
                                                      TimelineSources{account, reminds, timeline, mentions});
                });
            });
        });
    });
    return path;
}

void MicroBlogService::ShowHomePage() {
    std::string path;
    GetDocumentPath(path, 2, 1);
    if (window_)
        window_->ShowPage(path);
}

void MicroBlogService::OnActivateAccountResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    if (core == nullptr || result == nullptr)
        return;
    if (result->status == 400 || result->status == 403) {
        std::string error;
        bool found = activationErrorDocument_.With([&](const JsonValue* root) {
            const std::string* text = root ? root->FindString("error") : nullptr;
            if (text)
                error = *text;
            return text != nullptr;
        });
        if (!found)
            return;
        std::string message;
        if (result->status == 400) {
            message = tavi::CMutiLanSupport::GetStringViaID(error == FixedText(kErrorNickNameInvalid)
                                                                ? "STRID_MB_STARTPANEL_ACCOUNTNOTICE_FEIFA"
                                                                : "STRID_MB_STARTPANEL_ACCOUNTNOTICE");
        } else if (error == FixedText(kErrorCreateUserFailed)) {
            message = error;
        } else {
            return;
        }
        if (window_)
            window_->ShowActivationRefusal(result->status, message);
        return;
    }
    std::string account, password;
    GetAccount(account, password);
    SetAccount(account, password, 1);
    tavi::WaitSomeMilliseconds(500);
    if (window_)
        window_->RefreshTimeline();
}

} // namespace microblog
