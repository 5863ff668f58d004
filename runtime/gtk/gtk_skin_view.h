// The windowed view of the skin model: every top-level skin window (the host's main form, each
// form) is a GtkWindow, every skin object of its tree a widget placed where the model puts it. The
// model stays the single truth: the view mirrors it after each change (a sync on the main
// context's idle, coalesced), and a person's input becomes the model's own events.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "host/skin_wnd.h"
#include "runtime/skin/skin_view.h"

typedef struct _WebKitWebView WebKitWebView;

namespace tavi::runtime::gtk {

// The desktop's name for the windowed client: the application of its notifications, its windows'
// icon, and the desktop entry that installs the icon (packaging/, TAVI_DESKTOP_ID).
constexpr const char* kApplicationId = "com.velmora.Tavi";

class ControlView;
class WindowView;

class GtkSkinView : public ISkinView {
public:
    GtkSkinView();
    ~GtkSkinView() override;
    GtkSkinView(const GtkSkinView&) = delete;
    GtkSkinView& operator=(const GtkSkinView&) = delete;

    void OnWindowCreated(CWnd* window) override;
    void OnWindowDestroyed(CWnd* window) override;
    void OnWindowShown(CWnd* window, bool shown) override;
    void OnWindowMoved(CWnd* window) override;
    void OnInvalidate(CSkinObject* object) override;

    // The model changed (or may have): the view catches up on the next idle of the main context.
    void ScheduleSync();
    // Catches up now.
    void SyncNow();
    // Catches up, waits for the pages the web views are loading, and lets the toolkit draw the
    // result; false when the pages did not finish within the bound.
    bool WaitDrawn(int boundMilliseconds);

    // The main window's title (the signed-in messenger account).
    void SetMainTitle(const std::string& utf8) { mainTitle_ = utf8; }
    const std::string& GetMainTitle() const { return mainTitle_; }
    // Called when a person closes the main window.
    std::function<void()> onMainWindowClosed;
    // Called once with the main window before it is first shown: the host adds what is its own
    // there (its title bar and menu).
    std::function<void(GtkWindow*)> decorateMainWindow;

    // The GtkWindow of a top-level skin window, or null.
    GtkWindow* WindowOf(CWnd* window) const;
    GtkWindow* MainWindow() const;
    // The view of a skin object, or null when it has none (not shown in a window yet).
    ControlView* ViewOf(CSkinObject* object) const;
    // The web view of a browser control's object, or null.
    WebKitWebView* WebViewOf(CSkinObject* object) const;

    // Draws the window (as GTK draws it, the page of a web view included) into a PNG file. False,
    // with the reason, when the window is not shown or the file cannot be written.
    bool SaveScreenshot(CWnd* window, const std::string& path, std::string& error);

    // The browser views there are, and the pages they started and finished loading.
    void AddBrowser(ControlView* browser) { browsers_.insert(browser); }
    void RemoveBrowser(ControlView* browser) { browsers_.erase(browser); }
    void OnPageLoadStarted(ControlView* browser);
    void OnPageLoadFinished(ControlView* browser);
    int PagesStarted() const { return pagesStarted_; }
    int PagesFinished() const { return pagesFinished_; }
    // Links the web views handed to the model so far (a person's clicks, or the host's).
    void OnLinkActivated() { ++linksActivated_; }
    int LinksActivated() const { return linksActivated_; }
    // Runs a script in the page of a web view (the host's own, never the page's) and gives its
    // result as text; false, with the reason, when it failed or did not answer within the bound.
    // The main context runs meanwhile.
    static bool EvaluateInPage(WebKitWebView* view, const std::string& script, std::string& result,
                               int boundMilliseconds);
    // Runs the main context until the condition holds or the bound passes.
    static bool RunUntil(const std::function<bool()>& condition, int boundMilliseconds);

    // The host's message box, as a modal dialog; the answer as the host's message box gives it.
    int RunMessageBox(int buttons, const std::string& titleUtf8, const std::string& textUtf8);
    // Runs while a message box waits for its answer, before the loop blocks: true when it did some
    // work (the host program runs its next command line, which may answer the box).
    std::function<bool()> duringModal;
    // Clicks the button of the open message box that gives the answer; false when no box is open.
    bool AnswerOpenMessageBox(int answer);
    // A balloon tip at its anchor for its time; a notice in the main window (and as a desktop
    // notification when the session has a notification service).
    // The anchor is found by its object id in the shown windows; without one the balloon stands at the
    // main window.
    void ShowBalloon(const std::string& anchorId, const std::string& textUtf8, int milliseconds);
    void ShowNotice(const std::string& titleUtf8, const std::string& contentUtf8, int milliseconds);
    // The text of the in-window notice, empty when none is shown.
    std::string GetShownNotice() const;

private:
    friend class WindowView;
    static gboolean SyncIdle(gpointer data);
    void RetireWindow(CWnd* window);

    std::map<CWnd*, std::unique_ptr<WindowView>> windows_;
    std::set<ControlView*> browsers_;
    // Views whose windows went away while their own signal handler may still be running.
    std::vector<std::unique_ptr<WindowView>> retired_;
    guint syncSource_ = 0;
    bool syncing_ = false;
    std::string mainTitle_;
    int pagesStarted_ = 0;
    int pagesFinished_ = 0;
    int linksActivated_ = 0;
    GtkWidget* openBox_ = nullptr;
    GtkWidget* noticeBar_ = nullptr;
    GtkWidget* noticeLabel_ = nullptr;
    guint noticeTimer_ = 0;
    GApplication* notifications_ = nullptr;
    bool notificationsTried_ = false;
};

// The browser view's web view (null for any other view).
WebKitWebView* WebViewOf(ControlView* view);
// Whether a browser view has finished loading the last page the model asked for (true for any
// other view).
bool PageSettled(ControlView* view);

} // namespace tavi::runtime::gtk
