#include "runtime/skin/html_page.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <sys/stat.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

#include "host/common.h"

namespace tavi::runtime {
namespace {

// Larger files are not pages the control shows.
constexpr std::size_t kMaxPageBytes = 64u << 20;
constexpr int kXmlOptions = XML_PARSE_NONET | XML_PARSE_COMPACT;
constexpr int kHtmlOptions =
    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER;
// Texts parsed on their own report their faults (to a handler that counts them, not to the output).
constexpr int kPieceOptions = HTML_PARSE_NONET | HTML_PARSE_RECOVER | HTML_PARSE_COMPACT;

std::once_flag librariesReady;
xsltSecurityPrefsPtr securityPrefs = nullptr;

using Stylesheet = std::shared_ptr<xsltStylesheet>;

// Compiled stylesheets by path, used again while the file stays the same (its size, modification
// time and file): a timeline page is shown again after every reload, with the same stylesheet.
class StylesheetCache {
public:
    // The compiled stylesheet at `path`; empty with `error` set when it cannot be read or compiled.
    Stylesheet Get(const std::string& path, std::string& error) {
        struct stat info {};
        bool known = ::stat(path.c_str(), &info) == 0;
        std::lock_guard<std::mutex> hold(lock_);
        for (Entry& entry : entries_) {
            if (known && entry.path == path && entry.size == info.st_size && entry.inode == info.st_ino &&
                entry.device == info.st_dev && entry.modified.tv_sec == info.st_mtim.tv_sec &&
                entry.modified.tv_nsec == info.st_mtim.tv_nsec)
                return entry.style;
        }
        Stylesheet style = Compile(path, error);
        // One that imports or includes others is compiled each time: they could change on their own.
        if (!style || !known || style->imports != nullptr || style->includes != nullptr)
            return style;
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->path == path) {
                entries_.erase(it);
                break;
            }
        }
        if (entries_.size() >= kKept)
            entries_.erase(entries_.begin());
        entries_.push_back(Entry{path, info.st_size, info.st_ino, info.st_dev, info.st_mtim, style});
        return style;
    }

private:
    static constexpr std::size_t kKept = 8;
    struct Entry {
        std::string path;
        off_t size;
        ino_t inode;
        dev_t device;
        timespec modified;
        Stylesheet style;
    };

    static Stylesheet Compile(const std::string& path, std::string& error);

    std::mutex lock_;
    std::vector<Entry> entries_;
};

StylesheetCache stylesheets;

std::string Text(const xmlChar* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : "";
}

std::string LastXmlError(const char* fallback) {
    const xmlError* error = xmlGetLastError();
    std::string message = error && error->message ? std::string(error->message) : std::string(fallback);
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

Stylesheet StylesheetCache::Compile(const std::string& path, std::string& error) {
    xmlResetLastError();
    xmlDocPtr document = xmlReadFile(path.c_str(), nullptr, kXmlOptions);
    if (document == nullptr) {
        error = "cannot read the stylesheet " + path + ": " + LastXmlError("unreadable");
        return nullptr;
    }
    xsltStylesheetPtr style = xsltParseStylesheetDoc(document);
    if (style == nullptr) {
        xmlFreeDoc(document);
        error = "the stylesheet " + path + " is not valid XSLT";
        return nullptr;
    }
    // The stylesheet owns its document now.
    return Stylesheet(style, xsltFreeStylesheet);
}

bool ReadWhole(const std::string& path, std::string& bytes, bool& tooLarge) {
    tooLarge = false;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    // Read into a text of the file's size at once; a file that grows meanwhile is read on to its end.
    std::streamoff size = in.tellg();
    if (size < 0)
        return false;
    if (static_cast<std::size_t>(size) > kMaxPageBytes) {
        tooLarge = true;
        return true;
    }
    in.seekg(0);
    bytes.resize(static_cast<std::size_t>(size));
    in.read(bytes.data(), size);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    char buffer[65536];
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0) {
        if (bytes.size() + static_cast<std::size_t>(in.gcount()) > kMaxPageBytes) {
            tooLarge = true;
            return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return !in.bad();
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string PercentDecode(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

bool HasScheme(const std::string& url) {
    std::size_t colon = url.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    if (!std::isalpha(static_cast<unsigned char>(url[0])))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '.' && c != '-')
            return false;
    }
    return true;
}

// The pseudo-attribute of a processing instruction's content: key="value" or key='value'.
std::string PseudoAttribute(const std::string& content, const std::string& key) {
    std::size_t at = 0;
    while ((at = content.find(key, at)) != std::string::npos) {
        bool starts = at == 0 || std::isspace(static_cast<unsigned char>(content[at - 1]));
        std::size_t i = at + key.size();
        while (i < content.size() && std::isspace(static_cast<unsigned char>(content[i])))
            ++i;
        if (starts && i < content.size() && content[i] == '=') {
            ++i;
            while (i < content.size() && std::isspace(static_cast<unsigned char>(content[i])))
                ++i;
            if (i < content.size() && (content[i] == '"' || content[i] == '\'')) {
                char quote = content[i];
                std::size_t end = content.find(quote, i + 1);
                if (end != std::string::npos)
                    return content.substr(i + 1, end - i - 1);
            }
        }
        at += key.size();
    }
    return std::string();
}

// Frees what the transformation made, in every path out.
struct XsltParts {
    Stylesheet style; // freed after the transformation that uses it
    xmlDocPtr page = nullptr;
    xsltTransformContextPtr context = nullptr;
    xmlDocPtr result = nullptr;
    xmlChar* output = nullptr;
    ~XsltParts() {
        if (output)
            xmlFree(output);
        if (result)
            xmlFreeDoc(result);
        if (context)
            xsltFreeTransformContext(context);
        if (page)
            xmlFreeDoc(page);
    }
};

struct DocOwner {
    xmlDocPtr doc = nullptr;
    ~DocOwner() {
        if (doc)
            xmlFreeDoc(doc);
    }
};

// What the reader does with an element, by its name.
enum ElementRole : unsigned {
    kInline = 0,
    kBlock = 1,        // on lines of its own
    kSkipped = 2,      // not shown (but a title inside still counts)
    kPreformatted = 4, // line breaks kept
    kBreak = 8,
    kImage = 16,
    kLink = 32,
    kTitle = 64,
    kArticle = 128, // stands on its own, set off by empty lines
};

ElementRole RoleOf(const xmlChar* name) {
    static const std::unordered_map<std::string_view, unsigned> kRoles = {
        {"address", kBlock},    {"article", kBlock | kArticle},
        {"aside", kBlock},      {"blockquote", kBlock},
        {"dd", kBlock},         {"div", kBlock},
        {"dl", kBlock},         {"dt", kBlock},
        {"footer", kBlock},     {"form", kBlock},
        {"h1", kBlock},         {"h2", kBlock},
        {"h3", kBlock},         {"h4", kBlock},
        {"h5", kBlock},         {"h6", kBlock},
        {"header", kBlock},     {"hr", kBlock},
        {"li", kBlock},         {"main", kBlock},
        {"nav", kBlock},        {"ol", kBlock},
        {"p", kBlock},          {"pre", kBlock | kPreformatted},
        {"section", kBlock},    {"table", kBlock},
        {"tr", kBlock},         {"ul", kBlock},
        {"body", kBlock},       {"html", kBlock},
        {"head", kSkipped},     {"script", kSkipped},
        {"style", kSkipped},    {"noscript", kSkipped},
        {"template", kSkipped}, {"br", kBreak},
        {"img", kImage},        {"a", kLink},
        {"title", kTitle}};
    // Element names are ASCII and compared without regard to case; no known one is longer.
    char lower[16];
    std::size_t length = 0;
    for (const xmlChar* c = name; c && *c; ++c) {
        if (length == sizeof(lower))
            return kInline;
        lower[length++] = static_cast<char>(std::tolower(*c));
    }
    auto found = kRoles.find(std::string_view(lower, length));
    return found == kRoles.end() ? kInline : static_cast<ElementRole>(found->second);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string AttributeOf(xmlNodePtr node, const char* name) {
    // HTML attribute names are case-insensitive; the HTML parser gives them in lower case.
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = Text(value);
    xmlFree(value);
    return text;
}

std::string Collapse(const std::string& text) {
    std::string out;
    bool space = false;
    for (unsigned char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            space = true;
            continue;
        }
        if (space && !out.empty())
            out.push_back(' ');
        space = false;
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// Readable text of a document: one line per block, runs of white space as one blank.
class TextBuilder {
public:
    void Append(std::string_view text, bool preformatted) {
        for (unsigned char c : text) {
            bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
            if (preformatted && c == '\n') {
                Break();
                continue;
            }
            if (blank) {
                space_ = true;
                continue;
            }
            Put(static_cast<char>(c));
        }
    }
    void AppendWord(const std::string& word, bool readableOnly) {
        if (word.empty())
            return;
        if (!line_.empty() || !readableLine_.empty())
            space_ = true;
        for (char c : word)
            Put(c, readableOnly);
    }
    void Break() {
        if (!line_.empty())
            text_ += (text_.empty() ? "" : separate_ ? "\n\n" : "\n") + line_;
        if (!readableLine_.empty())
            readable_ += (readable_.empty() ? "" : separate_ ? "\n\n" : "\n") + readableLine_;
        if (!line_.empty() || !readableLine_.empty())
            separate_ = false;
        line_.clear();
        readableLine_.clear();
        space_ = false;
    }
    // Ends the line; the next one follows after an empty line (items of a list of articles).
    void Separate() {
        Break();
        separate_ = true;
    }
    // What comes next is a word of its own.
    void Space() { space_ = true; }
    std::string TakeText() {
        Break();
        return text_;
    }
    std::string TakeReadable() {
        Break();
        return readable_;
    }

private:
    void Put(char c, bool readableOnly = false) {
        if (space_) {
            if (!line_.empty() && !readableOnly)
                line_.push_back(' ');
            if (!readableLine_.empty())
                readableLine_.push_back(' ');
            space_ = false;
        }
        if (!readableOnly)
            line_.push_back(c);
        readableLine_.push_back(c);
    }

    std::string line_;
    std::string readableLine_;
    std::string text_;
    std::string readable_;
    bool space_ = false;
    bool separate_ = false;
};

std::string ResolveLink(const std::string& href, const std::string& base) {
    if (href.empty() || HasScheme(href) || href[0] == '#')
        return href;
    xmlChar* built = xmlBuildURI(reinterpret_cast<const xmlChar*>(href.c_str()),
                                 reinterpret_cast<const xmlChar*>(base.c_str()));
    std::string resolved = built ? Text(built) : href;
    xmlFree(built);
    return resolved;
}

// What was found for each element name of a document, by the name's address: a parsed document
// keeps one copy of each name, so a page of a few element names asks the table a few times only.
template <typename Value> class ByNameAddress {
public:
    template <typename Find> Value Get(const xmlChar* name, Find find) {
        for (const auto& [address, value] : known_)
            if (address == name)
                return value;
        Value value = find(name);
        if (known_.size() < kKept)
            known_.emplace_back(name, value);
        return value;
    }

private:
    static constexpr std::size_t kKept = 32;
    std::vector<std::pair<const xmlChar*, Value>> known_;
};

// Whether an element has an attribute of the value, without regard to case; the value is read in
// place when it is one text, as it is unless it holds entity references.
bool HasAttributeValue(xmlNodePtr node, const char* name, const char* value) {
    xmlAttrPtr attribute = xmlHasProp(node, reinterpret_cast<const xmlChar*>(name));
    if (attribute == nullptr)
        return false;
    xmlNodePtr text = attribute->children;
    if (attribute->type == XML_ATTRIBUTE_NODE && text && text->next == nullptr && text->type == XML_TEXT_NODE)
        return xmlStrcasecmp(text->content, reinterpret_cast<const xmlChar*>(value)) == 0;
    return Lower(AttributeOf(node, name)) == value;
}

// An item that stands on its own (an article, or a block with that role, as a status in a timeline):
// the text sets it off by empty lines.
bool IsArticle(xmlNodePtr node, ElementRole role) {
    return (role & kArticle) || ((role & kBlock) && HasAttributeValue(node, "role", "article"));
}

// Reads the page from a tree. `unescaped`, when given, holds for each text the tree marks to go out
// unescaped (in document order) the element whose children are that text parsed as HTML; they are
// read in its place.
void ReadDocument(xmlDocPtr doc, const std::string& base, HtmlPage& page,
                  const std::vector<xmlNodePtr>* unescaped = nullptr) {
    TextBuilder builder;
    ByNameAddress<ElementRole> roles;
    std::size_t nextUnescaped = 0;
    struct Step {
        xmlNodePtr node;
        bool leaving;
        int link; // index of the link an <a> opened, or -1
    };
    std::vector<Step> pending;
    for (xmlNodePtr child = doc->last; child; child = child->prev)
        pending.push_back(Step{child, false, -1});
    int preDepth = 0;
    while (!pending.empty()) {
        Step step = pending.back();
        pending.pop_back();
        xmlNodePtr node = step.node;
        if (unescaped && node->type == XML_TEXT_NODE && node->name == xmlStringTextNoenc) {
            xmlNodePtr parsed = (*unescaped)[nextUnescaped++];
            for (xmlNodePtr child = parsed->last; child; child = child->prev)
                pending.push_back(Step{child, false, -1});
            continue;
        }
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content)
                builder.Append(reinterpret_cast<const char*>(node->content), preDepth > 0);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE)
            continue;
        ElementRole role = roles.Get(node->name, RoleOf);
        if (step.leaving) {
            if (role & kPreformatted)
                --preDepth;
            if (step.link >= 0) {
                builder.AppendWord("[" + std::to_string(step.link + 1) + "]", true);
                builder.Space();
            }
            if (IsArticle(node, role))
                builder.Separate();
            else if (role & kBlock)
                builder.Break();
            continue;
        }
        if (role & kTitle) {
            if (page.title.empty()) {
                xmlChar* content = xmlNodeGetContent(node);
                page.title = Collapse(Text(content));
                xmlFree(content);
                continue;
            }
        } else if (role & kSkipped) {
            // The title of the head still counts.
            for (xmlNodePtr child = node->last; child; child = child->prev)
                if (child->type == XML_ELEMENT_NODE && RoleOf(child->name) == kTitle)
                    pending.push_back(Step{child, false, -1});
            continue;
        } else if (role & kBreak) {
            builder.Break();
            continue;
        } else if (role & kImage) {
            // An empty alternative text marks a decorative image (an avatar beside a name): no word.
            if (xmlHasProp(node, reinterpret_cast<const xmlChar*>("alt")) && AttributeOf(node, "alt").empty())
                continue;
            std::string source = AttributeOf(node, "src");
            builder.AppendWord("[image " + (source.empty() ? AttributeOf(node, "alt") : source) + "]", false);
            continue;
        }
        if (IsArticle(node, role))
            builder.Separate();
        else if (role & kBlock)
            builder.Break();
        if (role & kPreformatted)
            ++preDepth;
        int link = -1;
        if ((role & kLink) && xmlHasProp(node, reinterpret_cast<const xmlChar*>("href"))) {
            BrowserLink entry;
            entry.url = ResolveLink(AttributeOf(node, "href"), base);
            entry.target = AttributeOf(node, "target");
            xmlChar* content = xmlNodeGetContent(node);
            entry.text = Collapse(Text(content));
            xmlFree(content);
            if (entry.text.empty()) {
                for (xmlNodePtr child = node->children; child && entry.text.empty(); child = child->next)
                    if (child->type == XML_ELEMENT_NODE && RoleOf(child->name) == kImage)
                        entry.text = "[image " + AttributeOf(child, "src") + "]";
            }
            link = static_cast<int>(page.links.size());
            page.links.push_back(std::move(entry));
        }
        pending.push_back(Step{node, true, link});
        for (xmlNodePtr child = node->last; child; child = child->prev)
            pending.push_back(Step{child, false, -1});
    }
    page.text = builder.TakeText();
    page.readable = builder.TakeReadable();
}

bool LooksLikeXml(const std::string& bytes, const std::string& path) {
    std::size_t i = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i])))
        ++i;
    if (bytes.compare(i, 5, "<?xml") == 0)
        return true;
    std::string lower = Lower(path);
    auto endsWith = [&](const char* suffix) {
        std::size_t n = std::strlen(suffix);
        return lower.size() >= n && lower.compare(lower.size() - n, n, suffix) == 0;
    };
    return endsWith(".xml") || endsWith(".xsl");
}

PageLoad ParseHtml(const std::string& html, const char* encoding, const std::string& base, HtmlPage& page,
                   std::string& error) {
    DocOwner parsed;
    xmlResetLastError();
    parsed.doc =
        htmlReadMemory(html.data(), static_cast<int>(html.size()), base.c_str(), encoding, kHtmlOptions);
    if (parsed.doc == nullptr) {
        error = "not an HTML page: " + LastXmlError("unreadable");
        return PageLoad::kNotAPage;
    }
    ReadDocument(parsed.doc, base, page);
    return PageLoad::kLoaded;
}

// What an element of a transformed page may hold for the page to be read from the tree as it stands.
enum class Holds {
    kNothing,
    kText,    // text only
    kHtml,    // the head and the body
    kHead,    // the title, meta data and style
    kFlow,    // blocks, phrases and text
    kPhrases, // phrases and text
    kNoLinks, // phrases other than links, and text
};

struct ElementShape {
    Holds holds;
    bool phrase; // may stand inside a paragraph or a phrase
};

// The elements a transformed page may be made of to be read from the tree: those the HTML parser
// keeps where they are when the page is written out and parsed again. A paragraph or a link holds
// only phrases (the parser would close it where a block or another link starts), and only the head
// and the body are in the document element. Anything else and the page is written out and parsed.
const ElementShape* ShapeOfName(const xmlChar* name) {
    static const std::unordered_map<std::string_view, ElementShape> kShapes = {
        {"html", {Holds::kHtml, false}},    {"head", {Holds::kHead, false}},
        {"title", {Holds::kText, false}},   {"style", {Holds::kText, false}},
        {"meta", {Holds::kNothing, false}}, {"link", {Holds::kNothing, false}},
        {"body", {Holds::kFlow, false}},    {"div", {Holds::kFlow, false}},
        {"p", {Holds::kPhrases, false}},    {"span", {Holds::kPhrases, true}},
        {"b", {Holds::kPhrases, true}},     {"i", {Holds::kPhrases, true}},
        {"em", {Holds::kPhrases, true}},    {"strong", {Holds::kPhrases, true}},
        {"small", {Holds::kPhrases, true}}, {"a", {Holds::kNoLinks, true}},
        {"img", {Holds::kNothing, true}},   {"br", {Holds::kNothing, true}}};
    if (name == nullptr)
        return nullptr;
    auto found = kShapes.find(reinterpret_cast<const char*>(name));
    return found == kShapes.end() ? nullptr : &found->second;
}

bool IsBlank(const xmlChar* text) {
    for (; text && *text; ++text)
        if (*text != ' ' && *text != '\t' && *text != '\n' && *text != '\r' && *text != '\f')
            return false;
    return true;
}

// An address the HTML writer puts out as it stands (it escapes others as a URI, and drops blanks
// before them): letters, digits and the marks an address keeps.
bool IsPlainAddress(xmlAttrPtr attribute) {
    xmlNodePtr text = attribute->children;
    if (text == nullptr)
        return true;
    if (text->next != nullptr || text->type != XML_TEXT_NODE)
        return false;
    for (const xmlChar* c = text->content; c && *c; ++c)
        if (!std::isalnum(*c) && std::strchr("-_.!~*'()@/:=?;#%&,+", *c) == nullptr)
            return false;
    return true;
}

bool ElementFits(xmlNodePtr element, const ElementShape& shape, const ElementShape* parent) {
    if (parent == nullptr) {
        if (shape.holds != Holds::kHtml)
            return false;
    } else {
        std::string_view name = reinterpret_cast<const char*>(element->name);
        switch (parent->holds) {
        case Holds::kHtml:
            if (name != "head" && name != "body")
                return false;
            break;
        case Holds::kHead:
            if (name != "title" && name != "meta" && name != "style" && name != "link")
                return false;
            break;
        case Holds::kFlow:
            if (!shape.phrase && name != "div" && name != "p")
                return false;
            break;
        case Holds::kPhrases:
            if (!shape.phrase)
                return false;
            break;
        case Holds::kNoLinks:
            if (!shape.phrase || name == "a")
                return false;
            break;
        default:
            return false;
        }
    }
    for (xmlAttrPtr attribute = element->properties; attribute; attribute = attribute->next) {
        if (attribute->ns != nullptr)
            return false;
        bool address = xmlStrcasecmp(attribute->name, reinterpret_cast<const xmlChar*>("href")) == 0 ||
                       xmlStrcasecmp(attribute->name, reinterpret_cast<const xmlChar*>("src")) == 0 ||
                       xmlStrcasecmp(attribute->name, reinterpret_cast<const xmlChar*>("action")) == 0 ||
                       xmlStrcasecmp(attribute->name, reinterpret_cast<const xmlChar*>("name")) == 0;
        if (address && !IsPlainAddress(attribute))
            return false;
    }
    return true;
}

// Whether the page a stylesheet made reads from its tree as it would written out and parsed again as
// HTML, and the texts it marks to go out unescaped, in document order, which must then be parsed.
// Text stands only where the parser keeps it (not loose in the body, where it would start a
// paragraph, nor in a style that could end early), blanks not after an image or a line break (the
// parser drops those), and unescaped text only in a block or a phrase outside any paragraph or link.
bool SurveyTransformedPage(xmlDocPtr result, std::vector<xmlNodePtr>& unescaped) {
    struct Place {
        xmlNodePtr node;
        const ElementShape* parent;
        bool inParagraphOrLink;
    };
    std::vector<Place> pending;
    ByNameAddress<const ElementShape*> shapes;
    for (xmlNodePtr child = result->last; child; child = child->prev)
        pending.push_back(Place{child, nullptr, false});
    while (!pending.empty()) {
        Place place = pending.back();
        pending.pop_back();
        xmlNodePtr node = place.node;
        switch (node->type) {
        case XML_DTD_NODE:
        case XML_COMMENT_NODE:
            continue;
        case XML_TEXT_NODE: {
            if (place.parent == nullptr || place.parent->holds == Holds::kNothing ||
                place.parent->holds == Holds::kHtml || place.parent->holds == Holds::kHead)
                return false;
            bool blank = IsBlank(node->content);
            if (blank && node->prev && node->prev->type == XML_ELEMENT_NODE &&
                (xmlStrEqual(node->prev->name, reinterpret_cast<const xmlChar*>("img")) ||
                 xmlStrEqual(node->prev->name, reinterpret_cast<const xmlChar*>("br"))))
                return false;
            bool inBody = xmlStrEqual(node->parent->name, reinterpret_cast<const xmlChar*>("body"));
            if (node->name == xmlStringTextNoenc) {
                if (place.parent->holds == Holds::kText || place.inParagraphOrLink || inBody)
                    return false;
                unescaped.push_back(node);
            } else if ((inBody && !blank) ||
                       (xmlStrEqual(node->parent->name, reinterpret_cast<const xmlChar*>("style")) &&
                        xmlStrstr(node->content, reinterpret_cast<const xmlChar*>("</")) != nullptr)) {
                return false;
            }
            continue;
        }
        case XML_ELEMENT_NODE: {
            // An element in a namespace is none of HTML's.
            const ElementShape* shape = node->ns ? nullptr : shapes.Get(node->name, ShapeOfName);
            if (shape == nullptr || !ElementFits(node, *shape, place.parent))
                return false;
            bool inParagraphOrLink = place.inParagraphOrLink ||
                                     xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>("p")) ||
                                     xmlStrEqual(node->name, reinterpret_cast<const xmlChar*>("a"));
            for (xmlNodePtr child = node->last; child; child = child->prev)
                pending.push_back(Place{child, shape, inParagraphOrLink});
            continue;
        }
        default:
            return false;
        }
    }
    return true;
}

// Counts what the HTML parser finds wrong while it lives on this thread: a fault in the unescaped
// texts means one of them is not well-formed HTML and could read differently in its place.
class ParseFaults {
public:
    ParseFaults() : previous_(xmlStructuredError), previousContext_(xmlStructuredErrorContext) {
        xmlSetStructuredErrorFunc(this, &ParseFaults::Count);
    }
    ~ParseFaults() { xmlSetStructuredErrorFunc(previousContext_, previous_); }
    ParseFaults(const ParseFaults&) = delete;
    ParseFaults& operator=(const ParseFaults&) = delete;

    int count = 0;

private:
    static void Count(void* self, xmlErrorPtr) { ++static_cast<ParseFaults*>(self)->count; }

    xmlStructuredErrorFunc previous_;
    void* previousContext_;
};

// Reads a transformed page from the tree the stylesheet made, as the browser reads it written out
// and parsed again, when its shape lets the two readings be the same. Texts marked to go out
// unescaped are parsed as HTML all in one document, each in a span of its own in the body, and read
// in their places. False when the page's shape is another, or when a text is not well-formed HTML
// (a fault, or a text reaching outside its span); the caller then writes the page out and parses it.
bool ReadTransformedPage(xmlDocPtr result, const std::string& base, HtmlPage& page) {
    std::vector<xmlNodePtr> texts;
    if (!SurveyTransformedPage(result, texts))
        return false;
    if (texts.empty()) {
        ReadDocument(result, base, page);
        return true;
    }
    std::string markup = "<html><body>";
    for (xmlNodePtr text : texts) {
        markup += "<span>";
        if (text->content)
            markup += reinterpret_cast<const char*>(text->content);
        markup += "</span>";
    }
    markup += "</body></html>";
    DocOwner parsed;
    {
        ParseFaults faults;
        parsed.doc = htmlReadMemory(markup.data(), static_cast<int>(markup.size()), base.c_str(), "UTF-8",
                                    kPieceOptions);
        if (parsed.doc == nullptr || faults.count > 0)
            return false;
    }
    xmlNodePtr body = xmlDocGetRootElement(parsed.doc);
    body = body ? body->last : nullptr;
    if (body == nullptr || body->type != XML_ELEMENT_NODE || Text(body->name) != "body")
        return false;
    std::vector<xmlNodePtr> pieces;
    for (xmlNodePtr child = body->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || Text(child->name) != "span")
            return false;
        pieces.push_back(child);
    }
    if (pieces.size() != texts.size())
        return false;
    ReadDocument(result, base, page, &pieces);
    return true;
}

} // namespace

void InitPageLibraries() {
    std::call_once(librariesReady, [] {
        xmlInitParser();
        // A stylesheet may read local files (document()) but never write one or reach the network.
        securityPrefs = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(securityPrefs, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(securityPrefs, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(securityPrefs, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(securityPrefs, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        xsltSetDefaultSecurityPrefs(securityPrefs);
    });
}

std::string PagePathFromUrl(const std::string& url, const std::string& base) {
    if (url.empty())
        return std::string();
    if (url.compare(0, 7, "file://") == 0) {
        std::string rest = url.substr(7);
        if (rest.compare(0, 9, "localhost") == 0)
            rest = rest.substr(9);
        std::size_t cut = rest.find_first_of("?#");
        if (cut != std::string::npos)
            rest = rest.substr(0, cut);
        rest = PercentDecode(rest);
        return !rest.empty() && rest[0] == '/' ? rest : std::string();
    }
    if (url.compare(0, 5, "file:") == 0) {
        std::string rest = PercentDecode(url.substr(5));
        return !rest.empty() && rest[0] == '/' ? rest : std::string();
    }
    if (HasScheme(url))
        return std::string();
    if (url[0] == '/')
        return url;
    return FolderOf(base) + url;
}

PageLoad LoadPage(const std::string& path, HtmlPage& page, std::string& error, PageReading reading) {
    InitPageLibraries();
    std::string bytes;
    bool tooLarge = false;
    if (!ReadWhole(path, bytes, tooLarge)) {
        error = "no page at " + path;
        return PageLoad::kMissing;
    }
    if (tooLarge) {
        error = path + " is too large to show";
        return PageLoad::kNotAPage;
    }
    if (!LooksLikeXml(bytes, path))
        return ParseHtml(bytes, nullptr, path, page, error);

    XsltParts parts;
    xmlResetLastError();
    parts.page =
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path.c_str(), nullptr, kXmlOptions);
    if (parts.page == nullptr) {
        error = "not a well-formed page: " + LastXmlError("unreadable");
        return PageLoad::kNotAPage;
    }
    std::string href;
    for (xmlNodePtr node = parts.page->children; node; node = node->next) {
        if (node->type != XML_PI_NODE || Text(node->name) != "xml-stylesheet")
            continue;
        std::string content = Text(node->content);
        std::string type = Lower(PseudoAttribute(content, "type"));
        if (type == "text/xsl" || type == "application/xslt+xml" || type == "text/xml" ||
            type == "application/xml") {
            href = PseudoAttribute(content, "href");
            break;
        }
    }
    if (href.empty()) {
        // An XML document without a stylesheet shows its text.
        ReadDocument(parts.page, path, page);
        return PageLoad::kLoaded;
    }
    std::string stylePath = PagePathFromUrl(href, path);
    if (!stylePath.empty() && href.compare(0, 5, "file:") != 0 && !IsFileExist(stylePath)) {
        // The reference is a URI: its path may be percent-encoded and carry a query or fragment.
        std::string reference = href.substr(0, href.find_first_of("?#"));
        stylePath = PagePathFromUrl(PercentDecode(reference), path);
    }
    if (stylePath.empty()) {
        error = "the stylesheet " + href + " is not a local file";
        return PageLoad::kStyleFailed;
    }
    parts.style = stylesheets.Get(stylePath, error);
    const Stylesheet& style = parts.style;
    if (!style)
        return PageLoad::kStyleFailed;
    parts.context = xsltNewTransformContext(style.get(), parts.page);
    if (parts.context == nullptr) {
        error = "cannot apply the stylesheet " + stylePath;
        return PageLoad::kStyleFailed;
    }
    xsltSetCtxtSecurityPrefs(securityPrefs, parts.context);
    parts.result = xsltApplyStylesheetUser(style.get(), parts.page, nullptr, nullptr, nullptr, parts.context);
    if (parts.result == nullptr || parts.context->state != XSLT_STATE_OK) {
        error = "the stylesheet " + stylePath + " failed on the page";
        return PageLoad::kStyleFailed;
    }
    if (reading == PageReading::kFromTreeWhereSame && ReadTransformedPage(parts.result, path, page))
        return PageLoad::kLoaded;
    // Otherwise (a page of another shape, or unescaped text that is not well-formed HTML) the result
    // is written out and read again as the HTML page a browser would get.
    page = HtmlPage{};
    int length = 0;
    if (xsltSaveResultToString(&parts.output, &length, parts.result, style.get()) != 0) {
        error = "the stylesheet " + stylePath + " gave no page";
        return PageLoad::kStyleFailed;
    }
    std::string html =
        parts.output ? std::string(reinterpret_cast<const char*>(parts.output), length) : std::string();
    std::string encoding = Text(style->encoding);
    return ParseHtml(html, encoding.empty() ? "UTF-8" : encoding.c_str(), path, page, error);
}

} // namespace tavi::runtime
