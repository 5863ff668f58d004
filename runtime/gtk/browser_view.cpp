// The view of the browser control: a WebKitWebView showing the page the model navigated to. File
// access from file URLs is allowed so that WebKit applies the page's XSL stylesheet. The page may
// not navigate the view: every link a person activates is handed to the model, which reports it
// through the link sink and then raises NewWindow2 with the cancel flag, as for a click in the
// headless control; only the model's own navigations load anything.
#include <webkit/webkit.h>

#include <string>

#include "host/web_browser.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/gtk_skin_view.h"

namespace tavi::runtime::gtk {
namespace {

std::string FileUri(const std::string& path) {
    gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : "";
    g_free(uri);
    return out;
}

// Moves the focus STEP statuses on from the focused one (from the top or the bottom when none is).
constexpr const char* kMoveScript = R"js((function (step) {
    const all = Array.from(document.querySelectorAll('.status'));
    if (all.length === 0) return 0;
    const focused = document.activeElement && document.activeElement.closest
        ? document.activeElement.closest('.status') : null;
    let next = focused ? all.indexOf(focused) + step : (step > 0 ? 0 : all.length - 1);
    next = Math.max(0, Math.min(all.length - 1, next));
    if (!all[next].hasAttribute('tabindex')) all[next].tabIndex = -1;
    all[next].focus({preventScroll: true});
    all[next].scrollIntoView({block: 'nearest'});
    return next + 1;
}))js";

class BrowserView : public ControlView {
public:
    // A document to a screen reader (the role is fixed when the widget is made).
    BrowserView(GtkSkinView& view, CSkinObject* object)
        : ControlView(view, object,
                      GTK_WIDGET(g_object_new(WEBKIT_TYPE_WEB_VIEW, "accessible-role", GTK_ACCESSIBLE_ROLE_DOCUMENT,
                                              nullptr))) {
        WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(widget_));
        webkit_settings_set_allow_file_access_from_file_urls(settings, TRUE);
        // Scripts in the page's markup never run; the host still evaluates its own (keyboard moves).
        webkit_settings_set_enable_javascript_markup(settings, FALSE);
        webkit_settings_set_javascript_can_open_windows_automatically(settings, FALSE);
        webkit_settings_set_enable_html5_local_storage(settings, FALSE);
        webkit_settings_set_enable_html5_database(settings, FALSE);
        webkit_settings_set_enable_page_cache(settings, FALSE);
        webkit_settings_set_enable_developer_extras(settings, FALSE);
        g_signal_connect(widget_, "decide-policy", G_CALLBACK(DecidePolicy), this);
        g_signal_connect(widget_, "create", G_CALLBACK(Create), this);
        g_signal_connect(widget_, "load-changed", G_CALLBACK(LoadChanged), this);
        GtkEventController* keys = gtk_event_controller_key_new();
        gtk_event_controller_set_propagation_phase(keys, GTK_PHASE_CAPTURE);
        g_signal_connect(keys, "key-pressed", G_CALLBACK(KeyPressed), this);
        gtk_widget_add_controller(widget_, keys);
        gtk_widget_add_css_class(widget_, "skin-browser");
        // The engine's own start and finish of a load are the control's DownloadBegin and
        // DocumentComplete.
        if (CSkinWebBrowser* browser = Browser())
            browser->SetLoadEventsFromView(true);
        view_.AddBrowser(this);
    }

    ~BrowserView() override {
        view_.RemoveBrowser(this);
        if (CSkinWebBrowser* browser = Browser())
            browser->SetLoadEventsFromView(false);
    }

    void Update() override {
        CSkinWebBrowser* browser = Browser();
        if (browser == nullptr)
            return;
        // The model navigates (and rewrites a page in place before navigating to it again): each of
        // its navigations loads the page anew.
        int count = browser->GetNavigationCount();
        if (count == shownCount_ || browser->GetLocationURL().empty())
            return;
        shownCount_ = count;
        uri_ = FileUri(browser->GetLocationURL());
        view_.OnPageLoadStarted(this);
        finished_ = false;
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(widget_), uri_.c_str());
    }

    // A late end of a load the last one replaced may arrive first: the view still loads then.
    bool Settled() const { return finished_ && !webkit_web_view_is_loading(WebView()); }

    WebKitWebView* WebView() const { return WEBKIT_WEB_VIEW(widget_); }

private:
    CSkinWebBrowser* Browser() const {
        CSkinObject* object = Object();
        return object ? dynamic_cast<CSkinWebBrowser*>(CSkinWnd::FromSkinObject(object)) : nullptr;
    }

    // A link the person activated, handed to the model as its click.
    void Activate(const std::string& url, bool newWindow) {
        view_.OnLinkActivated();
        if (CSkinWebBrowser* browser = Browser())
            browser->ActivateUrl(url, newWindow);
        InputDone();
    }

    static gboolean DecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                 gpointer data) {
        auto* self = static_cast<BrowserView*>(data);
        if (type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE) {
            webkit_policy_decision_use(decision);
            return TRUE;
        }
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        std::string url = uri ? uri : "";
        if (type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            webkit_policy_decision_ignore(decision);
            // The page's own scripts never run, so this is a person's click (or the host's).
            self->Activate(url, true);
            return TRUE;
        }
        // The model's own navigation to its page; nothing else replaces the page.
        if (url == self->uri_ && webkit_navigation_action_get_navigation_type(action) != WEBKIT_NAVIGATION_TYPE_FORM_SUBMITTED) {
            webkit_policy_decision_use(decision);
            return TRUE;
        }
        webkit_policy_decision_ignore(decision);
        if (webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED)
            self->Activate(url, false);
        return TRUE;
    }

    // A window the page's script asked for: the model decides, no view is made.
    static GtkWidget* Create(WebKitWebView*, WebKitNavigationAction* action, gpointer data) {
        auto* self = static_cast<BrowserView*>(data);
        const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
        if (uri && *uri)
            self->Activate(uri, true);
        return nullptr;
    }

    static void LoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<BrowserView*>(data);
        if (event != WEBKIT_LOAD_STARTED && event != WEBKIT_LOAD_FINISHED)
            return;
        bool finished = event == WEBKIT_LOAD_FINISHED;
        if (finished) {
            self->finished_ = true;
            self->view_.OnPageLoadFinished(self);
        }
        if (CSkinWebBrowser* browser = self->Browser())
            browser->RaiseLoadEvent(finished);
        self->InputDone();
    }

    // j and k move the keyboard focus to the next and the previous status of the page, which comes
    // into view; from there Tab reaches its links and Enter follows the focused one.
    static gboolean KeyPressed(GtkEventControllerKey*, guint keyval, guint, GdkModifierType state, gpointer data) {
        auto* self = static_cast<BrowserView*>(data);
        constexpr auto kModifiers = static_cast<GdkModifierType>(GDK_CONTROL_MASK | GDK_ALT_MASK | GDK_SUPER_MASK);
        if ((state & kModifiers) != 0 || (keyval != GDK_KEY_j && keyval != GDK_KEY_k))
            return FALSE;
        std::string script = std::string(kMoveScript) + "(" + (keyval == GDK_KEY_j ? "1" : "-1") + ")";
        webkit_web_view_evaluate_javascript(self->WebView(), script.c_str(), static_cast<gssize>(script.size()),
                                            nullptr, nullptr, nullptr, nullptr, nullptr);
        return TRUE;
    }

    int shownCount_ = -1;
    std::string uri_;
    bool finished_ = true;
};

struct Evaluation {
    bool done = false;
    bool ok = false;
    std::string result;
};

void Evaluated(GObject* source, GAsyncResult* result, gpointer data) {
    auto* evaluation = static_cast<Evaluation*>(data);
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
    if (value != nullptr) {
        char* text = jsc_value_is_string(value) ? jsc_value_to_string(value) : jsc_value_to_json(value, 0);
        evaluation->result = text ? text : "";
        evaluation->ok = true;
        g_free(text);
        g_object_unref(value);
    } else {
        evaluation->result = error ? error->message : "the script failed";
        g_clear_error(&error);
    }
    evaluation->done = true;
}

} // namespace

bool GtkSkinView::RunUntil(const std::function<bool()>& condition, int boundMilliseconds) {
    gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(boundMilliseconds) * 1000;
    while (!condition()) {
        if (g_get_monotonic_time() >= deadline)
            return false;
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(1000);
    }
    return true;
}

bool GtkSkinView::EvaluateInPage(WebKitWebView* view, const std::string& script, std::string& result,
                                 int boundMilliseconds) {
    // The evaluation may outlive the wait: the record stays until its answer arrives.
    auto* evaluation = new Evaluation();
    GCancellable* cancel = g_cancellable_new();
    webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()), nullptr, nullptr,
                                        cancel, Evaluated, evaluation);
    bool answered = RunUntil([evaluation] { return evaluation->done; }, boundMilliseconds);
    if (!answered) {
        g_cancellable_cancel(cancel);
        RunUntil([evaluation] { return evaluation->done; }, 1000);
    }
    g_object_unref(cancel);
    if (!evaluation->done) {
        result = "the page did not answer";
        return false; // the record is left to the late answer
    }
    bool ok = answered && evaluation->ok;
    result = answered ? evaluation->result : "the page did not answer";
    delete evaluation;
    return ok;
}

std::unique_ptr<ControlView> MakeBrowserView(GtkSkinView& view, CSkinObject* object) {
    return std::make_unique<BrowserView>(view, object);
}

bool PageSettled(ControlView* view) {
    auto* browser = dynamic_cast<BrowserView*>(view);
    return browser == nullptr || browser->Settled();
}

WebKitWebView* WebViewOf(ControlView* view) {
    auto* browser = dynamic_cast<BrowserView*>(view);
    return browser ? browser->WebView() : nullptr;
}

} // namespace tavi::runtime::gtk
