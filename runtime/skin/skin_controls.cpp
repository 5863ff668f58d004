// Panels, labels, buttons, check boxes, images and the toolbar's button manager.
#include "host/skin_controls.h"

#include "host/common.h"
#include "runtime/skin/skin_attributes.h"

namespace tavi {
namespace {

// The width a text needs on a button of the headless layout: narrow characters 7 units, wide
// (non-ASCII) ones 13.
int TextWidth(const std::string& narrow) {
    std::string utf8 = CString_to_utf8(narrow);
    int width = 0;
    for (unsigned char c : utf8) {
        if (c < 0x80)
            width += 7;
        else if (c >= 0xC0)
            width += 13;
    }
    return width;
}

} // namespace

CSkinPanel::CSkinPanel() {
    skinClass_ = kKindPanel;
}
CSkinPanel::~CSkinPanel() = default;

void CSkinPanel::AddAllSubTooltip() {
    tooltips_.clear();
    std::vector<CSkinObject*> pending(GetChildren().rbegin(), GetChildren().rend());
    while (!pending.empty()) {
        CSkinObject* object = pending.back();
        pending.pop_back();
        if (!object->GetTip().empty())
            tooltips_.emplace_back(object->GetObjectID(), object->GetTip());
        pending.insert(pending.end(), object->GetChildren().rbegin(), object->GetChildren().rend());
    }
}

CSkinLabel::CSkinLabel() {
    skinClass_ = kKindLabel;
}
CSkinLabel::~CSkinLabel() = default;

void CSkinLabel::OnSetSkinData() {
    CSkinObject::OnSetSkinData();
    unsigned color = 0;
    if (runtime::ParseSkinColor(GetSkinValue("color"), color))
        textColor_ = color;
}

void CSkinLabel::SetTextColor(COLORREF color) {
    textColor_ = color & 0xFFFFFF;
}

CSkinLinkLabel::CSkinLinkLabel() {
    skinClass_ = kKindLinkLabel;
}
CSkinLinkLabel::~CSkinLinkLabel() = default;

CSkinButton::CSkinButton() {
    skinClass_ = kKindButton;
}
CSkinButton::~CSkinButton() = default;

bool CSkinButton::ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) {
    if (!CSkinObject::ApplyBuildAttributes(node, error))
        return false;
    imagePath_ = runtime::SkinAttributes(node).File("image");
    return true;
}

CSkinCheckBox::CSkinCheckBox() {
    skinClass_ = kKindCheckBox;
}
CSkinCheckBox::~CSkinCheckBox() = default;

bool CSkinCheckBox::ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) {
    return CSkinButton::ApplyBuildAttributes(node, error) &&
           runtime::SkinAttributes(node).Flag("checked", checked_, error);
}

void CSkinCheckBox::SetChecked(int checked, int notify) {
    checked_ = checked != 0;
    Refresh();
    if (notify)
        FireEvent(kSkinEventClick, nullptr);
}

void CSkinCheckBox::OnClickSelf() {
    checked_ = !checked_;
    Refresh();
}

CSkinImage::CSkinImage() {
    skinClass_ = kKindImage;
}
CSkinImage::~CSkinImage() = default;

bool CSkinImage::ApplyBuildAttributes(const SkinBuildNode& node, std::string& error) {
    if (!CSkinObject::ApplyBuildAttributes(node, error))
        return false;
    imagePath_ = runtime::SkinAttributes(node).File("image");
    return true;
}

CSkinButtonManager::CSkinButtonManager() {
    skinClass_ = kKindToolbar;
}
CSkinButtonManager::~CSkinButtonManager() = default;

CSkinButton* CSkinButtonManager::FindButton(const std::string& name) {
    return dynamic_cast<CSkinButton*>(FindControlRecusive(name));
}

bool CSkinButtonManager::SetButtonText(const std::string& name, const std::string& text,
                                       const std::string& tip) {
    CSkinButton* button = FindButton(name);
    if (button == nullptr)
        return false;
    button->SetText(text, 0);
    button->SetTip(tip);
    return true;
}

void CSkinButtonManager::RePositionSubControls() {
    constexpr int kPadding = 12;
    constexpr int kImageWidth = 20;
    constexpr int kMinimumWidth = 24;
    constexpr int kGap = 2;
    const SkinRect& bar = GetRect();
    int x = bar.left + kGap;
    for (CSkinObject* child : GetChildren()) {
        auto* button = dynamic_cast<CSkinButton*>(child);
        if (button == nullptr) {
            child->CalculateBounds();
            child->RePositionSubControls();
            continue;
        }
        if (!button->IsVisible())
            continue;
        int width =
            kPadding + TextWidth(button->GetText()) + (button->GetImagePath().empty() ? 0 : kImageWidth);
        if (width < kMinimumWidth)
            width = kMinimumWidth;
        button->SetRect(SkinRect{x, bar.top, x + width, bar.bottom});
        x += width + kGap;
    }
}

} // namespace tavi
