// One top-level skin window drawn as a GtkWindow: its skin tree as widgets on a fixed layout at
// the rectangles the model computes, the window's title, size and visibility from the model, a
// person's resizing handed back to the model (which lays its tree out again), its close button and
// dialog keys (Tab, Enter, Escape) through the model's own handling.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <set>
#include <string>

#include "host/skin_wnd.h"

namespace tavi::runtime::gtk {

class ControlView;
class GtkSkinView;

class WindowView {
public:
    WindowView(GtkSkinView& view, CSkinWnd* window);
    ~WindowView();
    WindowView(const WindowView&) = delete;
    WindowView& operator=(const WindowView&) = delete;

    // Model to window: title, size, visibility, and every object of the tree.
    void Sync();
    GtkWindow* Window() const { return GTK_WINDOW(window_); }
    GtkOverlay* Overlay() const { return GTK_OVERLAY(overlay_); }
    CSkinWnd* Wnd() const { return wnd_; }
    bool IsMainForm() const;
    ControlView* ViewOf(CSkinObject* object) const;
    // The window went away in the model: the GtkWindow closes and input is no longer handed over.
    void Detach();

private:
    void SyncObject(CSkinObject* object, std::set<CSkinObject*>& seen);
    void SyncFocus();
    bool ModelAlive() const;
    static void Resized(GtkDrawingArea* area, int width, int height, gpointer data);
    static gboolean CloseRequest(GtkWindow* window, gpointer data);
    static gboolean KeyPressed(GtkEventControllerKey* controller, guint keyval, guint keycode, GdkModifierType state,
                               gpointer data);

    GtkSkinView& view_;
    CSkinWnd* wnd_;
    void* handle_;
    GtkWidget* window_;
    GtkWidget* overlay_;
    GtkWidget* sizer_;
    GtkWidget* fixed_;
    std::map<CSkinObject*, std::unique_ptr<ControlView>> controls_;
    SkinRect shownRect_;
    bool sized_ = false;
    bool configured_ = false;
    CWnd* shownFocus_ = nullptr;
    bool detached_ = false;
};

} // namespace tavi::runtime::gtk
