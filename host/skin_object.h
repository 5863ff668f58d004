// The base of every object of the host's skin user interface: a node of the control tree with an
// object id, a kind, a text, bounds and visibility, built from the skin build files.
#pragma once

#include <string>
#include <vector>

namespace tavi {

struct SkinRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class CSkinObject {
public:
    CSkinObject();
    virtual ~CSkinObject();
    CSkinObject(const CSkinObject&) = delete;
    CSkinObject& operator=(const CSkinObject&) = delete;

    virtual void Release();
    virtual void SetVisible(bool visible);
    virtual void SetEnabled(bool enabled);
    virtual void SetFocused(bool focused);
    virtual void SetHitTransparent(bool transparent);
    virtual bool IsValid();
    virtual bool IsSelfRender();
    virtual bool IsCursorInBounds();
    virtual void CalculateBounds();
    virtual void RePositionSubControls();
    virtual int OnBuildControlBefore();
    virtual int OnBuildControlAfter();
    virtual void OnSetSkinData();
    virtual SkinRect GetSkinConfig();
    virtual void ReadAssData();
    virtual void Render();
    virtual void RenderSelf();
    virtual void Refresh();
    virtual void MoveSelfWindow();
    virtual int OnMouseMessage(unsigned message, long wparam, long lparam);
    virtual int OnKeyMessage(unsigned message, long wparam, long lparam);
    virtual int DispatchMouseMessage(unsigned message, long wparam, long lparam);

    const std::string& GetObjectId() const { return objectId_; }
    void SetObjectId(const std::string& id) { objectId_ = id; }
    const std::string& GetKind() const { return kind_; }
    void SetKind(const std::string& kind) { kind_ = kind; }
    const std::string& GetText() const { return text_; }
    void SetTextValue(const std::string& text) { text_ = text; }
    bool IsVisible() const { return visible_; }
    bool IsEnabled() const { return enabled_; }
    bool IsFocused() const { return focused_; }
    const SkinRect& GetBounds() const { return bounds_; }
    void SetBounds(const SkinRect& bounds) { bounds_ = bounds; }

    CSkinObject* GetParent() const { return parent_; }
    const std::vector<CSkinObject*>& GetChildren() const { return children_; }
    // Adds a child to this node; the child is released with its parent unless unregistered first.
    void RegisterControl(CSkinObject* child);
    void UnRegisterControl(CSkinObject* child);
    // Depth-first search of the subtree below this node by object id.
    CSkinObject* FindControlRecusive(const std::string& objectId);

protected:
    // Skin-object strings the host uses to find the object's build node and class.
    std::string skinClass_;
    std::string skinPath_;
    int hostValue_ = 0;

private:
    std::string objectId_;
    std::string kind_;
    std::string text_;
    SkinRect bounds_;
    bool visible_ = true;
    bool enabled_ = true;
    bool focused_ = false;
    bool hitTransparent_ = false;
    CSkinObject* parent_ = nullptr;
    std::vector<CSkinObject*> children_;
};

} // namespace tavi
