// The skin object tree: registration, search, layout, events, skin data and building from a build
// node.
#include "host/skin_object.h"

#include <algorithm>

#include "host/skin_manager.h"
#include "host/skin_wnd.h"
#include "host/wnd.h"
#include "runtime/skin/skin_attributes.h"
#include "runtime/skin/skin_view.h"

namespace tavi {
namespace {

// The last point the host saw the mouse at, in the coordinates of the window under it.
int cursorX = -1;
int cursorY = -1;

int PointX(long lparam) {
    return static_cast<short>(lparam & 0xFFFF);
}
int PointY(long lparam) {
    return static_cast<short>((lparam >> 16) & 0xFFFF);
}

struct Edge {
    int low;
    int high;
};

// One axis of the layout rule of SkinBounds.
Edge PlaceAxis(int parentLow, int parentHigh, int offset, int extent, bool nearAnchor, bool farAnchor) {
    Edge edge{};
    if (nearAnchor && farAnchor) {
        edge.low = parentLow + offset;
        edge.high = parentHigh - extent;
    } else if (farAnchor) {
        edge.high = parentHigh - offset;
        edge.low = edge.high - extent;
    } else {
        edge.low = parentLow + offset;
        edge.high = edge.low + extent;
    }
    if (edge.high < edge.low)
        edge.high = edge.low;
    return edge;
}

} // namespace

CSkinObject::CSkinObject() : life_(std::make_shared<int>(0)) {}

CSkinObject::~CSkinObject() {
    life_.reset();
    std::vector<CSkinObject*> children;
    children.swap(children_);
    for (CSkinObject* child : children) {
        child->parent_ = nullptr;
        child->Release();
    }
    if (parent_)
        parent_->UnRegisterControl(this);
}

void CSkinObject::Release() {
    delete this;
}
void CSkinObject::SetVisible(bool visible) {
    visible_ = visible;
}
void CSkinObject::SetEnabled(bool enabled) {
    enabled_ = enabled;
}
void CSkinObject::SetFocused(bool focused) {
    focused_ = focused;
}
void CSkinObject::SetHitTransparent(bool transparent) {
    hitTransparent_ = transparent;
}
bool CSkinObject::IsValid() {
    return life_ != nullptr;
}
bool CSkinObject::IsSelfRender() {
    return false;
}
bool CSkinObject::IsCursorInBounds() {
    return IsShown() && rect_.Contains(cursorX, cursorY);
}

void CSkinObject::CalculateBounds() {
    if (parent_ == nullptr)
        return;
    const SkinRect& outer = parent_->rect_;
    Edge x = PlaceAxis(outer.left, outer.right, bounds_.x, bounds_.width, (anchorStyle_ & kAnchorLeft) != 0,
                       (anchorStyle_ & kAnchorRight) != 0);
    Edge y = PlaceAxis(outer.top, outer.bottom, bounds_.y, bounds_.height, (anchorStyle_ & kAnchorTop) != 0,
                       (anchorStyle_ & kAnchorBottom) != 0);
    rect_ = SkinRect{x.low, y.low, x.high, y.high};
    MoveSelfWindow();
}

void CSkinObject::RePositionSubControls() {
    // Copied: a window that moves may change nothing in the tree, but a view may.
    std::vector<CSkinObject*> children = children_;
    for (CSkinObject* child : children) {
        child->CalculateBounds();
        child->RePositionSubControls();
    }
}

int CSkinObject::OnBuildControlBefore() {
    return 1;
}
int CSkinObject::OnBuildControlAfter() {
    return 1;
}
void CSkinObject::OnSetSkinData() {}
SkinBounds CSkinObject::GetSkinConfig() {
    return bounds_;
}
void CSkinObject::ReadAssData() {}

void CSkinObject::Render() {
    if (!visible_)
        return;
    RenderSelf();
    for (CSkinObject* child : children_)
        child->Render();
}

void CSkinObject::RenderSelf() {}

void CSkinObject::Refresh() {
    ++refreshCount_;
    if (runtime::ISkinView* view = runtime::GetSkinView())
        view->OnInvalidate(this);
}

void CSkinObject::MoveSelfWindow() {}

int CSkinObject::OnMouseMessage(unsigned message, long /*wparam*/, long lparam) {
    cursorX = PointX(lparam);
    cursorY = PointY(lparam);
    if (message == WM_LBUTTONDOWN) {
        pressed_ = true;
        return 1;
    }
    if (message == WM_LBUTTONUP) {
        bool wasPressed = pressed_;
        pressed_ = false;
        if (wasPressed)
            PerformClick();
        return 1;
    }
    return 0;
}

int CSkinObject::OnKeyMessage(unsigned, long, long) {
    return 0;
}

int CSkinObject::DispatchMouseMessage(unsigned message, long wparam, long lparam) {
    cursorX = PointX(lparam);
    cursorY = PointY(lparam);
    if (!visible_ || !rect_.Contains(cursorX, cursorY))
        return 0;
    // The last child drawn lies on top.
    std::vector<CSkinObject*> children = children_;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        CSkinObject* child = *it;
        if (child->hitTransparent_)
            continue;
        if (child->DispatchMouseMessage(message, wparam, lparam))
            return 1;
    }
    if (hitTransparent_)
        return 0;
    return OnMouseMessage(message, wparam, lparam);
}

void CSkinObject::OnClickSelf() {}
void CSkinObject::OnSkinChanged() {}

bool CSkinObject::ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) {
    runtime::SkinAttributes attributes(node);
    if (const std::string* id = node.FindAttribute("id"))
        objectId_ = *id;
    std::string text;
    if (attributes.Text("text", "textid", text))
        text_ = text;
    if (attributes.Text("tip", "tipid", text))
        tip_ = text;
    SkinBounds bounds = bounds_;
    if (!attributes.Bounds("bounds", bounds, error))
        return false;
    bounds_ = bounds;
    if (!attributes.Integer("anchor", anchorStyle_, error) || !attributes.Flag("visible", visible_, error) ||
        !attributes.Flag("enabled", enabled_, error) ||
        !attributes.Flag("transparent", hitTransparent_, error))
        return false;
    if (const std::string* path = node.FindAttribute("skinpath"))
        skinPath_ = *path;
    return true;
}

void CSkinObject::SetText(const std::string& text, int flag) {
    text_ = text;
    if (flag & 1)
        Refresh();
}

bool CSkinObject::IsShown() const {
    for (const CSkinObject* object = this; object; object = object->parent_)
        if (!object->visible_)
            return false;
    return true;
}

bool CSkinObject::IsEnabledInTree() const {
    for (const CSkinObject* object = this; object; object = object->parent_)
        if (!object->enabled_)
            return false;
    return true;
}

void CSkinObject::RegisterControl(CSkinObject* child) {
    if (child == nullptr || child == this)
        return;
    // A child may not become its own ancestor.
    for (CSkinObject* up = parent_; up; up = up->parent_)
        if (up == child)
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
    // Iterative, so a deep tree cannot exhaust the stack.
    std::vector<CSkinObject*> pending(children_.rbegin(), children_.rend());
    while (!pending.empty()) {
        CSkinObject* object = pending.back();
        pending.pop_back();
        if (object->objectId_ == objectId)
            return object;
        pending.insert(pending.end(), object->children_.rbegin(), object->children_.rend());
    }
    return nullptr;
}

std::vector<CSkinObject*> CSkinObject::FindAllControls(const std::string& objectId) {
    std::vector<CSkinObject*> found;
    std::vector<CSkinObject*> pending(children_.rbegin(), children_.rend());
    while (!pending.empty()) {
        CSkinObject* object = pending.back();
        pending.pop_back();
        if (object->objectId_ == objectId)
            found.push_back(object);
        pending.insert(pending.end(), object->children_.rbegin(), object->children_.rend());
    }
    return found;
}

CSkinWnd* CSkinObject::GetOwnerWnd() const {
    for (const CSkinObject* object = this; object; object = object->parent_)
        if (object->hostWnd_)
            return object->hostWnd_;
    return nullptr;
}

CSkinForm* CSkinObject::GetOwnerForm() const {
    for (const CSkinObject* object = this; object; object = object->parent_)
        if (auto* form = dynamic_cast<CSkinForm*>(object->hostWnd_))
            return form;
    return nullptr;
}

void CSkinObject::ReleaseBuiltChildren() {
    std::vector<CSkinObject*> built;
    for (CSkinObject* child : children_)
        if (child->builtFromSkin_)
            built.push_back(child);
    for (CSkinObject* child : built) {
        UnRegisterControl(child);
        child->Release();
    }
}

int CSkinObject::BuildFromXML(const SkinBuildNode* node) {
    CSkinManager* manager = CSkinManager::GetInstance();
    std::string owner = objectId_.empty() ? std::string("the object") : objectId_;
    if (node == nullptr) {
        manager->SetLastError("no build node for " + owner);
        return 0;
    }
    if (!OnBuildControlBefore()) {
        manager->SetLastError(owner + " refused its build (OnBuildControlBefore)");
        return 0;
    }
    ReleaseBuiltChildren();
    std::string error;
    // The node's own attributes describe this object; its object id stays the one the code gave.
    std::string id = objectId_;
    bool applied = ApplyBuildAttributes(*node, error);
    objectId_ = id;
    if (!applied) {
        manager->SetLastError(node->GetName() + ": " + error);
        return 0;
    }
    LoadSkinData();
    for (const SkinBuildNode& child : node->children) {
        if (!BuildChild(child, this, error)) {
            manager->SetLastError(node->GetName() + ": " + error);
            return 0;
        }
    }
    if (!OnBuildControlAfter()) {
        manager->SetLastError(owner + " refused its build (OnBuildControlAfter)");
        return 0;
    }
    return 1;
}

void CSkinObject::LoadSkinData() {
    skinData_ = CSkinManager::GetInstance()->GetStyle(skinClass_, skinPath_, objectId_);
}

void CSkinObject::ResetSkinData() {
    std::vector<CSkinObject*> pending{this};
    std::vector<std::weak_ptr<void>> order;
    std::vector<CSkinObject*> objects;
    while (!pending.empty()) {
        CSkinObject* object = pending.back();
        pending.pop_back();
        objects.push_back(object);
        order.push_back(object->life_);
        pending.insert(pending.end(), object->children_.rbegin(), object->children_.rend());
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (order[i].expired())
            continue;
        objects[i]->LoadSkinData();
        objects[i]->OnSetSkinData();
    }
}

void CSkinObject::DispathSkinChangeMsg() {
    std::weak_ptr<void> self = life_;
    std::vector<CSkinObject*> pending{this};
    std::vector<std::pair<CSkinObject*, std::weak_ptr<void>>> objects;
    while (!pending.empty()) {
        CSkinObject* object = pending.back();
        pending.pop_back();
        objects.emplace_back(object, object->life_);
        pending.insert(pending.end(), object->children_.rbegin(), object->children_.rend());
    }
    for (auto& [object, life] : objects)
        if (!life.expired())
            object->OnSkinChanged();
    if (self.expired())
        return;
    RePositionSubControls();
    Refresh();
}

std::string CSkinObject::GetSkinValue(const std::string& key) const {
    for (const auto& [name, value] : skinData_)
        if (name == key)
            return value;
    return std::string();
}

void CSkinObject::ListenEvent(int event, const SkinEventHandler& handler) {
    if (handler.IsEmpty())
        return;
    for (const auto& [listened, existing] : listeners_)
        if (listened == event && existing == handler)
            return;
    listeners_.emplace_back(event, handler);
}

void CSkinObject::UnListenEvent(int event, const SkinEventHandler& handler) {
    std::erase_if(listeners_, [&](const std::pair<int, SkinEventHandler>& entry) {
        return entry.first == event && entry.second == handler;
    });
}

void CSkinObject::FireEvent(int event, void* data) {
    // A handler may release objects of the tree, the sender included: every step checks that
    // what it touches is still alive.
    std::weak_ptr<void> sender = life_;
    std::vector<std::pair<CSkinObject*, std::weak_ptr<void>>> chain;
    for (CSkinObject* object = this; object; object = object->parent_)
        chain.emplace_back(object, object->life_);
    for (auto& [object, life] : chain) {
        if (life.expired() || sender.expired())
            return;
        std::vector<SkinEventHandler> handlers;
        for (const auto& [listened, handler] : object->listeners_)
            if (listened == event)
                handlers.push_back(handler);
        for (const SkinEventHandler& handler : handlers) {
            if (sender.expired())
                return;
            handler(this, data);
        }
    }
}

bool CSkinObject::PerformClick() {
    if (!IsShown() || !IsEnabledInTree())
        return false;
    std::weak_ptr<void> self = life_;
    OnClickSelf();
    if (self.expired())
        return true;
    FireEvent(kSkinEventClick, nullptr);
    return true;
}

bool CSkinObject::BuildChild(const SkinBuildNode& node, CSkinObject* parent, std::string& error) {
    CSkinManager* manager = CSkinManager::GetInstance();
    CSkinObject* child = manager->CreateControl(node.tag);
    if (child == nullptr) {
        error = "line " + std::to_string(node.line) + ": unknown control kind <" + node.tag + ">";
        return false;
    }
    child->builtFromSkin_ = true;
    parent->RegisterControl(child);
    if (!child->ApplyBuildAttributes(node, error)) {
        error = "line " + std::to_string(node.line) + ": " + error;
        return false;
    }
    child->LoadSkinData();
    for (const SkinBuildNode& grandchild : node.children)
        if (!BuildChild(grandchild, child, error))
            return false;
    child->OnSetSkinData();
    if (!child->OnBuildControlAfter()) {
        error = "line " + std::to_string(node.line) + ": " + child->GetObjectID() + " refused its build";
        return false;
    }
    return true;
}

} // namespace tavi
