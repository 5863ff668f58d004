// A widget that mirrors one skin object: made for the object's kind, placed at the rectangle the
// model computes, updated from the model on every sync, and turning a person's input into the
// model's own events (a click is event 1 through PerformClick, typing goes through the host's
// key messages). The widget never decides what its input means.
#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "host/skin_object.h"

namespace tavi::runtime::gtk {

class GtkSkinView;

class ControlView {
public:
    ControlView(GtkSkinView& view, CSkinObject* object, GtkWidget* widget);
    virtual ~ControlView();
    ControlView(const ControlView&) = delete;
    ControlView& operator=(const ControlView&) = delete;

    // The object, or null once it is gone.
    CSkinObject* Object() const { return life_.expired() ? nullptr : object_; }
    GtkWidget* Widget() const { return widget_; }
    // Model to widget: the kind's own state (text, colours, check mark). The common state (shown,
    // enabled, tip, place) is the window's to set. Runs while input from the widgets is ignored.
    virtual void Update() {}
    // The widget that takes the keyboard focus for the object.
    virtual GtkWidget* FocusWidget() const { return widget_; }
    // Replaces the widget's text as a person's typing does (an edit's view); false for other views.
    virtual bool TypeText(const std::string& /*utf8*/) { return false; }

    // Gives the widget that takes the focus its accessible name (a screen reader's name for the
    // control); only a change reaches the accessibility tree, as the views update on every sync.
    // Empty takes the name away.
    void SetAccessibleName(const std::string& utf8);

    // Whether widget signals are the model's own updates rather than a person's input.
    static bool Syncing();

protected:
    friend class SyncScope;
    // After input reached the model: the view catches up with whatever the model did.
    void InputDone();

    GtkSkinView& view_;
    CSkinObject* object_;
    std::weak_ptr<void> life_;
    GtkWidget* widget_;

private:
    std::string accessibleName_;
};

// While alive, widget signals are updates from the model.
class SyncScope {
public:
    SyncScope();
    ~SyncScope();
    SyncScope(const SyncScope&) = delete;
    SyncScope& operator=(const SyncScope&) = delete;
};

// The view for the object's kind. Container kinds get a plain background area.
std::unique_ptr<ControlView> MakeControlView(GtkSkinView& view, CSkinObject* object);
// Edits and the browser control are windows of the model with their own views.
std::unique_ptr<ControlView> MakeEditView(GtkSkinView& view, CSkinObject* object);
std::unique_ptr<ControlView> MakeBrowserView(GtkSkinView& view, CSkinObject* object);

// UTF-8 of the model's narrow text.
std::string Utf8Of(const std::string& narrow);
// What a screen reader calls a control: its text, else its tip, else its object id (UTF-8).
std::string ControlName(const CSkinObject* object);

} // namespace tavi::runtime::gtk
