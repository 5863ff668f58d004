// The host's embedded web browser control. Navigate2 loads a local page: an XML document that names
// an XSL stylesheet (processing instruction xml-stylesheet) is transformed as a browser would, and
// the resulting HTML is parsed; the control keeps the page's title, its readable text and its links.
// Activating a link (what a click does) reports the link's URL through the link sink first, then a
// link with target "_blank" raises NewWindow2 to the parent window with a cancel flag; a request
// not cancelled opens a new browser window. Events go to the parent window's event sink
// (CWnd::OnEventSink) under the control's id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/skin_wnd.h"

namespace tavi {

// Dispatch ids of the browser's events.
constexpr int DISPID_DOWNLOADBEGIN = 106;
constexpr int DISPID_NEWWINDOW2 = 251;
constexpr int DISPID_DOCUMENTCOMPLETE = 259;

// Navigation flags.
constexpr unsigned short navOpenInNewWindow = 0x1;
constexpr unsigned short navNoHistory = 0x2;

// Option flags of the control.
constexpr unsigned kBrowserOptionContextMenu = 0x02; // the page's own context menu
constexpr unsigned kBrowserOptionBorder = 0x04;      // a sunken border
constexpr unsigned kBrowserOptionTextSelect = 0x80;  // the user may select the page's text
constexpr unsigned kBrowserDefaultOptions =
    kBrowserOptionContextMenu | kBrowserOptionBorder | kBrowserOptionTextSelect;

// Receives the URL of each link the user activates, before the browser acts on it. The URL is
// a wide string (UTF-32 here); flags and the output slot are the browser's and may be ignored.
class ILinkUrlSink {
public:
    virtual ~ILinkUrlSink() = default;
    virtual long OnLinkUrl(unsigned long flags, const wchar_t* url, void** result) = 0;
};

// A link of the page: its address (resolved against the page), its text and its target, in UTF-8.
struct BrowserLink {
    std::string url;
    std::string text;
    std::string target;
};

class CSkinWebBrowser : public CSkinWnd {
public:
    // Prepares the control's container (the XML and XSLT libraries and their security settings).
    // Safe to call more than once and from any thread.
    static void InitControlContainer();

    CSkinWebBrowser();
    ~CSkinWebBrowser() override;

    // Creates the control's window as a child of the parent window. containerFlags and the values
    // after it are the container's (window flags, a persistence file, storage, a licence key);
    // the headless control keeps only containerFlags.
    bool Create(const std::string& name, unsigned style, const SkinRect& rect, void* parent, int id,
                int containerFlags = 0, int reserved = 0, void* persist = nullptr, int storage = 0,
                const wchar_t* licenseKey = nullptr);

    void SetLinkUrlSink(ILinkUrlSink* sink) { sink_ = sink; }
    ILinkUrlSink* GetLinkUrlSink() const { return sink_; }
    void SetRegisterAsDropTarget(int enable) { dropTarget_ = enable != 0; }
    bool GetRegisterAsDropTarget() const { return dropTarget_; }
    unsigned GetOptionFlags() const { return options_; }
    void SetOptionFlags(unsigned flags) { options_ = flags; }
    int GetContainerFlags() const { return containerFlags_; }

    // Loads a local page (a path or a file: URL; the control loads no remote page). False, with
    // nothing raised and the current page kept, when the window does not exist or the file cannot be
    // read. A page whose stylesheet cannot be applied is shown as an error page.
    bool Navigate2(const std::string& url, unsigned short flags = 0, const char* targetFrame = nullptr,
                   const std::string* postData = nullptr, const char* headers = nullptr);

    const std::string& GetLocationURL() const { return location_; }
    const std::string& GetTitle() const { return title_; }
    // The page as readable text (UTF-8): one line per block, images as "[image SRC]".
    const std::string& GetPageText() const { return text_; }
    // The same with the number of each link after its text ("text [3]").
    const std::string& GetReadableText() const { return readable_; }
    const std::vector<BrowserLink>& GetLinks() const { return links_; }
    // Navigations kept for going back (flag navNoHistory replaces the current entry).
    int GetHistoryLength() const { return static_cast<int>(history_.size()); }
    // Why the last navigation failed or showed an error page.
    const std::string& GetLastError() const { return lastError_; }

    // Activates a link of the page, as a click on it does. False for an index out of range or
    // when the control went away while it ran.
    bool ActivateLink(std::size_t index);
    // Activates a link by its address, as a click does (a windowed view reports the links a person
    // clicks in the page this way): newWindow for a link that opens a new window (target "_blank").
    // False when the control went away while it ran.
    bool ActivateUrl(const std::string& url, bool newWindow);
    // Successful navigations so far: a view loads the page again whenever this moves, also when the
    // same file was rewritten and navigated to again.
    int GetNavigationCount() const { return navigations_; }
    // A view that draws the page raises DownloadBegin and DocumentComplete as its engine starts and
    // finishes loading the page; Navigate2 then no longer raises them itself.
    void SetLoadEventsFromView(bool fromView) { loadEventsFromView_ = fromView; }
    // The view's engine started (finished false) or finished loading the page. False when the
    // control went away while its parent handled the event.
    bool RaiseLoadEvent(bool finished);
    // Addresses of the new browser windows that links opened.
    const std::vector<std::string>& GetOpenedWindows() const { return openedWindows_; }

private:
    int RaiseEvent(int dispatchId, EventSinkParams& params);

    ILinkUrlSink* sink_ = nullptr;
    bool dropTarget_ = true;
    unsigned options_ = kBrowserDefaultOptions;
    int containerFlags_ = 0;
    std::string location_;
    std::string title_;
    std::string text_;
    std::string readable_;
    std::vector<BrowserLink> links_;
    std::vector<std::string> history_;
    std::vector<std::string> openedWindows_;
    std::string lastError_;
    int navigations_ = 0;
    bool loadEventsFromView_ = false;
};

// Wide text (as the browser reports URLs) in the system code page; characters it cannot hold
// become '?'. A null pointer gives an empty string.
std::string WideToCString(const wchar_t* text);

} // namespace tavi
