// Skin windows (a window with an embedded skin object), forms with their dialog keys and tab
// order, and the manager of the process's forms.
#include "host/skin_wnd.h"

#include <algorithm>

#include "host/dock_form.h"
#include "host/skin_controls.h"
#include "host/skin_manager.h"
#include "runtime/skin/skin_attributes.h"

namespace tavi {

// The embedded skin object: it stands for the window in the skin tree and hands the skin
// operations a window overrides to it.
class CSkinWnd::SkinPart : public CSkinObject {
public:
    explicit SkinPart(CSkinWnd* owner) : owner_(owner) {
        hostWnd_ = owner;
        skinClass_ = kKindWindow;
    }

    void Release() override { owner_->Release(); }
    void SetVisible(bool visible) override {
        CSkinObject::SetVisible(visible);
        bool windowShown = (owner_->GetStyle() & WS_VISIBLE) != 0;
        if (owner_->IsWindow() && visible != windowShown)
            owner_->ShowWindow(visible ? SW_SHOWNA : SW_HIDE);
    }
    void SetEnabled(bool enabled) override {
        CSkinObject::SetEnabled(enabled);
        if (owner_->IsWindow() && owner_->IsWindowEnabled() != enabled)
            owner_->EnableWindow(enabled);
    }
    int OnBuildControlBefore() override { return owner_->OnBuildControlBefore(); }
    int OnBuildControlAfter() override { return owner_->OnBuildControlAfter(); }
    void OnSetSkinData() override { owner_->OnSetSkinData(); }
    void OnSkinChanged() override { owner_->OnSkinChanged(); }
    void MoveSelfWindow() override {
        if (!owner_->IsWindow() || !owner_->IsChild())
            return;
        // The tree's rectangles are in the coordinates of its top window; a child window's in its
        // parent window's.
        SkinRect placed = GetRect();
        if (auto* parentWindow = dynamic_cast<CSkinWnd*>(owner_->GetParent())) {
            const SkinRect& origin = parentWindow->GetSkinObject()->GetRect();
            placed = SkinRect{placed.left - origin.left, placed.top - origin.top, placed.right - origin.left,
                              placed.bottom - origin.top};
        }
        moving_ = true;
        owner_->MoveWindow(placed);
        moving_ = false;
    }

    void BaseSetVisible(bool visible) { CSkinObject::SetVisible(visible); }
    void BaseSetEnabled(bool enabled) { CSkinObject::SetEnabled(enabled); }
    void BaseOnSetSkinData() { CSkinObject::OnSetSkinData(); }
    bool IsMoving() const { return moving_; }
    CSkinWnd* Owner() const { return owner_; }

private:
    CSkinWnd* owner_;
    bool moving_ = false;
};

CSkinWnd::CSkinWnd() : skin_(std::make_unique<SkinPart>(this)) {}

CSkinWnd::~CSkinWnd() {
    if (IsWindow())
        DestroyWindow();
}

int CSkinWnd::Create(unsigned style, const std::string& className, const std::string& title, void* parent,
                     int id) {
    CSkinManager* manager = CSkinManager::GetInstance();
    bool topLevel = (style & WS_CHILD) == 0;
    const SkinBuildNode* node = nullptr;
    SkinRect rect;
    std::string windowTitle = title;
    if (topLevel) {
        std::string name = GetObjectID().empty() ? className : GetObjectID();
        node = manager->GetBuildNode(name);
        if (node == nullptr) {
            manager->SetLastError("no build node " + name);
            return 0;
        }
        runtime::SkinAttributes attributes(*node);
        SkinBounds bounds;
        std::string error;
        if (!attributes.Bounds("bounds", bounds, error)) {
            manager->SetLastError(name + ": " + error);
            return 0;
        }
        rect = SkinRect{bounds.x, bounds.y, bounds.x + std::max(bounds.width, 0),
                        bounds.y + std::max(bounds.height, 0)};
        if (windowTitle.empty())
            attributes.Text("text", "textid", windowTitle);
    }
    if (!CreateEx(style & ~WS_VISIBLE, className, windowTitle, rect, parent, id)) {
        manager->SetLastError("cannot create the window " + className);
        return 0;
    }
    skin_->BaseSetVisible(false);
    skin_->SetText(windowTitle, 0);
    if (topLevel)
        skin_->SetRect(SkinRect{0, 0, rect.Width(), rect.Height()});
    if (node != nullptr) {
        void* handle = GetSafeHwnd();
        int built = skin_->BuildFromXML(node);
        if (FromHandle(handle) != this)
            return 0;
        if (!built) {
            DestroyWindow();
            return 0;
        }
        skin_->RePositionSubControls();
    }
    if (style & WS_VISIBLE)
        ShowWindow(topLevel ? SW_SHOW : SW_SHOWNA);
    return 1;
}

CSkinObject* CSkinWnd::GetSkinObject() {
    return skin_.get();
}
const CSkinObject* CSkinWnd::GetSkinObject() const {
    return skin_.get();
}

CSkinWnd* CSkinWnd::FromSkinObject(CSkinObject* object) {
    auto* part = dynamic_cast<SkinPart*>(object);
    return part ? part->Owner() : nullptr;
}

void CSkinWnd::SetObjectID(const std::string& id) {
    skin_->SetObjectID(id);
}
const std::string& CSkinWnd::GetObjectID() const {
    return skin_->GetObjectID();
}
int CSkinWnd::BuildFromXML(const SkinBuildNode* node) {
    return skin_->BuildFromXML(node);
}
void CSkinWnd::RePositionSubControls() {
    skin_->RePositionSubControls();
}
void CSkinWnd::Refresh() {
    skin_->Refresh();
}
void CSkinWnd::Release() {
    delete this;
}
int CSkinWnd::OnBuildControlBefore() {
    return 1;
}
int CSkinWnd::OnBuildControlAfter() {
    return 1;
}
void CSkinWnd::OnSetSkinData() {
    skin_->BaseOnSetSkinData();
}

void CSkinWnd::OnSkinChanged() {
    std::weak_ptr<void> life = skin_->GetLifeToken();
    skin_->ResetSkinData();
    if (life.expired())
        return;
    skin_->RePositionSubControls();
    skin_->Refresh();
}

void CSkinWnd::SetIcon(int resourceId, int big) {
    if (big)
        bigIcon_ = resourceId;
    else
        smallIcon_ = resourceId;
}

void CSkinWnd::OnShowWindow(bool show) {
    skin_->BaseSetVisible(show);
}
void CSkinWnd::OnEnable(bool enabled) {
    skin_->BaseSetEnabled(enabled);
}
void CSkinWnd::OnTextChanged() {
    skin_->SetText(GetWindowText(), 0);
}

void CSkinWnd::OnMoved() {
    if (IsChild() || skin_->IsMoving())
        return;
    SkinRect rect = GetWindowRect();
    skin_->SetRect(SkinRect{0, 0, rect.Width(), rect.Height()});
    skin_->RePositionSubControls();
}

CSkinForm::CSkinForm() {
    GetSkinObject()->SetKind(kKindForm);
    CSkinWndManager::GetInstance()->AddForm(this);
}

CSkinForm::~CSkinForm() {
    CSkinWndManager::GetInstance()->RemoveForm(this);
}

void CSkinForm::SetDefaultOkButton(CSkinObject* button) {
    okButton_ = Weak{button, button ? button->GetLifeToken() : std::weak_ptr<void>()};
}

void CSkinForm::SetDefaultCancelButton(CSkinObject* button) {
    cancelButton_ = Weak{button, button ? button->GetLifeToken() : std::weak_ptr<void>()};
}

CSkinObject* CSkinForm::GetDefaultOkButton() const {
    return okButton_.Get();
}
CSkinObject* CSkinForm::GetDefaultCancelButton() const {
    return cancelButton_.Get();
}

void CSkinForm::AddTABOrder(CSkinObject* control) {
    if (control != nullptr)
        tabOrder_.push_back(Weak{control, control->GetLifeToken()});
}

void CSkinForm::AddTABOrder(CSkinWnd* control) {
    if (control != nullptr)
        AddTABOrder(control->GetSkinObject());
}

std::vector<CSkinObject*> CSkinForm::GetTabOrder() const {
    std::vector<CSkinObject*> order;
    for (const Weak& entry : tabOrder_)
        if (CSkinObject* control = entry.Get())
            order.push_back(control);
    return order;
}

CSkinObject* CSkinForm::GetFocusedControl() const {
    CWnd* focus = CWnd::GetFocus();
    if (focus == nullptr)
        return nullptr;
    for (const Weak& entry : tabOrder_) {
        CSkinObject* control = entry.Get();
        if (control && CSkinWnd::FromSkinObject(control) == focus)
            return control;
    }
    if (focus == this)
        return focused_.Get();
    return nullptr;
}

bool CSkinForm::FocusNextControl(bool backwards) {
    std::vector<CSkinObject*> order = GetTabOrder();
    if (order.empty())
        return false;
    auto eligible = [](CSkinObject* control) {
        if (!control->IsShown() || !control->IsEnabledInTree())
            return false;
        CSkinWnd* window = CSkinWnd::FromSkinObject(control);
        return window == nullptr || window->IsWindowEnabled();
    };
    CSkinObject* current = GetFocusedControl();
    auto found = std::find(order.begin(), order.end(), current);
    int n = static_cast<int>(order.size());
    int index = found == order.end() ? (backwards ? 0 : -1) : static_cast<int>(found - order.begin());
    for (int step = 1; step <= n; ++step) {
        int next = ((index + (backwards ? -step : step)) % n + n) % n;
        CSkinObject* control = order[next];
        if (!eligible(control))
            continue;
        if (CSkinObject* previous = focused_.Get())
            previous->SetFocused(false);
        focused_ = Weak{control, control->GetLifeToken()};
        CSkinWnd* window = CSkinWnd::FromSkinObject(control);
        if (window && window->IsWindow()) {
            window->SetFocus();
        } else {
            SetFocus();
            control->SetFocused(true);
        }
        return true;
    }
    return false;
}

void CSkinForm::SetFormPosition(const SkinRect& rect) {
    MoveWindow(rect);
}

void CSkinForm::BringToTop() {
    if (!IsWindow())
        return;
    if (!IsWindowVisible())
        ShowWindow(SW_SHOW);
    BringWindowToTop();
    SetForegroundWindow();
}

int CSkinForm::OnQueryCloseForm() {
    return 1;
}

void CSkinForm::OnClose() {
    CSkinWndManager* manager = CSkinWndManager::GetInstance();
    int agreed = OnQueryCloseForm();
    if (agreed && manager->IsForm(this) && IsWindow())
        DestroyWindow();
}

bool CSkinForm::PreTranslateMessage(MSG* msg) {
    if (msg == nullptr || !IsWindow())
        return false;
    CWnd* target = CWnd::FromHandle(msg->hwnd);
    if (target == nullptr || target->GetTopLevel() != this)
        return false;
    unsigned key = static_cast<unsigned>(msg->wParam);
    if (key == VK_SHIFT && (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP)) {
        shiftDown_ = msg->message == WM_KEYDOWN;
        return false;
    }
    if (msg->message == WM_KEYUP && key == VK_SPACE) {
        CSkinObject* focused = GetFocusedControl();
        if (focused && CSkinWnd::FromSkinObject(focused) == nullptr && dynamic_cast<CSkinButton*>(focused)) {
            focused->PerformClick();
            return true;
        }
        return false;
    }
    if (msg->message != WM_KEYDOWN)
        return false;
    if (key == VK_TAB) {
        FocusNextControl(shiftDown_);
        return true;
    }
    if (key == VK_RETURN) {
        auto* editWindow = dynamic_cast<CSkinWnd*>(CWnd::GetFocus());
        if (editWindow && (editWindow->GetStyle() & ES_MULTILINE) && editWindow->IsChild())
            return false;
        CSkinObject* focused = GetFocusedControl();
        if (focused && CSkinWnd::FromSkinObject(focused) == nullptr && dynamic_cast<CSkinButton*>(focused))
            return focused->PerformClick();
        if (CSkinObject* ok = okButton_.Get())
            return ok->PerformClick();
        return false;
    }
    if (key == VK_ESCAPE) {
        if (CSkinObject* cancel = cancelButton_.Get())
            cancel->PerformClick();
        else
            PostMessage(WM_CLOSE);
        return true;
    }
    return false;
}

CSkinWndManager* CSkinWndManager::GetInstance() {
    static CSkinWndManager manager;
    return &manager;
}

CSkinForm* CSkinWndManager::FindForm(const std::string& objectId) const {
    CSkinForm* withoutWindow = nullptr;
    for (CSkinForm* form : forms_) {
        if (form->GetObjectID() != objectId)
            continue;
        if (form->IsWindow())
            return form;
        if (withoutWindow == nullptr)
            withoutWindow = form;
    }
    return withoutWindow;
}

bool CSkinWndManager::IsForm(const CSkinForm* form) const {
    return std::find(forms_.begin(), forms_.end(), form) != forms_.end();
}

int CSkinWndManager::QueryCloseForms() {
    int closed = 0;
    std::vector<CSkinForm*> forms = forms_;
    for (CSkinForm* form : forms) {
        if (!IsForm(form) || form == static_cast<CSkinForm*>(mainForm_))
            continue;
        int agreed = form->OnQueryCloseForm();
        if (!IsForm(form)) {
            ++closed;
            continue;
        }
        if (!agreed)
            continue;
        if (form->IsWindow())
            form->DestroyWindow();
        if (IsForm(form))
            form->Release();
        ++closed;
    }
    return closed;
}

void CSkinWndManager::AddForm(CSkinForm* form) {
    if (form && !IsForm(form))
        forms_.push_back(form);
}

void CSkinWndManager::RemoveForm(CSkinForm* form) {
    std::erase(forms_, form);
    if (static_cast<CSkinForm*>(mainForm_) == form)
        mainForm_ = nullptr;
}

} // namespace tavi
