// The content panel that shows a timeline page in the embedded web browser. Links of the page are
// never followed inside the panel: each opens as a new-window request, which the panel cancels and
// dispatches here, in one place: the plug-in's own "tavi://" links run timeline actions, every
// other link goes to the user's web browser.
#pragma once

#include <string>

#include "host/core.h"
#include "host/skin.h"

namespace microblog {

class MicroBlogPanel;

// The id under which the browser control raises its events to the panel's window.
constexpr int kBrowserControlId = 3345;

class MicroBlogListPanel : public tavi::CSkinWnd {
public:
    explicit MicroBlogListPanel(MicroBlogPanel* owner);
    ~MicroBlogListPanel() override;

    // Creates the panel's child window under hostParent and builds it from its skin node.
    int Create(void* hostParent);
    // Creates the browser control inside the panel's window.
    int OnBuildControlAfter() override;

    // Shows the page at path; 0 (and the current page kept) when there is no such file.
    int NavigateTo(const std::string& path);
    // The browser's events: DocumentComplete, DownloadBegin and NewWindow2.
    int OnEventSink(int controlId, int dispatchId, tavi::EventSinkParams& params) override;
    void OnDownloadBegin();
    void OnNewWindow(void** dispatch, bool* cancel);
    // The reply to a confirmed deletion: a 200 reloads the timeline.
    void OnDeleteResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);

    tavi::CSkinWebBrowser* GetBrowser() const { return browser_; }
    const std::string& GetPendingLinkUrl() const { return linkUrlSink_.pendingLinkUrl; }
    MicroBlogPanel* GetOwner() const { return owner_; }
    void* GetHostParent() const { return hostParent_; }

private:
    // Where the browser reports the URL of each link the user activates, before it asks for a
    // new window for it.
    class LinkUrlSink : public tavi::ILinkUrlSink {
    public:
        long OnLinkUrl(unsigned long flags, const wchar_t* url, void** result) override;
        std::string pendingLinkUrl;
    };

    // Runs the action of a "tavi://" link.
    void RunActionLink(const std::string& url);
    void OnIgnoredResult(tavi::ITavi* core, tavi::IAsync_CallbackParam* record);

    MicroBlogPanel* owner_;
    void* hostParent_ = nullptr;
    tavi::CSkinWebBrowser* browser_ = nullptr;
    LinkUrlSink linkUrlSink_;
};

} // namespace microblog
