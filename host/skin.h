// The host's UI library: the skin manager, skin objects and controls, windows and forms, the main
// form, the edit control and the web browser, and the one way plug-in code looks its controls up.
#pragma once

#include <string>
#include <type_traits>

#include "host/color_edit.h"
#include "host/dock_form.h"
#include "host/skin_controls.h"
#include "host/skin_manager.h"
#include "host/skin_object.h"
#include "host/skin_wnd.h"
#include "host/web_browser.h"
#include "host/wnd.h"

namespace tavi {

// The control of that name below root, as the kind T (CSkinObject, a control class, or a window
// class with an embedded skin object such as CSWColorEdit); null when there is none or it is of
// another kind. Panels and forms find the controls of their build with this after the build.
template <class T> T* FindSkinControl(CSkinObject* root, const std::string& name) {
    if (root == nullptr)
        return nullptr;
    CSkinObject* found = root->FindControlRecusive(name);
    if (found == nullptr)
        return nullptr;
    if constexpr (std::is_base_of_v<CSkinWnd, T>)
        return dynamic_cast<T*>(CSkinWnd::FromSkinObject(found));
    else
        return dynamic_cast<T*>(found);
}

template <class T> T* FindSkinControl(CSkinWnd* window, const std::string& name) {
    return window ? FindSkinControl<T>(window->GetSkinObject(), name) : nullptr;
}

} // namespace tavi
