#include "runtime/gtk/gtk_skin_view.h"

#include "host/dock_form.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/window_view.h"

namespace tavi::runtime::gtk {

extern const char* const kViewStyle;

GtkSkinView::GtkSkinView() {
    if (GdkDisplay* display = gdk_display_get_default()) {
        GtkCssProvider* style = gtk_css_provider_new();
        gtk_css_provider_load_from_data(style, kViewStyle, -1);
        gtk_style_context_add_provider_for_display(display, GTK_STYLE_PROVIDER(style),
                                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(style);
    }
}

GtkSkinView::~GtkSkinView() {
    if (syncSource_ != 0)
        g_source_remove(syncSource_);
    if (noticeTimer_ != 0)
        g_source_remove(noticeTimer_);
    windows_.clear();
    retired_.clear();
    if (notifications_)
        g_object_unref(notifications_);
}

void GtkSkinView::OnWindowCreated(CWnd* window) {
    // Child windows (the plug-in window, edits, the browser) are drawn inside their top-level
    // window, as objects of its tree.
    auto* skinWindow = dynamic_cast<CSkinWnd*>(window);
    if (skinWindow == nullptr || window->IsChild() || windows_.count(window))
        return;
    windows_[window] = std::make_unique<WindowView>(*this, skinWindow);
    ScheduleSync();
}

void GtkSkinView::OnWindowDestroyed(CWnd* window) {
    RetireWindow(window);
    ScheduleSync();
}

void GtkSkinView::OnWindowShown(CWnd*, bool) { ScheduleSync(); }
void GtkSkinView::OnWindowMoved(CWnd*) { ScheduleSync(); }
void GtkSkinView::OnInvalidate(CSkinObject*) { ScheduleSync(); }

void GtkSkinView::RetireWindow(CWnd* window) {
    auto it = windows_.find(window);
    if (it == windows_.end())
        return;
    it->second->Detach();
    retired_.push_back(std::move(it->second));
    windows_.erase(it);
}

void GtkSkinView::ScheduleSync() {
    if (syncSource_ != 0)
        return;
    // Before the toolkit lays out and draws the next frame.
    syncSource_ = g_idle_add_full(G_PRIORITY_HIGH_IDLE, SyncIdle, this, nullptr);
}

gboolean GtkSkinView::SyncIdle(gpointer data) {
    auto* self = static_cast<GtkSkinView*>(data);
    self->syncSource_ = 0;
    self->SyncNow();
    return G_SOURCE_REMOVE;
}

void GtkSkinView::SyncNow() {
    if (syncing_)
        return;
    syncing_ = true;
    retired_.clear();
    // The main form first, so that forms find the window they belong to.
    CWnd* main = CSkinWndManager::GetInstance()->GetMainForm();
    auto found = windows_.find(main);
    if (found != windows_.end())
        found->second->Sync();
    for (auto& [window, view] : windows_)
        if (window != main)
            view->Sync();
    syncing_ = false;
}

bool GtkSkinView::WaitDrawn(int boundMilliseconds) {
    SyncNow();
    gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(boundMilliseconds) * 1000;
    // A load the model replaced by a newer one may never report its end: each view is done once
    // its last load finished.
    auto settled = [this] {
        for (ControlView* browser : browsers_)
            if (!PageSettled(browser))
                return false;
        return true;
    };
    while (!settled() && g_get_monotonic_time() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(2000);
    }
    bool finished = settled();
    // A few frames for the toolkit (and the web view's process) to draw what was loaded.
    gint64 settle = g_get_monotonic_time() + 300 * 1000;
    while (g_get_monotonic_time() < settle) {
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(5000);
    }
    SyncNow();
    return finished;
}

GtkWindow* GtkSkinView::WindowOf(CWnd* window) const {
    auto it = windows_.find(window);
    return it == windows_.end() ? nullptr : it->second->Window();
}

GtkWindow* GtkSkinView::MainWindow() const {
    return WindowOf(CSkinWndManager::GetInstance()->GetMainForm());
}

ControlView* GtkSkinView::ViewOf(CSkinObject* object) const {
    for (auto& [window, view] : windows_)
        if (ControlView* control = view->ViewOf(object))
            return control;
    return nullptr;
}

WebKitWebView* GtkSkinView::WebViewOf(CSkinObject* object) const {
    ControlView* control = ViewOf(object);
    return control ? gtk::WebViewOf(control) : nullptr;
}

void GtkSkinView::OnPageLoadStarted(ControlView*) { ++pagesStarted_; }
void GtkSkinView::OnPageLoadFinished(ControlView*) { ++pagesFinished_; }

bool GtkSkinView::SaveScreenshot(CWnd* window, const std::string& path, std::string& error) {
    SyncNow();
    GtkWindow* shown = WindowOf(window ? window->GetTopLevel() : nullptr);
    if (shown == nullptr || !gtk_widget_get_visible(GTK_WIDGET(shown)) || !gtk_widget_get_mapped(GTK_WIDGET(shown))) {
        error = "the window is not shown";
        return false;
    }
    // The window's content, under the host's title bar when it has one (the other decorations are
    // the window manager's).
    GtkWidget* widget = gtk_window_get_child(shown);
    GtkWidget* titlebar = gtk_window_get_titlebar(shown);
    if (titlebar != nullptr && !gtk_widget_get_mapped(titlebar))
        titlebar = nullptr;
    int width = gtk_widget_get_width(widget);
    int height = gtk_widget_get_height(widget);
    int barHeight = titlebar ? gtk_widget_get_height(titlebar) : 0;
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(shown));
    if (width <= 0 || height <= 0 || renderer == nullptr) {
        error = "the window has not been drawn yet";
        return false;
    }
    // The window as GTK draws it: a paintable of the window takes its image when the window draws
    // the next frame; that image, snapshot into a render node, is rendered to a texture by the
    // window's own renderer (the web view's page included).
    GdkPaintable* paintable = gtk_widget_paintable_new(widget);
    bool drawn = false;
    gulong handler = g_signal_connect(paintable, "invalidate-contents", G_CALLBACK(+[](GdkPaintable*, gpointer data) {
                                          *static_cast<bool*>(data) = true;
                                      }),
                                      &drawn);
    gtk_widget_queue_draw(widget);
    gint64 deadline = g_get_monotonic_time() + 2 * G_USEC_PER_SEC;
    while (!drawn && g_get_monotonic_time() < deadline) {
        if (!g_main_context_iteration(nullptr, FALSE))
            g_usleep(2000);
    }
    g_signal_handler_disconnect(paintable, handler);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    if (titlebar != nullptr) {
        GdkPaintable* bar = gtk_widget_paintable_new(titlebar);
        gdk_paintable_snapshot(bar, snapshot, width, barHeight);
        g_object_unref(bar);
        graphene_point_t below = GRAPHENE_POINT_INIT(0, static_cast<float>(barHeight));
        gtk_snapshot_translate(snapshot, &below);
    }
    gdk_paintable_snapshot(paintable, snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    g_object_unref(paintable);
    height += barHeight;
    if (node == nullptr) {
        error = "the window drew nothing";
        return false;
    }
    graphene_rect_t area = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &area);
    gsk_render_node_unref(node);
    bool saved = texture != nullptr && gdk_texture_save_to_png(texture, path.c_str());
    if (texture)
        g_object_unref(texture);
    if (!saved)
        error = "cannot write " + path;
    return saved;
}

} // namespace tavi::runtime::gtk
