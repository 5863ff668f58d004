// Windows of the skin user interface. CSkinWnd is a window with an embedded skin object: the skin
// object stands in a skin tree (or is the root of the window's own tree) and the window follows
// it. CSkinForm is a top-level window built from a build node, with icons, default buttons and a tab
// order. CSkinWndManager keeps the forms of the process and the host's main form.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/skin_object.h"
#include "host/wnd.h"

namespace tavi {

class CDockFormEx;

class CSkinWnd : public CWnd {
public:
    CSkinWnd();
    ~CSkinWnd() override;

    // Creates the window. A top-level window (without WS_CHILD) is then built from the build node
    // named by its object id (or, without one, by the class name), with OnBuildControlAfter called
    // there; a missing node or a failed build destroys the window again and gives 0. A child window
    // is not built here: its owner builds the embedded object.
    int Create(unsigned style, const std::string& className, const std::string& title, void* parent, int id);

    CSkinObject* GetSkinObject();
    const CSkinObject* GetSkinObject() const;
    // The window whose embedded object this is, or null.
    static CSkinWnd* FromSkinObject(CSkinObject* object);
    void SetObjectID(const std::string& id);
    const std::string& GetObjectID() const;
    int BuildFromXML(const SkinBuildNode* node);
    void RePositionSubControls();
    void Refresh();

    // Deletes the window object (destroying the window). The embedded object's Release comes here.
    virtual void Release();
    // The embedded object's build and skin operations; a window overrides these.
    virtual int OnBuildControlBefore();
    virtual int OnBuildControlAfter();
    // The base behaviour applies the skin's style to the embedded object.
    virtual void OnSetSkinData();
    // Reapplies the skin to the window's tree, re-places it and repaints.
    virtual void OnSkinChanged();

    // Icons by resource id: big non-zero for the large icon, 0 for the small one.
    void SetIcon(int resourceId, int big);
    int GetIcon(int big) const { return big ? bigIcon_ : smallIcon_; }

protected:
    void OnShowWindow(bool show) override;
    void OnEnable(bool enabled) override;
    void OnTextChanged() override;
    // A top-level window's tree fills its window.
    void OnMoved() override;

private:
    class SkinPart;
    friend class SkinPart;
    std::unique_ptr<SkinPart> skin_;
    int bigIcon_ = 0;
    int smallIcon_ = 0;
};

class CSkinForm : public CSkinWnd {
public:
    CSkinForm();
    ~CSkinForm() override;

    // The buttons that Enter and Escape click.
    void SetDefaultOkButton(CSkinObject* button);
    void SetDefaultCancelButton(CSkinObject* button);
    CSkinObject* GetDefaultOkButton() const;
    CSkinObject* GetDefaultCancelButton() const;
    // Appends a control to the order in which Tab moves the focus (an edit by its window or its
    // skin object).
    void AddTABOrder(CSkinObject* control);
    void AddTABOrder(CSkinWnd* control);
    std::vector<CSkinObject*> GetTabOrder() const;
    // Moves the focus to the next (or previous) shown and enabled control of the tab order.
    bool FocusNextControl(bool backwards);
    // The control of the tab order that has the focus, or null.
    CSkinObject* GetFocusedControl() const;

    // Moves and sizes the form (screen coordinates) and re-places its controls.
    void SetFormPosition(const SkinRect& rect);
    // Shows the form above the other windows and makes it the foreground window.
    void BringToTop();

    // Asked before the form is closed by the user interface library; 0 keeps it. A form may
    // release itself here (its owner forgetting it); the library notices.
    virtual int OnQueryCloseForm();

    // Dialog keys: Tab and Shift+Tab move the focus, Enter clicks the default OK button (or the
    // focused button), Escape the default Cancel button (or closes the form).
    bool PreTranslateMessage(MSG* msg) override;

protected:
    // By default a form asks OnQueryCloseForm and is destroyed when it agrees.
    void OnClose() override;

private:
    struct Weak {
        CSkinObject* object = nullptr;
        std::weak_ptr<void> life;
        CSkinObject* Get() const { return life.expired() ? nullptr : object; }
    };
    Weak okButton_;
    Weak cancelButton_;
    std::vector<Weak> tabOrder_;
    Weak focused_;
    bool shiftDown_ = false;
};

class CSkinWndManager {
public:
    static CSkinWndManager* GetInstance();

    // The host's main form, or null.
    CDockFormEx* GetMainForm() const { return mainForm_; }
    void SetMainForm(CDockFormEx* form) { mainForm_ = form; }
    // Forms that exist (as objects), in order of construction; FindForm by object id, live windows
    // first.
    std::vector<CSkinForm*> GetForms() const { return forms_; }
    CSkinForm* FindForm(const std::string& objectId) const;
    bool IsForm(const CSkinForm* form) const;
    // Asks every form but the main form whether it may close; each that agrees is destroyed and
    // released. Returns how many were closed. The host does this before it unloads the plug-ins.
    int QueryCloseForms();

    void AddForm(CSkinForm* form);
    void RemoveForm(CSkinForm* form);

private:
    std::vector<CSkinForm*> forms_;
    CDockFormEx* mainForm_ = nullptr;
};

} // namespace tavi
