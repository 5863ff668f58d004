// The two entry points the host looks up in the plug-in library, and the library's attach and
// detach.
#include "frame/microblog_app.h"
#include "host/common.h"

#define MICROBLOG_EXPORT extern "C" __attribute__((visibility("default")))

MICROBLOG_EXPORT tavi::IPlugin* GetTaviPluginInstance() { return &microblog::MicroBlogApp::Instance(); }

MICROBLOG_EXPORT int MyPreTranslateMessage(void* message) {
    tavi::ModuleStateGuard guard(microblog::MicroBlogApp::GetModuleState());
    return microblog::MicroBlogApp::Instance().PreTranslateMessage(message);
}

namespace {

// The application object may be destroyed before the library's detach runs, so detach only uses
// the address it registered.
microblog::MicroBlogApp* attachedApp = nullptr;

__attribute__((constructor)) void AttachLibrary() {
    attachedApp = &microblog::MicroBlogApp::Instance();
    attachedApp->InitInstance();
}

__attribute__((destructor)) void DetachLibrary() { tavi::UnRegisterMsgInstance(attachedApp); }

} // namespace
