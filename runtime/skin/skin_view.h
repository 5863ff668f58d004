// The hook through which a windowed view follows the skin model: the headless host runs without
// one; a view attached here is told when windows come and go, change visibility, and when an object
// asks to be repainted, and draws the tree with CSkinObject::Render.
#pragma once

namespace tavi {
class CSkinObject;
class CWnd;
} // namespace tavi

namespace tavi::runtime {

class ISkinView {
public:
    virtual ~ISkinView() = default;
    virtual void OnWindowCreated(CWnd* window) = 0;
    virtual void OnWindowDestroyed(CWnd* window) = 0;
    virtual void OnWindowShown(CWnd* window, bool shown) = 0;
    virtual void OnWindowMoved(CWnd* window) = 0;
    virtual void OnInvalidate(CSkinObject* object) = 0;
};

// User-interface thread only; null detaches.
void SetSkinView(ISkinView* view);
ISkinView* GetSkinView();

} // namespace tavi::runtime
