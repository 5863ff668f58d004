#include "frame/microblog_app.h"

#include <cstring>

#include "frame/microblog_window.h"
#include "host/common.h"
#include "host/core.h"
#include "host/dock_form.h"
#include "host/services.h"
#include "host/skin_manager.h"
#include "http/http_exchanges.h"
#include "service/microblog_service.h"
#include "ui/forms.h"

namespace microblog {
namespace {

tavi::ModuleState moduleState{"microblog"};

// The identity key the host's plug-in registry assigned to this plug-in.
constexpr char kIdentityKey[] = "4D6963726F426C6F67506C7567696E31"
                                "38303130564D4F52415441564931303A"
                                "9E3B54A1C07F4D2B8E61A5D3F20C7B94"
                                "2F8D1C6E4A7B39055E9C0A1D7F3B62E8";
static_assert(sizeof(kIdentityKey) == 129, "the identity key fills its field exactly");

// The plug-in's fixed texts, in UTF-8 here and in the system code page in memory.
std::string Narrow(const char* utf8) {
    return tavi::utf8_to_CString(utf8);
}

std::string PluginFile(const char* format) {
    std::string base = tavi::GetAppPath() + "plugin";
    char buffer[4096];
    std::snprintf(buffer, sizeof(buffer), format, base.c_str());
    return buffer;
}

} // namespace

MicroBlogApp::MicroBlogApp() = default;
MicroBlogApp::~MicroBlogApp() = default;

MicroBlogApp& MicroBlogApp::Instance() {
    static MicroBlogApp app;
    return app;
}

tavi::ModuleState* MicroBlogApp::GetModuleState() {
    return &moduleState;
}

void MicroBlogApp::InitInstance() {
    name = Narrow("微博插件");
    vendor = "Velmora";
    description = Narrow("TAVI 微博插件");
    version = "1.0";
    field5 = 1;
    field6 = 0;
    pluginId = kPluginId;
    std::memcpy(identityKey, kIdentityKey, sizeof(identityKey));
    field9 = 0;
    field10.clear();
    loaded = 0;
    field13 = 0;
    skinFilePath = PluginFile("%s/microblog/skin.xml");
    skinBuildFilePath = PluginFile("%s/microblog/build.xml");
    stringTableFilePath = PluginFile("%s/microblog/stringid.ini");
    iconFilePath = PluginFile("%s/microblog/skin/microblog.png");
    tavi::RegisterMsgInstance(this);
}

void MicroBlogApp::ExitInstance() {
    tavi::UnRegisterMsgInstance(this);
}

int MicroBlogApp::OnLoad(void* parent, tavi::IPluginWindowLayout* layout) {
    tavi::ModuleStateGuard guard(GetModuleState());
    loaded = 1;
    tavi::ITavi* core = tavi::Core_GetITavi();
    if (core == nullptr)
        return 0;
    auto* service = new MicroBlogService(core);
    window_ = new MicroBlogWindow(parent, layout);
    window_->SetPluginId(kPluginId);
    service->SetWindow(window_);
    core->RegisterService(service);
    auto* windows = static_cast<tavi::IPluginWindowHost*>(core->GetService(tavi::kServicePluginWindows));
    if (windows == nullptr)
        return 0;
    windows->AddPluginWindow(window_);
    return 1;
}

int MicroBlogApp::OnUnLoad() {
    if (loaded == 0)
        return 1;
    tavi::ITavi* core = tavi::Core_GetITavi();
    if (core == nullptr)
        return 0;
    if (tavi::IService* service = core->GetService(kServiceId)) {
        // The service outlives the window by a moment: it must not reach the window once released.
        static_cast<MicroBlogService*>(service)->SetWindow(nullptr);
        if (auto* windows =
                static_cast<tavi::IPluginWindowHost*>(core->GetService(tavi::kServicePluginWindows))) {
            windows->RemovePluginWindow(window_);
            if (window_)
                window_->Release();
            window_ = nullptr;
        }
        // The service's unload has ended its open requests; the host's unregistering waits for the
        // tasks that were running against it, so nothing reaches the service once it is released.
        core->UnregisterService(service);
        service->Release();
        // The threads that carried those requests run this library's code until they end.
        WaitHttpExchangesEnded();
        // The settings form exists once per process; it goes with the service, and so do compose
        // forms that still wait for the answer to a send.
        DestroyConfigForm();
        DestroyComposeForms();
    }
    field13 = 0;
    loaded = 0;
    return 1;
}

int MicroBlogApp::OpenSettings() {
    tavi::ModuleStateGuard guard(GetModuleState());
    MicroBlogService* service = FindService();
    if (service == nullptr)
        return 0;
    service->ShowConfigForm();
    return 1;
}

tavi::IMenu* MicroBlogApp::GetPluginMenu() {
    tavi::ModuleStateGuard guard(GetModuleState());
    if (!IsLoaded())
        return nullptr;
    return new tavi::IMenu(tavi::CMutiLanSupport::GetStringViaID("STRID_MB_TITLE_SETTING"), kMenuSettings, 0,
                           0, tavi::IMenu::Delegate(this, &MicroBlogApp::OnMenuChosen), nullptr);
}

void MicroBlogApp::OnMenuChosen(tavi::IMenu* menu) {
    tavi::ModuleStateGuard guard(GetModuleState());
    MicroBlogService* service = FindService();
    if (service == nullptr || menu == nullptr || menu->GetID() != kMenuSettings)
        return;
    service->ShowConfigForm();
}

void MicroBlogApp::ResetSkinFile() {
    tavi::ModuleStateGuard guard(GetModuleState());
    tavi::CSkinManager* manager = tavi::CSkinManager::GetInstance();
    // A file that is not there is skipped, each on its own: the manager keeps what it has.
    if (!skinFilePath.empty() && tavi::IsFileExist(skinFilePath))
        manager->IncludeSkinFile(skinFilePath);
    if (!skinBuildFilePath.empty() && tavi::IsFileExist(skinBuildFilePath))
        manager->IncludeSkinBuildFile(skinBuildFilePath);
}

int MicroBlogApp::PreTranslateMessage(void* message) {
    tavi::ModuleStateGuard guard(GetModuleState());
    // F5 in the messenger's main window, while the plug-in's window shows there, reloads the
    // page the list shows: the timeline, as the tool strip's refresh button does, or the mentions.
    auto* msg = static_cast<tavi::MSG*>(message);
    if (msg != nullptr && msg->message == tavi::WM_KEYDOWN && msg->wParam == tavi::VK_F5 &&
        window_ != nullptr && window_->IsShown()) {
        tavi::CWnd* target = tavi::CWnd::FromHandle(msg->hwnd);
        if (target != nullptr &&
            target->GetTopLevel() ==
                static_cast<tavi::CWnd*>(tavi::CSkinWndManager::GetInstance()->GetMainForm())) {
            window_->RefreshShownPage();
            return 1;
        }
    }
    // The plug-in's own windows are its forms: they see the message first (the settings form tells
    // typing into its account and password edits from there).
    return PreTranslateFormMessage(message);
}

} // namespace microblog
