// Views of the plain controls: panels, labels, link labels, buttons, check boxes and images.
#include "runtime/gtk/control_view.h"

#include "host/color_edit.h"
#include "host/common.h"
#include "host/skin.h"
#include "host/web_browser.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/skin/skin_attributes.h"

namespace tavi::runtime::gtk {
namespace {

int syncDepth = 0;

// The side of a button's image, in pixels (the toolbar gives a button 20 pixels for it).
constexpr int kButtonImageSize = 16;

PangoAttrList* ColorAttributes(COLORREF color, int pointSize, bool underline) {
    PangoAttrList* list = pango_attr_list_new();
    auto channel = [](unsigned value) { return static_cast<guint16>((value & 0xFF) * 257); };
    pango_attr_list_insert(list, pango_attr_foreground_new(channel(color), channel(color >> 8), channel(color >> 16)));
    if (pointSize > 0)
        pango_attr_list_insert(list, pango_attr_size_new(pointSize * PANGO_SCALE * 3 / 4));
    if (underline)
        pango_attr_list_insert(list, pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
    return list;
}

int SkinSize(const CSkinObject* object) {
    std::string size = object->GetSkinValue("size");
    int value = size.empty() ? 0 : std::atoi(size.c_str());
    return value > 0 && value < 72 ? value : 0;
}

// A container: a background area in the skin's colour, drawn beneath its controls.
class PanelView : public ControlView {
public:
    PanelView(GtkSkinView& view, CSkinObject* object)
        : ControlView(view, object,
                      GTK_WIDGET(g_object_new(GTK_TYPE_DRAWING_AREA, "accessible-role", GTK_ACCESSIBLE_ROLE_GROUP,
                                              nullptr))) {
        gtk_drawing_area_set_draw_func(GTK_DRAWING_AREA(widget_), Draw, this, nullptr);
        gtk_widget_add_css_class(widget_, "skin-panel");
    }
    void Update() override {
        CSkinObject* object = Object();
        unsigned color = 0;
        bool has = object && ParseSkinColor(object->GetSkinValue("background"), color);
        if (has != hasColor_ || color != color_) {
            hasColor_ = has;
            color_ = color;
            gtk_widget_queue_draw(widget_);
        }
        // A group of controls, called by its id: the skin gives panels no caption.
        if (object)
            SetAccessibleName(object->GetObjectID());
    }

private:
    static void Draw(GtkDrawingArea*, cairo_t* cr, int width, int height, gpointer data) {
        auto* self = static_cast<PanelView*>(data);
        if (!self->hasColor_)
            return;
        unsigned c = self->color_;
        cairo_set_source_rgb(cr, (c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0);
        cairo_rectangle(cr, 0, 0, width, height);
        cairo_fill(cr);
    }
    bool hasColor_ = false;
    unsigned color_ = 0;
};

class LabelView : public ControlView {
public:
    LabelView(GtkSkinView& view, CSkinObject* object) : ControlView(view, object, gtk_label_new("")) {
        GtkLabel* label = GTK_LABEL(widget_);
        gtk_label_set_wrap(label, TRUE);
        gtk_label_set_wrap_mode(label, PANGO_WRAP_WORD_CHAR);
        gtk_label_set_xalign(label, 0);
        gtk_label_set_yalign(label, 0);
        gtk_label_set_selectable(label, FALSE);
        gtk_widget_add_css_class(widget_, "skin-label");
    }
    void Update() override {
        auto* object = static_cast<CSkinLabel*>(Object());
        if (object == nullptr)
            return;
        std::string text = Utf8Of(object->GetText());
        if (text != gtk_label_get_text(GTK_LABEL(widget_)))
            gtk_label_set_text(GTK_LABEL(widget_), text.c_str());
        COLORREF color = object->GetTextColor();
        int size = SkinSize(object);
        if (color != color_ || size != size_) {
            color_ = color;
            size_ = size;
            PangoAttrList* list = ColorAttributes(color, size, false);
            gtk_label_set_attributes(GTK_LABEL(widget_), list);
            pango_attr_list_unref(list);
        }
    }

private:
    COLORREF color_ = 0xFFFFFFFF;
    int size_ = -1;
};

// Buttons and link labels: a GtkButton whose click is the model's click.
class ButtonView : public ControlView {
public:
    ButtonView(GtkSkinView& view, CSkinObject* object, bool link) : ControlView(view, object, gtk_button_new()) {
        label_ = gtk_label_new("");
        gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
        // A button the skin (or the host) gives an image shows it before its text.
        // The button is what a screen reader announces: what it holds stays out of the tree.
        image_ = GTK_WIDGET(g_object_new(GTK_TYPE_IMAGE, "accessible-role", GTK_ACCESSIBLE_ROLE_NONE, nullptr));
        gtk_image_set_pixel_size(GTK_IMAGE(image_), kButtonImageSize);
        gtk_widget_set_visible(image_, FALSE);
        GtkWidget* box = GTK_WIDGET(g_object_new(GTK_TYPE_BOX, "orientation", GTK_ORIENTATION_HORIZONTAL, "spacing", 2,
                                                 "accessible-role", GTK_ACCESSIBLE_ROLE_NONE, nullptr));
        gtk_widget_set_halign(box, GTK_ALIGN_CENTER);
        gtk_box_append(GTK_BOX(box), image_);
        gtk_box_append(GTK_BOX(box), label_);
        gtk_button_set_child(GTK_BUTTON(widget_), box);
        if (link) {
            gtk_button_set_has_frame(GTK_BUTTON(widget_), FALSE);
            gtk_widget_add_css_class(widget_, "skin-link");
            gtk_widget_set_cursor_from_name(widget_, "pointer");
            gtk_label_set_xalign(GTK_LABEL(label_), 0);
        } else {
            gtk_widget_add_css_class(widget_, "skin-button");
        }
        link_ = link;
        g_signal_connect(widget_, "clicked", G_CALLBACK(Clicked), this);
    }
    void Update() override {
        CSkinObject* object = Object();
        if (object == nullptr)
            return;
        std::string text = Utf8Of(object->GetText());
        if (text != gtk_label_get_text(GTK_LABEL(label_)))
            gtk_label_set_text(GTK_LABEL(label_), text.c_str());
        auto* button = dynamic_cast<CSkinButton*>(object);
        std::string image = button ? button->GetImagePath() : std::string();
        if (image != imagePath_) {
            imagePath_ = image;
            gtk_image_set_from_file(GTK_IMAGE(image_), image.empty() ? nullptr : image.c_str());
            gtk_widget_set_visible(image_, !image.empty());
        }
        // An empty caption would stand in the accessibility tree as a label without a name; a
        // button without one is called by its tip.
        if (gtk_widget_get_visible(label_) == text.empty())
            gtk_widget_set_visible(label_, !text.empty());
        SetAccessibleName(text.empty() ? ControlName(object) : text);
        if (auto* label = dynamic_cast<CSkinLabel*>(object)) {
            if (label->GetTextColor() != color_) {
                color_ = label->GetTextColor();
                PangoAttrList* list = ColorAttributes(color_, SkinSize(object), link_);
                gtk_label_set_attributes(GTK_LABEL(label_), list);
                pango_attr_list_unref(list);
            }
        }
    }

private:
    static void Clicked(GtkButton*, gpointer data) {
        auto* self = static_cast<ButtonView*>(data);
        if (Syncing())
            return;
        if (CSkinObject* object = self->Object())
            object->PerformClick();
        self->InputDone();
    }
    GtkWidget* label_;
    GtkWidget* image_;
    std::string imagePath_;
    bool link_ = false;
    COLORREF color_ = 0xFFFFFFFF;
};

class CheckBoxView : public ControlView {
public:
    CheckBoxView(GtkSkinView& view, CSkinObject* object) : ControlView(view, object, gtk_check_button_new()) {
        gtk_widget_add_css_class(widget_, "skin-check");
        g_signal_connect(widget_, "toggled", G_CALLBACK(Toggled), this);
    }
    void Update() override {
        auto* box = dynamic_cast<CSkinCheckBox*>(Object());
        if (box == nullptr)
            return;
        std::string text = Utf8Of(box->GetText());
        const char* shown = gtk_check_button_get_label(GTK_CHECK_BUTTON(widget_));
        if (shown == nullptr || text != shown)
            gtk_check_button_set_label(GTK_CHECK_BUTTON(widget_), text.c_str());
        if (gtk_check_button_get_active(GTK_CHECK_BUTTON(widget_)) != box->IsChecked())
            gtk_check_button_set_active(GTK_CHECK_BUTTON(widget_), box->IsChecked());
    }

private:
    static void Toggled(GtkCheckButton* button, gpointer data) {
        auto* self = static_cast<CheckBoxView*>(data);
        if (Syncing())
            return;
        auto* box = dynamic_cast<CSkinCheckBox*>(self->Object());
        // The model toggles on its own click; the widget follows whatever it decided.
        if (box && box->IsChecked() != static_cast<bool>(gtk_check_button_get_active(button)))
            box->PerformClick();
        self->InputDone();
    }
};

class ImageView : public ControlView {
public:
    ImageView(GtkSkinView& view, CSkinObject* object)
        : ControlView(view, object, gtk_picture_new()) {
        gtk_picture_set_can_shrink(GTK_PICTURE(widget_), TRUE);
        gtk_picture_set_content_fit(GTK_PICTURE(widget_), GTK_CONTENT_FIT_CONTAIN);
    }
    void Update() override {
        auto* image = dynamic_cast<CSkinImage*>(Object());
        if (image == nullptr)
            return;
        SetAccessibleName(ControlName(image));
        if (image->GetImagePath() == path_)
            return;
        path_ = image->GetImagePath();
        gtk_picture_set_filename(GTK_PICTURE(widget_), path_.empty() ? nullptr : path_.c_str());
    }

private:
    std::string path_;
};

// The web view is called by the title of the page it shows, or by its object id while the page has
// none.
void PageTitleChanged(GObject* webView, GParamSpec*, gpointer data) {
    auto* self = static_cast<ControlView*>(data);
    CSkinObject* object = self->Object();
    gchar* title = nullptr;
    g_object_get(webView, "title", &title, nullptr);
    std::string name = title && *title ? title : object ? object->GetObjectID() : std::string();
    g_free(title);
    self->SetAccessibleName(name);
}

} // namespace

ControlView::ControlView(GtkSkinView& view, CSkinObject* object, GtkWidget* widget)
    : view_(view), object_(object), life_(object->GetLifeToken()), widget_(widget) {
    g_object_ref_sink(widget_);
    if (!object->GetObjectID().empty())
        gtk_widget_set_name(widget_, object->GetObjectID().c_str());
}

ControlView::~ControlView() {
    g_signal_handlers_disconnect_by_data(widget_, this);
    g_object_unref(widget_);
}

void ControlView::SetAccessibleName(const std::string& utf8) {
    if (utf8 == accessibleName_)
        return;
    accessibleName_ = utf8;
    GtkAccessible* accessible = GTK_ACCESSIBLE(FocusWidget());
    if (utf8.empty())
        gtk_accessible_reset_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL);
    else
        gtk_accessible_update_property(accessible, GTK_ACCESSIBLE_PROPERTY_LABEL, utf8.c_str(), -1);
}

bool ControlView::Syncing() { return syncDepth > 0; }

void ControlView::InputDone() { view_.ScheduleSync(); }

SyncScope::SyncScope() { ++syncDepth; }
SyncScope::~SyncScope() { --syncDepth; }

std::string Utf8Of(const std::string& narrow) { return CString_to_utf8(narrow); }

std::string ControlName(const CSkinObject* object) {
    if (!object->GetText().empty())
        return Utf8Of(object->GetText());
    if (!object->GetTip().empty())
        return Utf8Of(object->GetTip());
    return object->GetObjectID();
}

std::unique_ptr<ControlView> MakeControlView(GtkSkinView& view, CSkinObject* object) {
    CSkinWnd* window = CSkinWnd::FromSkinObject(object);
    if (dynamic_cast<CSWColorEdit*>(window))
        return MakeEditView(view, object);
    if (dynamic_cast<CSkinWebBrowser*>(window)) {
        std::unique_ptr<ControlView> browser = MakeBrowserView(view, object);
        g_signal_connect(browser->Widget(), "notify::title", G_CALLBACK(PageTitleChanged), browser.get());
        return browser;
    }
    if (dynamic_cast<CSkinCheckBox*>(object))
        return std::make_unique<CheckBoxView>(view, object);
    if (dynamic_cast<CSkinLinkLabel*>(object))
        return std::make_unique<ButtonView>(view, object, true);
    if (dynamic_cast<CSkinButton*>(object))
        return std::make_unique<ButtonView>(view, object, false);
    if (dynamic_cast<CSkinLabel*>(object))
        return std::make_unique<LabelView>(view, object);
    if (dynamic_cast<CSkinImage*>(object))
        return std::make_unique<ImageView>(view, object);
    return std::make_unique<PanelView>(view, object);
}

} // namespace tavi::runtime::gtk
