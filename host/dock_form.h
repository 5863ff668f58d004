// The host's main form: a form that can dock at a screen edge and hide itself there, with the
// messenger's toolbar ("ButtonManager", holding the plug-ins' buttons such as "ToolbarMicroBlog")
// and the container in which plug-in windows are shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/skin_controls.h"
#include "host/skin_wnd.h"

namespace tavi {

class IPluginWindow;

// Object ids of the main form and its parts.
constexpr const char* kMainFormId = "TaviMainForm";
constexpr const char* kButtonManagerId = "ButtonManager";
constexpr const char* kPluginContainerId = "PluginContainer";
// The toolbar button of the microblog plug-in: its text is the count of new posts, a click shows it.
constexpr const char* kToolbarMicroBlogId = "ToolbarMicroBlog";

// Holds the plug-in windows; one of them is active (visible) at a time.
class CSkinPluginContainer : public CSkinPanel {
public:
    CSkinPluginContainer();
    ~CSkinPluginContainer() override;
    // Places a plug-in window in the container, hidden.
    void AddPluginWindow(IPluginWindow* window);
    void RemovePluginWindow(IPluginWindow* window);
    // Shows the window and hides the others.
    void ActivateWindow(IPluginWindow* window);
    IPluginWindow* GetActiveWindow() const;
    // The host's operation for a visible plug-in window that goes away.
    void OnPluginWindowGone(IPluginWindow* window);
    // The plug-in windows placed here, in order.
    std::vector<IPluginWindow*> GetPluginWindows() const;

private:
    bool Holds(const IPluginWindow* window) const;

    IPluginWindow* active_ = nullptr;
    std::vector<IPluginWindow*> windows_;
};

class CDockFormEx : public CSkinForm {
public:
    // Docking flags.
    static constexpr unsigned kDockAllowed = 0x01;
    static constexpr unsigned kDockedAtEdge = 0x08;
    static constexpr unsigned kAutoHide = 0x10;
    // Sides.
    static constexpr int kSideNone = 0;
    static constexpr int kSideLeft = 1;
    static constexpr int kSideRight = 2;
    static constexpr int kSideTop = 3;

    CDockFormEx();
    ~CDockFormEx() override;

    unsigned GetDockFlags() const { return dockFlags_; }
    void SetDockFlags(unsigned flags) { dockFlags_ = flags; }
    // Docks the form at a side of the screen, the margin away from the edge (side 0 floats it).
    // The two pointers are the host's (a window to dock after, reserved); they may be null.
    int Dock(int side, void* after, void* reserved, int margin);
    int GetDockSide() const { return dockSide_; }
    int GetDockMargin() const { return dockMargin_; }
    // Lets a form that hides at its edge come out for the given seconds, then hide again.
    void FloatingSomeTime(int seconds);
    bool IsFloating() const { return floating_; }

    CSkinButtonManager* GetButtonManager();
    CSkinPluginContainer* GetPluginContainer();

private:
    unsigned dockFlags_ = kDockAllowed;
    int dockSide_ = kSideNone;
    int dockMargin_ = 0;
    bool floating_ = false;
    std::uint64_t floatTimer_ = 0;
};

} // namespace tavi
