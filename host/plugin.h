// The host's plug-in interface: the plug-in object the host loads, its window, the layout the host
// gives the window, and menu items.
#pragma once

#include <string>

#include "host/fast_delegate.h"
#include "host/marshal.h"
#include "host/skin_object.h"

namespace tavi {

class IPluginWindow;
class CSkinTreeItem;
class CExtraEditor;

// A menu item the plug-in gives the host; the host owns it and runs its delegate when chosen.
class IMenu {
public:
    using Delegate = FastDelegate1<IMenu*>;
    IMenu(std::string text, unsigned id, int a, int b, Delegate delegate, const char* icon)
        : text_(std::move(text)), id_(id), a_(a), b_(b), delegate_(delegate), icon_(icon ? icon : "") {}
    virtual ~IMenu() = default;
    virtual void Release() { delete this; }
    virtual void Choose() { delegate_(this); }

    unsigned GetID() const { return id_; }
    const std::string& GetText() const { return text_; }
    const std::string& GetIcon() const { return icon_; }
    int GetFirstValue() const { return a_; }
    int GetSecondValue() const { return b_; }
    // What choosing the item runs; a host may give it to an item of its own.
    const Delegate& GetDelegate() const { return delegate_; }

private:
    std::string text_;
    unsigned id_;
    int a_;
    int b_;
    Delegate delegate_;
    std::string icon_;
};

// Implemented by the host: where a plug-in window lives in the host's layout.
class IPluginWindowLayout {
public:
    IPluginWindowLayout() = default;
    IPluginWindowLayout(const IPluginWindowLayout&) {}
    IPluginWindowLayout& operator=(const IPluginWindowLayout&) { return *this; }
    virtual ~IPluginWindowLayout() = default;
    virtual void ActivateWindow(IPluginWindow* window) = 0;
    virtual void DeactivateWindow(IPluginWindow* window) = 0;
    virtual bool IsWindowActive(IPluginWindow* window) = 0;
    virtual void SetWindowTitle(IPluginWindow* window, const std::string& title) = 0;
    virtual void GetClientRect(SkinRect& rect) = 0;
    virtual void* GetHostWindow() = 0;
};

// Tells the host's main form that a plug-in window goes away, so that its plug-in container lets go
// of it while it is still whole.
void NotifyPluginWindowGone(IPluginWindow* window);

// The skin object the host places in its layout to show a plug-in. The host gives it the main
// form's window as parent; it is the root of the plug-in's skin tree.
class IPluginWindow : public CSkinObject {
public:
    IPluginWindow(void* parent, IPluginWindowLayout* layout) : parent_(parent), layout_(layout) {
        skinClass_ = "pluginwnd";
    }
    // Out of line, in the host's UI library: a visible window first tells the main form's plug-in
    // container (NotifyPluginWindowGone).
    ~IPluginWindow() override;

    virtual void ShowPluginWindow(int visible) = 0;
    virtual void BuildPluginWindow() = 0;
    virtual void DestroyPluginWindow() = 0;
    virtual void SetLayout(IPluginWindowLayout* layout) { layout_ = layout; }
    virtual int QueryPluginWindowState() = 0;

    const std::string& GetLayoutName() const { return layoutName_; }
    const std::string& GetTipText() const { return tipText_; }
    IPluginWindowLayout* GetLayout() const { return layout_; }
    void* GetParentWindow() const { return parent_; }
    unsigned GetPluginIdValue() const { return pluginId_; }

protected:
    std::string layoutName_;
    std::string tipText_;
    void* parent_;
    IPluginWindowLayout* layout_;
    unsigned pluginId_ = 100000;
};

// The plug-in object the host takes from GetTaviPluginInstance. The host reads the fields directly.
class IPlugin {
public:
    IPlugin() = default;
    virtual ~IPlugin() = default;

    virtual int IsLoaded() { return loaded; }
    virtual int OnLoad(void* /*parent*/, IPluginWindowLayout* /*layout*/) {
        loaded = 1;
        return 1;
    }
    virtual int OnUnLoad() {
        loaded = 0;
        field13 = 0;
        return 1;
    }
    virtual int OnRemove() { return 1; }
    virtual int QueryPluginReady() = 0;
    virtual int QueryPluginActive() = 0;
    virtual int OpenSettings() = 0;
    virtual IMenu* GetPluginMenu() = 0;
    virtual IMenu* OnQueryWorkMenu() { return nullptr; }
    virtual void* OnQueryMainListSearchResult() { return nullptr; }
    virtual IMenu* OnQueryFunMenu() { return nullptr; }
    virtual void OnDoWorkMenu() {}
    virtual void OnDoFunMenu() {}
    virtual void OnSignatureFun(const std::string& /*text*/, const Property& /*data*/) {}
    virtual std::string GetStateSignIconPath(const std::string& /*state*/) { return std::string(); }
    virtual void OnListItemExtFun(const std::string& /*text*/) {}
    virtual bool IsCanReceiveMsg(int /*kind*/) { return false; }
    virtual bool BuildMsgLogTreeNode(CSkinTreeItem* /*item*/) { return false; }
    virtual void OnEditorPluginLink(CExtraEditor* /*editor*/, unsigned /*id*/, const Property& /*data*/) {}
    virtual int GetPluginMenuType() { return 0; }
    virtual void OnPacket(const Property& /*packet*/) {}
    virtual void OnLocalNotify(const Property& /*data*/) {}
    virtual void EnableUnInstall(int /*enable*/) {}
    virtual void ResetSkinFile() {}
    virtual int QueryUnInstallEnabled(std::string& /*reason*/) { return 1; }

    std::string name;
    std::string vendor;
    std::string description;
    std::string version;
    int field5 = 0;
    int field6 = 0;
    int pluginId = 0;
    char identityKey[128] = {};
    int field9 = 0;
    std::string field10;
    int field11 = 0;
    int loaded = 0;
    int field13 = 0;
    std::string skinFilePath;
    std::string skinBuildFilePath;
    std::string stringTableFilePath;
    std::string iconFilePath;
};

} // namespace tavi

// The plug-in library's exports, looked up by the host with dlsym.
extern "C" {
using GetTaviPluginInstanceFn = tavi::IPlugin* (*)();
using MyPreTranslateMessageFn = int (*)(void* message);
}
