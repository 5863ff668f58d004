#include "ui/forms.h"

#include "host/core.h"
#include "host/skin.h"
#include "ui/microblog_config_form.h"
#include "ui/microblog_publish_form.h"

namespace microblog {
namespace {

void OpenComposeForm(MicroBlogPublishForm* form) {
    if (!form->Create(nullptr)) {
        form->Release();
        return;
    }
    form->CenterWindow();
    form->ShowWindow(tavi::SW_SHOWNORMAL);
}

} // namespace

void ShowConfigForm() {
    MicroBlogConfigForm* form = GetConfigForm();
    if (form == nullptr || !form->IsWindow())
        return;
    form->LoadFromSettings();
    form->CenterWindow();
    form->ShowWindow(tavi::SW_SHOWNORMAL);
    form->BringToTop();
}

void ShowPublishForm(const std::string& kind) {
    OpenComposeForm(new MicroBlogPublishForm(tavi::Core_GetITavi(), kind));
}

void ShowReplyForm(const std::string& kind, const std::string& id, const std::string& text) {
    OpenComposeForm(new MicroBlogPublishForm(tavi::Core_GetITavi(), kind, id, text));
}

void DestroyConfigForm() {
    ReleaseConfigForm();
}

void DestroyComposeForms() {
    for (tavi::CSkinForm* form : tavi::CSkinWndManager::GetInstance()->GetForms()) {
        auto* compose = dynamic_cast<MicroBlogPublishForm*>(form);
        if (compose == nullptr)
            continue;
        if (compose->IsWindow())
            compose->DestroyWindow();
        delete compose;
    }
}

int PreTranslateFormMessage(void* message) {
    auto* msg = static_cast<tavi::MSG*>(message);
    tavi::CWnd* target = msg ? tavi::CWnd::FromHandle(msg->hwnd) : nullptr;
    if (target == nullptr)
        return 0;
    tavi::CWnd* top = target->GetTopLevel();
    if (dynamic_cast<MicroBlogConfigForm*>(top) == nullptr &&
        dynamic_cast<MicroBlogPublishForm*>(top) == nullptr)
        return 0;
    // The walk offers the message to the target and each window up to the form, each once: the
    // host's own walk afterwards skips the windows already asked.
    return tavi::CWnd::WalkPreTranslateTree(msg) ? 1 : 0;
}

} // namespace microblog
