#include "app/screen_text.h"

#include "host/common.h"
#include "host/skin.h"

namespace tavi::app {
namespace {

bool IsContainer(const CSkinObject* object) {
    const std::string& kind = object->GetKind();
    if (kind == kKindPanel || kind == kKindWindow || kind == kKindForm || kind == kKindPluginWindow ||
        kind == kKindPluginContainer || kind == kKindToolbar)
        return true;
    // A kind the host does not know is shown as a container when it holds controls.
    bool known = kind == kKindLabel || kind == kKindLinkLabel || kind == kKindButton ||
                 kind == kKindCheckBox || kind == kKindEdit || kind == kKindImage || kind == kKindBrowser;
    return !known && !object->GetChildren().empty();
}

std::string Name(const CSkinObject* object) {
    return object->GetObjectID().empty() ? std::string("-") : object->GetObjectID();
}

std::string ShownText(CSkinObject* object) {
    if (auto* edit = dynamic_cast<CSWColorEdit*>(CSkinWnd::FromSkinObject(object)))
        return edit->GetDisplayText();
    return object->GetText();
}

std::string Checked(CSkinObject* object) {
    if (auto* box = dynamic_cast<CSkinCheckBox*>(object))
        return box->IsChecked() ? "1" : "0";
    return "-";
}

void Describe(CSkinObject* object, int depth, std::vector<std::string>& lines) {
    std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    if (IsContainer(object)) {
        if (!object->IsVisible())
            return;
        std::string line = indent + object->GetKind() + " " + Name(object);
        if (object->GetKind() == kKindForm)
            line += " title=" + QuoteText(object->GetText());
        lines.push_back(line);
        for (CSkinObject* child : object->GetChildren())
            Describe(child, depth + 1, lines);
        return;
    }
    lines.push_back(indent + object->GetKind() + " " + Name(object) +
                    " visible=" + (object->IsVisible() ? "1" : "0") +
                    " enabled=" + (object->IsEnabledInTree() ? "1" : "0") + " checked=" + Checked(object) +
                    " text=" + QuoteText(ShownText(object)));
}

} // namespace

std::vector<std::string> DescribeScreen(CSkinObject* root) {
    std::vector<std::string> lines;
    if (root != nullptr)
        Describe(root, 0, lines);
    return lines;
}

std::string QuoteText(const std::string& narrow) {
    std::string utf8 = CString_to_utf8(narrow);
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out.push_back(c);
        }
    }
    return out + "\"";
}

std::string OneLine(const std::string& utf8) {
    std::string out;
    for (char c : utf8) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
    return out;
}

std::string TerminalSafe(const std::string& utf8Line) {
    auto hex = [](unsigned value) {
        static const char kDigits[] = "0123456789ABCDEF";
        return std::string("\\x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
    };
    std::string out;
    out.reserve(utf8Line.size());
    for (std::size_t i = 0; i < utf8Line.size(); ++i) {
        auto byte = static_cast<unsigned char>(utf8Line[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            out += hex(byte);
        } else if (byte == 0xC2 && i + 1 < utf8Line.size() &&
                   static_cast<unsigned char>(utf8Line[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(utf8Line[i + 1]) <= 0x9F) {
            // U+0080 to U+009F, the C1 controls (CSI among them), in UTF-8.
            out += hex(static_cast<unsigned char>(utf8Line[++i]));
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

std::string DescribeNotice(const runtime::Notifier::Notice& notice) {
    return "notice " + std::to_string(notice.kind) + ": " + OneLine(CString_to_utf8(notice.record.title)) + " | " +
           OneLine(CString_to_utf8(notice.record.content)) + " (" +
           std::to_string(notice.record.displayMilliseconds) + ", " + std::to_string(notice.record.style) + ")";
}

std::string DescribeBalloon(const runtime::Notifier::Balloon& balloon) {
    return "balloon " + (balloon.anchor.empty() ? std::string("-") : balloon.anchor) + " " +
           std::to_string(balloon.milliseconds) + " " + OneLine(CString_to_utf8(balloon.text));
}

} // namespace tavi::app
