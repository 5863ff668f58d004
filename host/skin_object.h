// The base of every object of the host's skin user interface: a node of the control tree with an
// object id, a kind, a text, bounds with an anchor style, visibility and enabled state, built from the
// build nodes of the skin build files. The tree is a model without drawing; a windowed view draws
// the same tree, and the headless host shows it as text.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/fast_delegate.h"

namespace tavi {

class CSkinForm;
class CSkinWnd;
struct SkinBuildNode;

// A placed rectangle, in the coordinates of the window that holds the object (right and bottom
// exclusive).
struct SkinRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    bool operator==(const SkinRect& other) const = default;
};

// The four numbers of an object's bounds as the skin gives them. What they mean depends on the
// anchor style, per axis:
//   near edge only (or none): x is the offset from the parent's left edge, width the width;
//   far edge only:            x is the distance of the right edge from the parent's right edge;
//   both edges:               x is the left margin and width the right margin (the object stretches).
// The vertical axis reads y and height the same way.
struct SkinBounds {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const SkinBounds& other) const = default;
};

// Anchor style bits: the edges of the parent that the object keeps its distance to.
constexpr int kAnchorLeft = 0x02;
constexpr int kAnchorTop = 0x08;
constexpr int kAnchorRight = 0x20;
constexpr int kAnchorBottom = 0x40;
constexpr int kAnchorFill = kAnchorLeft | kAnchorTop | kAnchorRight | kAnchorBottom; // 106

// Control events. Event 1: the sender was clicked. Event 2: the content of the sender (an edit)
// changed.
constexpr int kSkinEventClick = 1;
constexpr int kSkinEventContentChanged = 2;

class CSkinObject;
// A listener receives the control that fired the event and the event's data (none for 1 and 2).
using SkinEventHandler = FastDelegate2<CSkinObject*, void*>;

// Skin object kinds (the tag of a control in a build file).
constexpr const char* kKindPanel = "panel";
constexpr const char* kKindLabel = "label";
constexpr const char* kKindLinkLabel = "linklabel";
constexpr const char* kKindButton = "button";
constexpr const char* kKindCheckBox = "checkbox";
constexpr const char* kKindEdit = "edit";
constexpr const char* kKindImage = "image";
constexpr const char* kKindToolbar = "toolbar";
constexpr const char* kKindWindow = "window";
constexpr const char* kKindForm = "form";
constexpr const char* kKindBrowser = "browser";
constexpr const char* kKindPluginContainer = "plugins";
constexpr const char* kKindPluginWindow = "pluginwnd";

class CSkinObject {
public:
    CSkinObject();
    // Releases the children that are still registered and leaves the parent.
    virtual ~CSkinObject();
    CSkinObject(const CSkinObject&) = delete;
    CSkinObject& operator=(const CSkinObject&) = delete;

    // The host's skin-object operations, in the order of its interface.
    virtual void Release();
    virtual void SetVisible(bool visible);
    virtual void SetEnabled(bool enabled);
    virtual void SetFocused(bool focused);
    virtual void SetHitTransparent(bool transparent);
    virtual bool IsValid();
    virtual bool IsSelfRender();
    // Whether the last mouse position the host saw lies inside this object.
    virtual bool IsCursorInBounds();
    // Places this object inside its parent's rectangle from its bounds and anchor style.
    virtual void CalculateBounds();
    // Places every descendant.
    virtual void RePositionSubControls();
    // Called by BuildFromXML before and after the children are made; 0 fails the build.
    virtual int OnBuildControlBefore();
    virtual int OnBuildControlAfter();
    // Called when the skin's style data have been (re)applied to this object.
    virtual void OnSetSkinData();
    // The bounds the skin gave this object.
    virtual SkinBounds GetSkinConfig();
    virtual void ReadAssData();
    // A view draws the visible tree: Render draws this object and its children, RenderSelf itself.
    virtual void Render();
    virtual void RenderSelf();
    // Asks the view to repaint this object (counted in the headless model).
    virtual void Refresh();
    // For an object that hosts a window: moves the window onto the object's rectangle.
    virtual void MoveSelfWindow();
    // Mouse messages at a point of the holding window (lparam: x in the low, y in the high 16 bits).
    virtual int OnMouseMessage(unsigned message, long wparam, long lparam);
    virtual int OnKeyMessage(unsigned message, long wparam, long lparam);
    // Finds the object under the point and hands it the message; non-zero when one took it.
    virtual int DispatchMouseMessage(unsigned message, long wparam, long lparam);

    // What a click on this object does before event 1 goes out (a check box toggles).
    virtual void OnClickSelf();
    // Called on each object of a subtree by DispathSkinChangeMsg.
    virtual void OnSkinChanged();
    // Reads this object's attributes from a build node; false when one of them is malformed.
    virtual bool ApplyBuildAttributes(const SkinBuildNode& node, std::string& error);

    // Identity.
    const std::string& GetObjectID() const { return objectId_; }
    void SetObjectID(const std::string& id) { objectId_ = id; }
    const std::string& GetObjectId() const { return objectId_; }
    void SetObjectId(const std::string& id) { objectId_ = id; }
    const std::string& GetKind() const { return skinClass_; }
    void SetKind(const std::string& kind) { skinClass_ = kind; }
    const std::string& GetSkinPath() const { return skinPath_; }

    // Caption, in the system code page. Flag 1 repaints at once; 0 leaves it to the next Refresh.
    const std::string& GetText() const { return text_; }
    void SetText(const std::string& text, int flag = 0);
    void SetTextValue(const std::string& text) { SetText(text, 0); }
    const std::string& GetTip() const { return tip_; }
    void SetTip(const std::string& tip) { tip_ = tip; }

    // State. IsShown and IsEnabledInTree also look at the ancestors.
    bool IsVisible() const { return visible_; }
    bool IsEnabled() const { return enabled_; }
    bool IsFocused() const { return focused_; }
    bool IsHitTransparent() const { return hitTransparent_; }
    bool IsShown() const;
    bool IsEnabledInTree() const;

    // Geometry.
    const SkinBounds& GetBounds() const { return bounds_; }
    void SetBounds(const SkinBounds& bounds) { bounds_ = bounds; }
    int GetAnchorStyle() const { return anchorStyle_; }
    void SetAnchorStyle(int style) { anchorStyle_ = style; }
    const SkinRect& GetRect() const { return rect_; }
    // For a root object (or a host that places it itself): its placed rectangle.
    void SetRect(const SkinRect& rect) { rect_ = rect; }

    // The tree.
    CSkinObject* GetParent() const { return parent_; }
    const std::vector<CSkinObject*>& GetChildren() const { return children_; }
    // Adds a child; the child is released with its parent unless unregistered first.
    void RegisterControl(CSkinObject* child);
    void UnRegisterControl(CSkinObject* child);
    // Depth-first search of the subtree below this object by object id.
    CSkinObject* FindControlRecusive(const std::string& objectId);
    // Every object of the subtree below this object with that id, depth first.
    std::vector<CSkinObject*> FindAllControls(const std::string& objectId);
    // The nearest window holding this object (a CSkinWnd whose embedded object is this or an
    // ancestor), and the nearest form among the windows up the tree.
    CSkinWnd* GetOwnerWnd() const;
    CSkinForm* GetOwnerForm() const;

    // Builds the children the node describes (releasing those of an earlier build), applies the
    // skin to them, then calls OnBuildControlAfter. 0 when the node is missing, a control cannot be
    // made or OnBuildControlAfter refuses; CSkinManager::GetLastError says why.
    int BuildFromXML(const SkinBuildNode* node);
    bool IsBuiltFromSkin() const { return builtFromSkin_; }

    // Skin data: the style the skin gives this object (by kind, skin path and object id).
    // ResetSkinData reapplies it to the whole subtree and calls OnSetSkinData on each object.
    void ResetSkinData();
    // Calls OnSkinChanged on every object of the subtree, then re-places and repaints it.
    void DispathSkinChangeMsg();
    std::string GetSkinValue(const std::string& key) const;
    const std::vector<std::pair<std::string, std::string>>& GetSkinData() const { return skinData_; }

    // Events. Listeners of the sender and of each of its ancestors receive an event, nearest first.
    void ListenEvent(int event, const SkinEventHandler& handler);
    void UnListenEvent(int event, const SkinEventHandler& handler);
    void FireEvent(int event, void* data = nullptr);
    // What a click does: false when the object is not shown or not enabled.
    bool PerformClick();

    // Repaint requests seen so far.
    int GetRefreshCount() const { return refreshCount_; }
    // Observes the object's life: expired once it is destroyed.
    std::weak_ptr<void> GetLifeToken() const { return life_; }

protected:
    // Fills the skin data from the skin manager without calling OnSetSkinData.
    void LoadSkinData();

    // Skin-object strings the host uses: the object's class (its kind) and its skin path.
    std::string skinClass_;
    std::string skinPath_;
    int hostValue_ = 0;
    // Set by a window that embeds this object.
    CSkinWnd* hostWnd_ = nullptr;

private:
    void ReleaseBuiltChildren();
    static bool BuildChild(const SkinBuildNode& node, CSkinObject* parent, std::string& error);

    std::string objectId_;
    std::string text_;
    std::string tip_;
    SkinBounds bounds_;
    int anchorStyle_ = 0;
    SkinRect rect_;
    bool visible_ = true;
    bool enabled_ = true;
    bool focused_ = false;
    bool hitTransparent_ = false;
    bool builtFromSkin_ = false;
    bool pressed_ = false;
    int refreshCount_ = 0;
    CSkinObject* parent_ = nullptr;
    std::vector<CSkinObject*> children_;
    std::vector<std::pair<int, SkinEventHandler>> listeners_;
    std::vector<std::pair<std::string, std::string>> skinData_;
    std::shared_ptr<int> life_;
};

} // namespace tavi
