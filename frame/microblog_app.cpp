#include "frame/microblog_app.h"

#include <cstring>

#include "host/common.h"
#include "host/core.h"

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
std::string Narrow(const char* utf8) { return tavi::utf8_to_CString(utf8); }

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

tavi::ModuleState* MicroBlogApp::GetModuleState() { return &moduleState; }

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

void MicroBlogApp::ExitInstance() { tavi::UnRegisterMsgInstance(this); }

int MicroBlogApp::OnLoad(void* parent, tavi::IPluginWindowLayout* layout) {
    tavi::ModuleStateGuard guard(GetModuleState());
    return IPlugin::OnLoad(parent, layout);
}

int MicroBlogApp::OnUnLoad() { return IPlugin::OnUnLoad(); }

int MicroBlogApp::OpenSettings() {
    tavi::ModuleStateGuard guard(GetModuleState());
    return 0;
}

tavi::IMenu* MicroBlogApp::GetPluginMenu() {
    tavi::ModuleStateGuard guard(GetModuleState());
    if (!IsLoaded())
        return nullptr;
    return new tavi::IMenu(tavi::CMutiLanSupport::GetStringViaID("STRID_MB_TITLE_SETTING"), kMenuSettings, 0, 0,
                           tavi::IMenu::Delegate(this, &MicroBlogApp::OnMenuChosen), nullptr);
}

void MicroBlogApp::OnMenuChosen(tavi::IMenu* menu) {
    tavi::ModuleStateGuard guard(GetModuleState());
    if (menu == nullptr || menu->GetID() != kMenuSettings)
        return;
}

void MicroBlogApp::ResetSkinFile() {}

int MicroBlogApp::PreTranslateMessage(void* /*message*/) {
    tavi::ModuleStateGuard guard(GetModuleState());
    return 0;
}

} // namespace microblog
