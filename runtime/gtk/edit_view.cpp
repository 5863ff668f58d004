// The view of the skin's edit control: a GtkEntry (a GtkTextView for multi-line edits). Typing is
// not applied by the widget: each insertion or deletion goes to the model as the keyboard's own
// key and character messages, through the host's pre-translation, so the model's limit, its limit
// tip, the digits-only style and the forms' key handling hold; the widget then shows what the model
// kept.
#include <algorithm>
#include <cstring>
#include <string>

#include "host/color_edit.h"
#include "runtime/gtk/control_view.h"
#include "runtime/gtk/gtk_skin_view.h"
#include "runtime/skin/skin_runtime.h"
#include "runtime/skin/text_units.h"

namespace tavi::runtime::gtk {
namespace {

// The model writes a line break as "\r\n"; the widget as "\n".
std::string WidgetText(const std::string& modelUtf8) {
    std::string out;
    out.reserve(modelUtf8.size());
    for (std::size_t i = 0; i < modelUtf8.size(); ++i)
        if (!(modelUtf8[i] == '\r' && i + 1 < modelUtf8.size() && modelUtf8[i + 1] == '\n'))
            out.push_back(modelUtf8[i]);
    return out;
}

// A character position of the widget's text as a position of the model's.
int ModelOffset(const std::u32string& model, int widgetOffset) {
    int widget = 0;
    int i = 0;
    int length = static_cast<int>(model.size());
    while (i < length && widget < widgetOffset) {
        if (model[i] == U'\r' && i + 1 < length && model[i + 1] == U'\n')
            ++i;
        ++i;
        ++widget;
    }
    return i;
}

int WidgetOffset(const std::u32string& model, int modelOffset) {
    int widget = 0;
    for (int i = 0; i < modelOffset && i < static_cast<int>(model.size()); ++i)
        if (!(model[i] == U'\r' && i + 1 < static_cast<int>(model.size()) && model[i + 1] == U'\n'))
            ++widget;
    return widget;
}

// The text of the label the skin names as the one that describes an edit (its "label" style value:
// that label's object id, the nearest one up the edit's tree), or empty.
std::string DescribingLabel(const CSkinObject* object) {
    std::string id = object->GetSkinValue("label");
    if (id.empty())
        return std::string();
    for (CSkinObject* up = object->GetParent(); up != nullptr; up = up->GetParent())
        if (CSkinObject* label = up->FindControlRecusive(id))
            return Utf8Of(label->GetText());
    return std::string();
}

// An edit shows what was typed, not what it is for: it is called by the label that describes it,
// else by its tip, else by its object id.
std::string EditName(const CSkinObject* object) {
    std::string label = DescribingLabel(object);
    if (!label.empty())
        return label;
    if (!object->GetTip().empty())
        return Utf8Of(object->GetTip());
    return object->GetObjectID();
}

class EditView : public ControlView {
public:
    EditView(GtkSkinView& view, CSkinObject* object, CSWColorEdit* edit)
        : ControlView(view, object, edit->IsMultiLine() ? gtk_scrolled_window_new() : gtk_entry_new()) {
        if (edit->IsMultiLine()) {
            text_ = gtk_text_view_new();
            gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(text_), GTK_WRAP_WORD_CHAR);
            gtk_text_view_set_left_margin(GTK_TEXT_VIEW(text_), 4);
            gtk_text_view_set_right_margin(GTK_TEXT_VIEW(text_), 4);
            gtk_text_view_set_top_margin(GTK_TEXT_VIEW(text_), 3);
            gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(widget_), text_);
            gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(widget_), GTK_POLICY_NEVER, GTK_POLICY_AUTOMATIC);
            gtk_widget_add_css_class(widget_, "skin-edit-area");
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
            g_signal_connect(buffer, "insert-text", G_CALLBACK(BufferInsert), this);
            g_signal_connect(buffer, "delete-range", G_CALLBACK(BufferDelete), this);
        } else {
            text_ = widget_;
            if (edit->IsPassword()) {
                gtk_entry_set_visibility(GTK_ENTRY(widget_), FALSE);
                gtk_entry_set_input_purpose(GTK_ENTRY(widget_), GTK_INPUT_PURPOSE_PASSWORD);
            } else if (edit->IsDigitsOnly()) {
                gtk_entry_set_input_purpose(GTK_ENTRY(widget_), GTK_INPUT_PURPOSE_DIGITS);
            }
            GtkEditable* delegate = gtk_editable_get_delegate(GTK_EDITABLE(widget_));
            g_signal_connect(delegate, "insert-text", G_CALLBACK(EntryInsert), this);
            g_signal_connect(delegate, "delete-text", G_CALLBACK(EntryDelete), this);
        }
        gtk_widget_add_css_class(widget_, "skin-edit");
    }
    ~EditView() override {
        if (text_ != widget_) {
            g_signal_handlers_disconnect_by_data(gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_)), this);
        } else {
            g_signal_handlers_disconnect_by_data(gtk_editable_get_delegate(GTK_EDITABLE(widget_)), this);
        }
    }

    GtkWidget* FocusWidget() const override { return text_; }

    void Update() override {
        CSWColorEdit* edit = Edit();
        if (edit == nullptr)
            return;
        std::string shown = WidgetText(Utf8Of(edit->GetWindowText()));
        if (text_ == widget_) {
            if (shown != gtk_editable_get_text(GTK_EDITABLE(widget_)))
                gtk_editable_set_text(GTK_EDITABLE(widget_), shown.c_str());
        } else {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
            GtkTextIter start;
            GtkTextIter end;
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            char* current = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
            if (shown != current)
                gtk_text_buffer_set_text(buffer, shown.c_str(), -1);
            g_free(current);
        }
        SetAccessibleName(EditName(Object()));
        if (cursorPending_) {
            // After typing: the cursor where the model left its selection.
            cursorPending_ = false;
            int start = 0;
            int end = 0;
            edit->GetSel(start, end);
            int at = WidgetOffset(NarrowToUnicode(edit->GetWindowText()), end);
            if (text_ == widget_) {
                gtk_editable_set_position(GTK_EDITABLE(widget_), at);
            } else {
                GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
                GtkTextIter iter;
                gtk_text_buffer_get_iter_at_offset(buffer, &iter, at);
                gtk_text_buffer_place_cursor(buffer, &iter);
            }
        }
    }

    bool TypeText(const std::string& utf8) override {
        gtk_widget_grab_focus(text_);
        // What an input method does: the selection is replaced by the committed text, each step
        // reaching the model through the widget's own signals.
        if (text_ == widget_) {
            GtkEditable* editable = GTK_EDITABLE(widget_);
            gtk_editable_select_region(editable, 0, -1);
            gtk_editable_delete_selection(editable);
            CatchUp();
            int position = gtk_editable_get_position(editable);
            gtk_editable_insert_text(editable, utf8.c_str(), static_cast<int>(utf8.size()), &position);
        } else {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(text_));
            GtkTextIter start;
            GtkTextIter end;
            gtk_text_buffer_get_bounds(buffer, &start, &end);
            gtk_text_buffer_select_range(buffer, &start, &end);
            gtk_text_buffer_delete_selection(buffer, TRUE, TRUE);
            CatchUp();
            gtk_text_buffer_insert_interactive_at_cursor(buffer, utf8.c_str(), static_cast<int>(utf8.size()), TRUE);
        }
        CatchUp();
        return true;
    }

private:
    // The widget shows what the model kept, at once (outside the widget's own signal emission).
    void CatchUp() {
        SyncScope scope;
        Update();
    }

    CSWColorEdit* Edit() const {
        CSkinObject* object = Object();
        return object ? dynamic_cast<CSWColorEdit*>(CSkinWnd::FromSkinObject(object)) : nullptr;
    }

    // Typing, as the keyboard gives it to the focused edit.
    void Type(int widgetStart, int widgetEnd, const std::string& utf8) {
        CSWColorEdit* edit = Edit();
        if (edit == nullptr || !edit->IsWindow())
            return;
        std::u32string model = NarrowToUnicode(edit->GetWindowText());
        edit->SetFocus();
        edit->SetSel(ModelOffset(model, widgetStart), ModelOffset(model, widgetEnd));
        std::weak_ptr<void> life = life_;
        if (utf8.empty())
            TypeKey(edit->GetSafeHwnd(), VK_DELETE);
        for (char32_t c : Utf8ToUnicode(utf8)) {
            if (life.expired())
                return;
            TypeCharacter(edit->GetSafeHwnd(), c);
        }
        cursorPending_ = true;
        InputDone();
    }

    static void EntryInsert(GtkEditable* editable, const char* text, int length, int* position, gpointer data) {
        auto* self = static_cast<EditView*>(data);
        if (Syncing())
            return;
        g_signal_stop_emission_by_name(editable, "insert-text");
        int start = 0;
        int end = 0;
        // Typing over a selection replaces it; GTK removes it first, but keep it in one step.
        if (!gtk_editable_get_selection_bounds(editable, &start, &end))
            start = end = *position;
        self->Type(start, end, std::string(text, length < 0 ? std::strlen(text) : static_cast<std::size_t>(length)));
    }

    static void EntryDelete(GtkEditable* editable, int start, int end, gpointer data) {
        auto* self = static_cast<EditView*>(data);
        if (Syncing())
            return;
        g_signal_stop_emission_by_name(editable, "delete-text");
        if (end < 0)
            end = static_cast<int>(g_utf8_strlen(gtk_editable_get_text(editable), -1));
        if (start != end)
            self->Type(start, end, std::string());
    }

    static void BufferInsert(GtkTextBuffer* buffer, GtkTextIter* location, const char* text, int length,
                             gpointer data) {
        auto* self = static_cast<EditView*>(data);
        if (Syncing())
            return;
        g_signal_stop_emission_by_name(buffer, "insert-text");
        int at = gtk_text_iter_get_offset(location);
        self->Type(at, at, std::string(text, length < 0 ? std::strlen(text) : static_cast<std::size_t>(length)));
    }

    static void BufferDelete(GtkTextBuffer* buffer, GtkTextIter* start, GtkTextIter* end, gpointer data) {
        auto* self = static_cast<EditView*>(data);
        if (Syncing())
            return;
        g_signal_stop_emission_by_name(buffer, "delete-range");
        int from = gtk_text_iter_get_offset(start);
        int to = gtk_text_iter_get_offset(end);
        if (from != to)
            self->Type(std::min(from, to), std::max(from, to), std::string());
    }

    GtkWidget* text_ = nullptr;
    bool cursorPending_ = false;
};

} // namespace

std::unique_ptr<ControlView> MakeEditView(GtkSkinView& view, CSkinObject* object) {
    auto* edit = dynamic_cast<CSWColorEdit*>(CSkinWnd::FromSkinObject(object));
    return std::make_unique<EditView>(view, object, edit);
}

} // namespace tavi::runtime::gtk
