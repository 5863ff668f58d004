// The browser control: navigation to local pages, the kept document, its events, and links
// activated as a click does.
#include "host/web_browser.h"

#include <cctype>

#include "host/common.h"
#include "runtime/skin/html_page.h"
#include "runtime/skin/text_units.h"

namespace tavi {
namespace {

bool IsBlankTarget(const std::string& target) {
    if (target.size() != 6)
        return false;
    const char* blank = "_blank";
    for (std::size_t i = 0; i < 6; ++i)
        if (std::tolower(static_cast<unsigned char>(target[i])) != blank[i])
            return false;
    return true;
}

} // namespace

void CSkinWebBrowser::InitControlContainer() {
    runtime::InitPageLibraries();
}

CSkinWebBrowser::CSkinWebBrowser() {
    GetSkinObject()->SetKind(kKindBrowser);
    runtime::InitPageLibraries();
}

CSkinWebBrowser::~CSkinWebBrowser() = default;

bool CSkinWebBrowser::Create(const std::string& name, unsigned style, const SkinRect& rect, void* parent,
                             int id, int containerFlags, int /*reserved*/, void* /*persist*/, int /*storage*/,
                             const wchar_t* /*licenseKey*/) {
    // The control lives inside a window of its host.
    if ((style & WS_CHILD) == 0 || parent == nullptr)
        return false;
    if (!CreateEx(style, "Shell Embedding", name, rect, parent, id))
        return false;
    containerFlags_ = containerFlags;
    if (GetObjectID().empty())
        SetObjectID(name);
    return true;
}

int CSkinWebBrowser::RaiseEvent(int dispatchId, EventSinkParams& params) {
    CWnd* parent = GetParent();
    return parent ? parent->OnEventSink(GetDlgCtrlID(), dispatchId, params) : 0;
}

bool CSkinWebBrowser::Navigate2(const std::string& url, unsigned short flags, const char* targetFrame,
                                const std::string* /*postData*/, const char* /*headers*/) {
    if (!IsWindow()) {
        lastError_ = "the browser has no window";
        return false;
    }
    if (targetFrame != nullptr && IsBlankTarget(targetFrame)) {
        openedWindows_.push_back(url);
        return true;
    }
    std::string path = runtime::PagePathFromUrl(url, location_);
    if (path.empty()) {
        lastError_ = "the browser loads local pages only: " + url;
        return false;
    }
    if (!IsFileExist(path) || IsFileExist(path + "/.")) {
        lastError_ = "no page at " + path;
        return false;
    }
    std::weak_ptr<void> life = GetSkinObject()->GetLifeToken();
    if (!loadEventsFromView_ && !RaiseLoadEvent(false))
        return false;

    runtime::HtmlPage page;
    std::string error;
    runtime::PageLoad loaded = runtime::LoadPage(path, page, error);
    if (loaded == runtime::PageLoad::kMissing) {
        lastError_ = error;
        return false;
    }
    if (loaded != runtime::PageLoad::kLoaded) {
        // As a browser does: the navigation completes with a page that says what went wrong.
        page = runtime::HtmlPage{};
        page.title = "Error";
        page.text = "This page cannot be shown: " + error;
        page.readable = page.text;
        lastError_ = error;
    } else {
        lastError_.clear();
    }
    title_ = page.title;
    text_ = page.text;
    readable_ = page.readable;
    links_ = std::move(page.links);
    location_ = path;
    if ((flags & navNoHistory) && !history_.empty())
        history_.back() = path;
    else
        history_.push_back(path);
    ++navigations_;
    GetSkinObject()->SetText(utf8_to_CString(title_), 1);

    if (!loadEventsFromView_)
        return RaiseLoadEvent(true);
    return !life.expired();
}

bool CSkinWebBrowser::RaiseLoadEvent(bool finished) {
    std::weak_ptr<void> life = GetSkinObject()->GetLifeToken();
    EventSinkParams params;
    params.dispatch = this;
    if (finished)
        params.url = &location_;
    RaiseEvent(finished ? DISPID_DOCUMENTCOMPLETE : DISPID_DOWNLOADBEGIN, params);
    return !life.expired();
}

bool CSkinWebBrowser::ActivateLink(std::size_t index) {
    if (index >= links_.size())
        return false;
    BrowserLink link = links_[index];
    return ActivateUrl(link.url, IsBlankTarget(link.target));
}

bool CSkinWebBrowser::ActivateUrl(const std::string& url, bool newWindow) {
    std::weak_ptr<void> life = GetSkinObject()->GetLifeToken();
    if (sink_ != nullptr) {
        std::u32string units = runtime::Utf8ToUnicode(url);
        std::wstring wide(units.begin(), units.end());
        sink_->OnLinkUrl(0, wide.c_str(), nullptr);
        if (life.expired())
            return false;
    }
    if (newWindow) {
        bool cancel = false;
        void* newBrowser = nullptr;
        std::string address = url;
        EventSinkParams request;
        request.dispatch = this;
        request.newDispatch = &newBrowser;
        request.url = &address;
        request.cancel = &cancel;
        RaiseEvent(DISPID_NEWWINDOW2, request);
        if (life.expired())
            return false;
        if (!cancel)
            openedWindows_.push_back(url);
        return true;
    }
    // A link without a target replaces the page; the control loads local pages only.
    Navigate2(url, 0);
    return !life.expired();
}

std::string WideToCString(const wchar_t* text) {
    if (text == nullptr)
        return std::string();
    static_assert(sizeof(wchar_t) == sizeof(char32_t), "wide strings are UTF-32 on this platform");
    std::u32string units;
    for (const wchar_t* c = text; *c; ++c)
        units.push_back(static_cast<char32_t>(*c));
    return runtime::UnicodeToNarrow(units);
}

} // namespace tavi
