// CXmlDocument on libxml2. Texts arrive in the system code page and are converted to UTF-8 with the
// host's conversion; anything XML 1.0 cannot carry is replaced on the way in, so a saved document
// is always well-formed.
#include "host/xml_document.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <mutex>

#include "host/common.h"

namespace tavi {
namespace {

xmlDocPtr Doc(void* doc) {
    return static_cast<xmlDocPtr>(doc);
}
xmlNodePtr Node(CXmlNode* node) {
    return reinterpret_cast<xmlNodePtr>(node);
}
const xmlNode* Node(const CXmlNode* node) {
    return reinterpret_cast<const xmlNode*>(node);
}
CXmlNode* Handle(xmlNodePtr node) {
    return reinterpret_cast<CXmlNode*>(node);
}
const xmlChar* Chars(const std::string& text) {
    return reinterpret_cast<const xmlChar*>(text.c_str());
}

void InitLibxml() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// Failures are reported by return value; libxml2's own messages would only reach the terminal.
class QuietErrors {
public:
    QuietErrors() : handler_(xmlStructuredError), context_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(nullptr, [](void*, xmlErrorPtr) {});
    }
    ~QuietErrors() { xmlSetStructuredErrorFunc(context_, handler_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    xmlStructuredErrorFunc handler_;
    void* context_;
};

bool IsAscii(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    unsigned char any = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        any |= bytes[i];
    return any < 0x80;
}

bool IsXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0x10FFFF);
}

// Copies UTF-8 text, replacing each malformed sequence and each character XML 1.0 does not allow
// (control characters, NUL, U+FFFE, U+FFFF) by U+FFFD.
std::string XmlSafeUtf8(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned char lead = bytes[i];
        if (lead < 0x80) {
            if (IsXmlChar(lead))
                out.push_back(static_cast<char>(lead));
            else
                out.append(kReplacement);
            ++i;
            continue;
        }
        std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        unsigned long code = length == 4 ? (lead & 0x07u) : length == 3 ? (lead & 0x0Fu) : (lead & 0x1Fu);
        bool valid = length != 0 && lead < 0xF8 && i + length <= n;
        for (std::size_t k = 1; valid && k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                valid = false;
            else
                code = (code << 6) | (bytes[i + k] & 0x3Fu);
        }
        static const unsigned long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (valid && code >= kSmallest[length] && IsXmlChar(code)) {
            out.append(text, i, length);
            i += length;
        } else {
            out.append(kReplacement);
            ++i;
            // Skip the continuation bytes of the damaged sequence, so that one bad character gives one mark.
            while (i < n && (bytes[i] & 0xC0) == 0x80 && length > 1) {
                ++i;
                --length;
            }
        }
    }
    return out;
}

// Whether text needs XmlSafeUtf8: it is not valid UTF-8, or holds a character XML cannot carry.
// One pass without writing anything, since nearly every text is fine.
bool NeedsRepair(const std::string& text) {
    // 0: fine; 1: never allowed (control characters); 2, 3, 4: the lead byte of a sequence of
    // that length; 5: a byte that cannot start a sequence.
    static constexpr auto kKinds = [] {
        std::array<unsigned char, 256> kinds{};
        for (int c = 0; c < 0x20; ++c)
            kinds[c] = c == 0x9 || c == 0xA || c == 0xD ? 0 : 1;
        for (int c = 0x80; c < 0x100; ++c)
            kinds[c] = c < 0xC2 ? 5 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 5;
        return kinds;
    }();
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        // Eight printable ASCII bytes at a time: none has its top bit set or is below 0x20.
        while (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, bytes + i, sizeof(word));
            constexpr std::uint64_t kHigh = 0x8080808080808080ULL;
            if (((word | (word - 0x2020202020202020ULL)) & kHigh) != 0)
                break;
            i += 8;
        }
        if (i >= n)
            break;
        unsigned char kind = kKinds[bytes[i]];
        if (kind == 0)
            continue;
        if (kind == 1 || kind == 5 || i + kind > n)
            return true;
        unsigned long code = bytes[i] & (0x7Fu >> kind);
        for (unsigned k = 1; k < kind; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80)
                return true;
            code = code << 6 | (bytes[i + k] & 0x3Fu);
        }
        static const unsigned long kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < kSmallest[kind] || !IsXmlChar(code))
            return true;
        i += kind - 1;
    }
    return false;
}

} // namespace

CXmlDocument::CXmlDocument() {
    InitLibxml();
    doc_ = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
}

CXmlDocument::~CXmlDocument() {
    for (void* node : looseNodes_)
        xmlFreeNode(static_cast<xmlNodePtr>(node));
    xmlFreeDoc(Doc(doc_));
}

bool CXmlDocument::IsUsableName(const std::string& utf8Name) {
    if (utf8Name.empty() || utf8Name == "xmlns" || utf8Name.find('\0') != std::string::npos)
        return false;
    // The common case, an ASCII name, is decided here; libxml2 decides the others.
    auto isStart = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
    };
    auto isFollow = [&](unsigned char c) {
        return isStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
    };
    bool ascii = true;
    bool plain = isStart(static_cast<unsigned char>(utf8Name[0]));
    for (unsigned char c : utf8Name) {
        ascii = ascii && c < 0x80;
        plain = plain && isFollow(c);
    }
    if (ascii)
        return plain;
    return xmlValidateNCName(Chars(utf8Name), 0) == 0;
}

// The host's own conversion keeps its converters open for the thread, so a document costs no
// converter of its own.
const std::string& CXmlDocument::ToUtf8(const std::string& narrow, std::string& converted) {
    if (IsAscii(narrow))
        return narrow;
    converted = CString_to_utf8(narrow);
    return converted;
}

const std::string& CXmlDocument::TextToUtf8(const std::string& narrow, std::string& converted) {
    const std::string& utf8 = ToUtf8(narrow, converted);
    if (!NeedsRepair(utf8))
        return utf8;
    converted = XmlSafeUtf8(utf8);
    return converted;
}

CXmlNode* CXmlDocument::InsertEndChild(const std::string& name) {
    ForgetAppendTarget();
    if (doc_ == nullptr || xmlDocGetRootElement(Doc(doc_)) != nullptr)
        return nullptr;
    std::string converted;
    const std::string& utf8 = ToUtf8(name, converted);
    if (!IsUsableName(utf8))
        return nullptr;
    xmlNodePtr root = xmlNewDocNode(Doc(doc_), nullptr, Chars(utf8), nullptr);
    if (root == nullptr)
        return nullptr;
    xmlDocSetRootElement(Doc(doc_), root);
    return Handle(root);
}

CXmlNode* CXmlDocument::InsertEndChild(CXmlNode* parent, const CXmlNode* node) {
    ForgetAppendTarget();
    if (parent == nullptr || node == nullptr)
        return nullptr;
    xmlNodePtr copy = xmlDocCopyNode(const_cast<xmlNodePtr>(Node(node)), Doc(doc_), 1);
    if (copy == nullptr)
        return nullptr;
    xmlNodePtr added = xmlAddChild(Node(parent), copy);
    if (added == nullptr) {
        xmlFreeNode(copy);
        return nullptr;
    }
    return Handle(added);
}

CXmlNode* CXmlDocument::PathWalk(const std::string& path) {
    xmlNodePtr node = doc_ ? xmlDocGetRootElement(Doc(doc_)) : nullptr;
    std::string converted;
    const std::string& utf8 = ToUtf8(path, converted);
    std::size_t start = 0;
    bool first = true;
    while (node != nullptr && start <= utf8.size()) {
        std::size_t end = std::min(utf8.find('/', start), utf8.size());
        std::string step = utf8.substr(start, end - start);
        if (!first) {
            xmlNodePtr child = node->children;
            while (child != nullptr &&
                   (child->type != XML_ELEMENT_NODE || step != reinterpret_cast<const char*>(child->name)))
                child = child->next;
            node = child;
        } else if (step != reinterpret_cast<const char*>(node->name)) {
            node = nullptr;
        }
        first = false;
        start = end + 1;
    }
    return Handle(node);
}

CXmlNode* CXmlDocument::CreateNode(const std::string& name) {
    ForgetAppendTarget();
    std::string converted;
    const std::string& utf8 = ToUtf8(name, converted);
    if (doc_ == nullptr || !IsUsableName(utf8))
        return nullptr;
    xmlNodePtr node = xmlNewDocNode(Doc(doc_), nullptr, Chars(utf8), nullptr);
    if (node != nullptr)
        looseNodes_.push_back(node);
    return Handle(node);
}

void CXmlDocument::DeleteNode(CXmlNode* node) {
    ForgetAppendTarget();
    auto found = std::find(looseNodes_.begin(), looseNodes_.end(), static_cast<void*>(node));
    if (found == looseNodes_.end())
        return;
    looseNodes_.erase(found);
    xmlFreeNode(Node(node));
}

bool CXmlDocument::SetNodeAttribute(CXmlNode* node, const std::string& name, const std::string& value) {
    if (node == nullptr)
        return false;
    std::string convertedName;
    const std::string& utf8Name = ToUtf8(name, convertedName);
    if (!IsUsableName(utf8Name))
        return false;
    std::string convertedValue;
    const std::string& utf8Value = TextToUtf8(value, convertedValue);
    // Both calls take the value as plain text: '&' and '<' are escaped on saving, never read as markup.
    xmlNodePtr element = Node(node);
    if (appendTarget_ != element && element->properties == nullptr) {
        appendTarget_ = element;
        appendLastName_ = nullptr;
    }
    if (appendTarget_ == element &&
        (appendLastName_ == nullptr ||
         std::strcmp(static_cast<const char*>(appendLastName_), utf8Name.c_str()) < 0)) {
        xmlAttrPtr added = xmlNewProp(element, Chars(utf8Name), Chars(utf8Value));
        if (added == nullptr)
            return false;
        appendLastName_ = added->name;
        return true;
    }
    ForgetAppendTarget();
    return xmlSetProp(element, Chars(utf8Name), Chars(utf8Value)) != nullptr;
}

std::string CXmlDocument::GetNodeAttribute(const CXmlNode* node, const std::string& name) const {
    if (node == nullptr)
        return std::string();
    std::string utf8Name = CString_to_utf8(name);
    xmlChar* value = xmlGetProp(Node(node), Chars(utf8Name));
    if (value == nullptr)
        return std::string();
    std::string utf8(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return utf8_to_CString(utf8);
}

bool CXmlDocument::SetNodeText(CXmlNode* node, const std::string& text) {
    ForgetAppendTarget();
    if (node == nullptr)
        return false;
    xmlNodePtr element = Node(node);
    while (element->children != nullptr) {
        xmlNodePtr child = element->children;
        xmlUnlinkNode(child);
        xmlFreeNode(child);
    }
    std::string converted;
    const std::string& utf8 = TextToUtf8(text, converted);
    xmlNodePtr content = xmlNewDocTextLen(Doc(doc_), Chars(utf8), static_cast<int>(utf8.size()));
    return content != nullptr && xmlAddChild(element, content) != nullptr;
}

bool CXmlDocument::SaveFile(const std::string& path) {
    if (doc_ == nullptr || path.empty())
        return false;
    QuietErrors quiet;
    xmlSaveCtxtPtr context = xmlSaveToFilename(path.c_str(), "UTF-8", XML_SAVE_FORMAT | XML_SAVE_NO_DECL);
    if (context == nullptr)
        return false;
    long saved = xmlSaveDoc(context, Doc(doc_));
    int closed = xmlSaveClose(context);
    return saved >= 0 && closed >= 0;
}

bool CXmlDocument::SaveToString(std::string& out) {
    out.clear();
    if (doc_ == nullptr)
        return false;
    QuietErrors quiet;
    auto append = [](void* context, const char* bytes, int length) {
        static_cast<std::string*>(context)->append(bytes, static_cast<std::size_t>(length));
        return length;
    };
    xmlSaveCtxtPtr context = xmlSaveToIO(append, nullptr, &out, "UTF-8", XML_SAVE_FORMAT | XML_SAVE_NO_DECL);
    if (context == nullptr)
        return false;
    long saved = xmlSaveDoc(context, Doc(doc_));
    bool ok = xmlSaveClose(context) >= 0 && saved >= 0;
    if (!ok)
        out.clear();
    return ok;
}

} // namespace tavi
