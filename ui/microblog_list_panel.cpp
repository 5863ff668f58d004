#include "ui/microblog_list_panel.h"

#include "host/common.h"
#include "host/msgbox.h"
#include "service/microblog_result.h"
#include "service/microblog_service.h"
#include "ui/microblog_panel.h"
#include "ui/panel_skin.h"

namespace microblog {
namespace {

constexpr const char* kWindowClass = "VELMORA TAVI2006 MicroBlogListPanel";
constexpr const char* kWindowName = "TAVI2006 MicroBlogListPanel";
constexpr const char* kBrowserName = "Tavi.Plugin.BlogListPanel.Navigator";
constexpr unsigned kChildVisible = tavi::WS_CHILD | tavi::WS_VISIBLE;
constexpr int kBrowserContainerFlags = 132;
constexpr unsigned kBrowserOptionsOff = tavi::kBrowserOptionContextMenu | tavi::kBrowserOptionTextSelect;
constexpr int kOpenInBrowser = 3;

constexpr const char* kSchemePrefix = "tavi://";

enum class LinkAction { Retweet, Comment, FavoriteAdd, FavoriteDelete, Refresh, Delete, Home, Mentions };

// The action links, in the order they are tried: the first prefix found anywhere in the URL decides,
// and the status id is the rest of the URL after it.
struct ActionLink {
    const char* prefix;
    LinkAction action;
};
constexpr ActionLink kActionLinks[] = {
    {"tavi://retweet/id=", LinkAction::Retweet},
    {"tavi://comments/id=", LinkAction::Comment},
    {"tavi://favorite_add/id=", LinkAction::FavoriteAdd},
    {"tavi://favorite_del/id=", LinkAction::FavoriteDelete},
    {"tavi://refresh/", LinkAction::Refresh},
    {"tavi://delete/id=", LinkAction::Delete},
    // The page header's two views: the home timeline and the statuses that mention the user.
    {"tavi://home/", LinkAction::Home},
    {"tavi://mentions/", LinkAction::Mentions},
};

} // namespace

long MicroBlogListPanel::LinkUrlSink::OnLinkUrl(unsigned long /*flags*/, const wchar_t* url,
                                                void** /*result*/) {
    pendingLinkUrl = tavi::WideToCString(url);
    return 0;
}

MicroBlogListPanel::MicroBlogListPanel(MicroBlogPanel* owner) : owner_(owner) {
    SetObjectID("MicroBlogListPanel");
}

MicroBlogListPanel::~MicroBlogListPanel() = default;

int MicroBlogListPanel::Create(void* hostParent) {
    hostParent_ = hostParent;
    if (!CSkinWnd::Create(kChildVisible, kWindowClass, kWindowName, hostParent, -1))
        return 0;
    const tavi::SkinBuildNode* node = FindPanelBuildNode(GetObjectID());
    if (node == nullptr || !BuildFromXML(node))
        return 0;
    return 1;
}

int MicroBlogListPanel::OnBuildControlAfter() {
    browser_ = new tavi::CSkinWebBrowser();
    browser_->SetObjectID(kBrowserName);
    tavi::CSkinObject* browserObject = browser_->GetSkinObject();
    GetSkinObject()->RegisterControl(browserObject);
    browserObject->SetBounds(tavi::SkinBounds{0, 0, 1, 1});
    browserObject->SetAnchorStyle(tavi::kAnchorFill);
    browser_->SetLinkUrlSink(&linkUrlSink_);
    if (!browser_->Create(kBrowserName, kChildVisible, tavi::SkinRect{0, 0, 1, 1}, GetSafeHwnd(),
                          kBrowserControlId, kBrowserContainerFlags, 0, nullptr, 0, nullptr)) {
        browser_->DestroyWindow();
        browserObject->Release();
        browser_ = nullptr;
        return 0;
    }
    browser_->SetOptionFlags(browser_->GetOptionFlags() & ~kBrowserOptionsOff);
    return 1;
}

int MicroBlogListPanel::NavigateTo(const std::string& path) {
    if (browser_ == nullptr || path.empty() || !tavi::IsFileExist(path))
        return 0;
    browser_->SetRegisterAsDropTarget(0);
    browser_->Navigate2(path, tavi::navNoHistory, nullptr, nullptr, nullptr);
    return 1;
}

int MicroBlogListPanel::OnEventSink(int controlId, int dispatchId, tavi::EventSinkParams& params) {
    if (controlId != kBrowserControlId)
        return CSkinWnd::OnEventSink(controlId, dispatchId, params);
    switch (dispatchId) {
    case tavi::DISPID_DOCUMENTCOMPLETE:
        return 1;
    case tavi::DISPID_DOWNLOADBEGIN:
        OnDownloadBegin();
        return 1;
    case tavi::DISPID_NEWWINDOW2:
        OnNewWindow(params.newDispatch, params.cancel);
        return 1;
    default:
        return CSkinWnd::OnEventSink(controlId, dispatchId, params);
    }
}

void MicroBlogListPanel::OnDownloadBegin() {
    if (browser_ && browser_->IsWindow() && !browser_->IsWindowVisible())
        tavi::SetCursor(tavi::LoadCursorA(nullptr, tavi::IDC_ARROW));
}

void MicroBlogListPanel::OnNewWindow(void** /*dispatch*/, bool* cancel) {
    if (tavi::Core_GetITavi() == nullptr)
        return;
    const std::string url = linkUrlSink_.pendingLinkUrl;
    if (url.empty())
        return;
    // The browser never opens a window of its own.
    if (cancel)
        *cancel = true;
    // Only an address that begins with the plug-in's scheme is an action link. A status text may hold a
    // web address with an action link somewhere inside it; that is still just a web page.
    if (url.compare(0, std::char_traits<char>::length(kSchemePrefix), kSchemePrefix) != 0) {
        tavi::SafeOpenWeb(url, kOpenInBrowser);
        return;
    }
    RunActionLink(url);
}

void MicroBlogListPanel::RunActionLink(const std::string& url) {
    const ActionLink* link = nullptr;
    std::size_t at = std::string::npos;
    for (const ActionLink& candidate : kActionLinks) {
        at = url.find(candidate.prefix);
        if (at != std::string::npos) {
            link = &candidate;
            break;
        }
    }
    if (link == nullptr)
        return;
    const std::string id = url.substr(at + std::char_traits<char>::length(link->prefix));
    MicroBlogService* service = FindService();
    switch (link->action) {
    case LinkAction::Refresh:
        if (owner_)
            owner_->RefreshTimeline();
        return;
    case LinkAction::Home:
        if (owner_)
            owner_->ShowHomeTimeline();
        return;
    case LinkAction::Mentions:
        if (owner_)
            owner_->RefreshMentions();
        return;
    case LinkAction::Retweet:
        if (service)
            service->ShowReplyForm("retweet", id, std::string());
        return;
    case LinkAction::Comment:
        if (service)
            service->ShowReplyForm("comment", id, std::string());
        return;
    case LinkAction::FavoriteAdd:
        if (service)
            service->RequestCreateFavorite(tavi::TaskCallback(this, &MicroBlogListPanel::OnIgnoredResult),
                                           id);
        return;
    case LinkAction::FavoriteDelete:
        if (service)
            service->RequestDestroyFavorite(id,
                                            tavi::TaskCallback(this, &MicroBlogListPanel::OnIgnoredResult));
        return;
    case LinkAction::Delete: {
        if (service == nullptr)
            return;
        std::string title = tavi::CMutiLanSupport::GetStringViaID("STRID_PROMPT_TITLE_WARNING");
        std::string text = tavi::CMutiLanSupport::GetStringViaID("STRID_MICROBLOG_CONFIRM_DELETE");
        if (tavi::PP_ShowMsgBox(tavi::kMsgBoxQuestion, title, text, tavi::kMsgBoxButtonsYesNo, 1) !=
            tavi::kMsgBoxAnswerYes)
            return;
        service->RequestDestroyStatus(id, tavi::TaskCallback(this, &MicroBlogListPanel::OnDeleteResult));
        return;
    }
    }
}

void MicroBlogListPanel::OnDeleteResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record) {
    const MicroBlogResult* result = AsResult(record);
    if (core == nullptr || result == nullptr || result->status != 200)
        return;
    if (owner_)
        owner_->RefreshShownPage();
}

// Favourite changes show no result.
void MicroBlogListPanel::OnIgnoredResult(tavi::ITavi* /*core*/, tavi::IAsync_CallbackParam* /*record*/) {}

} // namespace microblog
