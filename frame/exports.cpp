// The two entry points the host looks up in the plug-in library, and the library's attach and
// detach.
#include "frame/microblog_app.h"

#define MICROBLOG_EXPORT extern "C" __attribute__((visibility("default")))

MICROBLOG_EXPORT tavi::IPlugin* GetTaviPluginInstance() { return &microblog::MicroBlogApp::Instance(); }

MICROBLOG_EXPORT int MyPreTranslateMessage(void* message) {
    tavi::ModuleStateGuard guard(microblog::MicroBlogApp::GetModuleState());
    return microblog::MicroBlogApp::Instance().PreTranslateMessage(message);
}

namespace {

__attribute__((constructor)) void AttachLibrary() { microblog::MicroBlogApp::Instance().InitInstance(); }

__attribute__((destructor)) void DetachLibrary() { microblog::MicroBlogApp::Instance().ExitInstance(); }

} // namespace
