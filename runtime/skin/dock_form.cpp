// The host's main form: docking, the toolbar's button manager and the plug-in container, built from
// the host's own build node.
#include "host/dock_form.h"

#include <algorithm>

#include "host/common.h"
#include "host/core.h"
#include "host/plugin.h"
#include "host/skin_manager.h"
#include "runtime/core/ui_loop.h"
#include "runtime/skin/skin_runtime.h"

namespace tavi {
namespace {

// The messenger's main window: its toolbar with the plug-ins' buttons, the signed-in account, and
// the place where plug-in windows show.
constexpr const char* kMainFormBuild = R"(<?xml version="1.0" encoding="UTF-8"?>
<builds>
  <build name="TaviMainForm" text="TAVI" bounds="40,40,320,640">
    <label id="LabelUserAccount" bounds="8,4,8,20" anchor="0x2A"/>
    <toolbar id="ButtonManager" bounds="0,26,0,28" anchor="0x2A">
      <button id="ToolbarContacts" text="联系人" tip="联系人"/>
      <button id="ToolbarMicroBlog" text="" tip="微博"/>
    </toolbar>
    <plugins id="PluginContainer" bounds="0,56,0,0" anchor="106"/>
  </build>
</builds>
)";

} // namespace

CSkinPluginContainer::CSkinPluginContainer() {
    skinClass_ = kKindPluginContainer;
}
CSkinPluginContainer::~CSkinPluginContainer() = default;

bool CSkinPluginContainer::Holds(const IPluginWindow* window) const {
    // A window that was destroyed has left the children already; only the pointer is compared.
    const auto& children = GetChildren();
    return window != nullptr && std::find(children.begin(), children.end(), window) != children.end();
}

std::vector<IPluginWindow*> CSkinPluginContainer::GetPluginWindows() const {
    std::vector<IPluginWindow*> placed;
    for (IPluginWindow* window : windows_)
        if (Holds(window))
            placed.push_back(window);
    return placed;
}

void CSkinPluginContainer::AddPluginWindow(IPluginWindow* window) {
    if (window == nullptr)
        return;
    std::erase_if(windows_, [this](IPluginWindow* placed) { return !Holds(placed); });
    RegisterControl(window);
    if (std::find(windows_.begin(), windows_.end(), window) == windows_.end())
        windows_.push_back(window);
    window->SetBounds(SkinBounds{0, 0, 0, 0});
    window->SetAnchorStyle(kAnchorFill);
    if (window != active_)
        window->SetVisible(false);
    window->CalculateBounds();
}

void CSkinPluginContainer::RemovePluginWindow(IPluginWindow* window) {
    if (active_ == window)
        active_ = nullptr;
    std::erase(windows_, window);
    if (Holds(window))
        UnRegisterControl(window);
}

void CSkinPluginContainer::ActivateWindow(IPluginWindow* window) {
    if (!Holds(window))
        return;
    for (IPluginWindow* other : GetPluginWindows())
        if (other != window)
            other->SetVisible(false);
    active_ = window;
    window->SetVisible(true);
    window->CalculateBounds();
    window->RePositionSubControls();
    Refresh();
}

IPluginWindow* CSkinPluginContainer::GetActiveWindow() const {
    return Holds(active_) ? active_ : nullptr;
}

void CSkinPluginContainer::OnPluginWindowGone(IPluginWindow* window) {
    if (active_ == window)
        active_ = nullptr;
    std::erase(windows_, window);
}

void NotifyPluginWindowGone(IPluginWindow* window) {
    CDockFormEx* main = CSkinWndManager::GetInstance()->GetMainForm();
    if (main == nullptr)
        return;
    if (CSkinPluginContainer* container = main->GetPluginContainer())
        container->OnPluginWindowGone(window);
}

IPluginWindow::~IPluginWindow() {
    if (IsVisible())
        NotifyPluginWindowGone(this);
}

CDockFormEx::CDockFormEx() = default;

CDockFormEx::~CDockFormEx() {
    if (floatTimer_)
        runtime::UiLoop::Instance().CancelTimer(floatTimer_);
}

int CDockFormEx::Dock(int side, void* /*after*/, void* /*reserved*/, int margin) {
    if (!IsWindow() || side < kSideNone || side > kSideTop)
        return 0;
    if (side == kSideNone) {
        dockFlags_ &= ~kDockedAtEdge;
        dockSide_ = kSideNone;
        return 1;
    }
    SkinRect rect = GetWindowRect();
    int width = rect.Width();
    int height = rect.Height();
    int left = rect.left;
    int top = rect.top;
    if (side == kSideLeft) {
        left = margin;
    } else if (side == kSideRight) {
        left = kScreenWidth - width - margin;
    } else {
        top = margin;
    }
    dockFlags_ |= kDockedAtEdge;
    dockSide_ = side;
    dockMargin_ = margin;
    MoveWindow(SkinRect{left, top, left + width, top + height});
    return 1;
}

void CDockFormEx::FloatingSomeTime(int seconds) {
    if (!IsWindow() || !(dockFlags_ & kAutoHide))
        return;
    auto& loop = runtime::UiLoop::Instance();
    if (floatTimer_)
        loop.CancelTimer(floatTimer_);
    floatTimer_ = 0;
    floating_ = seconds > 0;
    if (!floating_)
        return;
    floatTimer_ = loop.AddTimer(static_cast<std::int64_t>(seconds) * 1000, [this] {
        floatTimer_ = 0;
        floating_ = false;
    });
}

CSkinButtonManager* CDockFormEx::GetButtonManager() {
    return dynamic_cast<CSkinButtonManager*>(GetSkinObject()->FindControlRecusive(kButtonManagerId));
}

CSkinPluginContainer* CDockFormEx::GetPluginContainer() {
    return dynamic_cast<CSkinPluginContainer*>(GetSkinObject()->FindControlRecusive(kPluginContainerId));
}

namespace runtime {

CDockFormEx* CreateHostMainForm() {
    CSkinManager* manager = CSkinManager::GetInstance();
    if (manager->GetBuildNode(kMainFormId) == nullptr && !manager->IncludeSkinBuildText(kMainFormBuild, "./"))
        return nullptr;
    auto* form = new CDockFormEx();
    form->SetObjectID(kMainFormId);
    if (!form->Create(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX, kMainFormId, "",
                      nullptr, 0)) {
        form->Release();
        return nullptr;
    }
    if (ITavi* core = Core_GetITavi())
        if (CSkinObject* account = form->GetSkinObject()->FindControlRecusive("LabelUserAccount"))
            account->SetText(utf8_to_CString(core->GetUserAccount()), 0);
    CSkinWndManager::GetInstance()->SetMainForm(form);
    return form;
}

} // namespace runtime
} // namespace tavi
