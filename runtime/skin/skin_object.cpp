#include <algorithm>

#include "host/skin_object.h"

namespace tavi {

CSkinObject::CSkinObject() = default;

CSkinObject::~CSkinObject() {
    std::vector<CSkinObject*> children;
    children.swap(children_);
    for (CSkinObject* child : children) {
        child->parent_ = nullptr;
        child->Release();
    }
    if (parent_)
        parent_->UnRegisterControl(this);
}

void CSkinObject::Release() { delete this; }
void CSkinObject::SetVisible(bool visible) { visible_ = visible; }
void CSkinObject::SetEnabled(bool enabled) { enabled_ = enabled; }
void CSkinObject::SetFocused(bool focused) { focused_ = focused; }
void CSkinObject::SetHitTransparent(bool transparent) { hitTransparent_ = transparent; }
bool CSkinObject::IsValid() { return true; }
bool CSkinObject::IsSelfRender() { return false; }
bool CSkinObject::IsCursorInBounds() { return false; }
void CSkinObject::CalculateBounds() {}
void CSkinObject::RePositionSubControls() {
    for (CSkinObject* child : children_)
        child->CalculateBounds();
}
int CSkinObject::OnBuildControlBefore() { return 1; }
int CSkinObject::OnBuildControlAfter() { return 1; }
void CSkinObject::OnSetSkinData() {}
SkinRect CSkinObject::GetSkinConfig() { return bounds_; }
void CSkinObject::ReadAssData() {}
void CSkinObject::Render() {
    if (!visible_)
        return;
    RenderSelf();
    for (CSkinObject* child : children_)
        child->Render();
}
void CSkinObject::RenderSelf() {}
void CSkinObject::Refresh() {}
void CSkinObject::MoveSelfWindow() {}
int CSkinObject::OnMouseMessage(unsigned, long, long) { return 0; }
int CSkinObject::OnKeyMessage(unsigned, long, long) { return 0; }
int CSkinObject::DispatchMouseMessage(unsigned, long, long) { return 0; }

void CSkinObject::RegisterControl(CSkinObject* child) {
    if (child == nullptr || child == this)
        return;
    if (child->parent_ && child->parent_ != this)
        child->parent_->UnRegisterControl(child);
    if (std::find(children_.begin(), children_.end(), child) == children_.end())
        children_.push_back(child);
    child->parent_ = this;
}

void CSkinObject::UnRegisterControl(CSkinObject* child) {
    auto found = std::find(children_.begin(), children_.end(), child);
    if (found == children_.end())
        return;
    children_.erase(found);
    child->parent_ = nullptr;
}

CSkinObject* CSkinObject::FindControlRecusive(const std::string& objectId) {
    for (CSkinObject* child : children_) {
        if (child->objectId_ == objectId)
            return child;
        if (CSkinObject* found = child->FindControlRecusive(objectId))
            return found;
    }
    return nullptr;
}

} // namespace tavi
