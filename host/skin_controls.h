// The host's plain skin controls: panels, labels, link labels, buttons, check boxes, images and the
// toolbar's button manager. Each is a CSkinObject of its own kind; the build files make them by
// kind.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/skin_object.h"

namespace tavi {

// Colours are COLORREF values: 0x00BBGGRR.
using COLORREF = unsigned;
constexpr COLORREF kColorDefaultText = 0x000000;

// A container of controls.
class CSkinPanel : public CSkinObject {
public:
    CSkinPanel();
    ~CSkinPanel() override;
    // Collects the tips of every control below the panel into the panel's tooltip list, which the
    // view shows when the pointer rests on a control.
    void AddAllSubTooltip();
    // (object id, tip) of the controls the tooltip list holds.
    const std::vector<std::pair<std::string, std::string>>& GetTooltips() const { return tooltips_; }

private:
    std::vector<std::pair<std::string, std::string>> tooltips_;
};

class CSkinLabel : public CSkinObject {
public:
    CSkinLabel();
    ~CSkinLabel() override;
    void OnSetSkinData() override;
    // Set by code, the colour holds until the skin is applied again.
    void SetTextColor(COLORREF color);
    COLORREF GetTextColor() const { return textColor_; }

private:
    COLORREF textColor_ = kColorDefaultText;
};

// A label that reacts to clicks like a link.
class CSkinLinkLabel : public CSkinLabel {
public:
    CSkinLinkLabel();
    ~CSkinLinkLabel() override;
};

class CSkinButton : public CSkinObject {
public:
    CSkinButton();
    ~CSkinButton() override;
    bool ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) override;
    // The image the skin names for the button, or empty.
    const std::string& GetImagePath() const { return imagePath_; }
    // The host gives a plug-in's toolbar button the plug-in's icon; empty removes it. The caller
    // re-lays out and repaints.
    void SetImagePath(const std::string& path) { imagePath_ = path; }

private:
    std::string imagePath_;
};

class CSkinCheckBox : public CSkinButton {
public:
    CSkinCheckBox();
    ~CSkinCheckBox() override;
    bool ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) override;
    // Ticks (non-zero) or clears the box; with notify non-zero event 1 goes out as for a click.
    void SetChecked(int checked, int notify);
    int GetChecked() const { return checked_ ? 1 : 0; }
    bool IsChecked() const { return checked_; }
    // A click toggles the box.
    void OnClickSelf() override;

private:
    bool checked_ = false;
};

class CSkinImage : public CSkinObject {
public:
    CSkinImage();
    ~CSkinImage() override;
    bool ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) override;
    const std::string& GetImagePath() const { return imagePath_; }

private:
    std::string imagePath_;
};

// The host toolbar: a row of buttons found by name.
class CSkinButtonManager : public CSkinPanel {
public:
    CSkinButtonManager();
    ~CSkinButtonManager() override;
    // Sets the text and tip of the named button; false when there is no such button. The caller
    // then re-lays out (RePositionSubControls) and repaints.
    bool SetButtonText(const std::string& name, const std::string& text, const std::string& tip);
    CSkinButton* FindButton(const std::string& name);
    // Lays the visible buttons out from left to right, each as wide as its text needs.
    void RePositionSubControls() override;
};

} // namespace tavi
