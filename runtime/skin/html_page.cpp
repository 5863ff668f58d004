#include "runtime/skin/html_page.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/uri.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cctype>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>

#include "host/common.h"

namespace tavi::runtime {
namespace {

// Larger files are not pages the control shows.
constexpr std::size_t kMaxPageBytes = 64u << 20;
constexpr int kXmlOptions = XML_PARSE_NONET;
constexpr int kHtmlOptions =
    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_RECOVER;

std::once_flag librariesReady;
xsltSecurityPrefsPtr securityPrefs = nullptr;

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

bool ReadWhole(const std::string& path, std::string& bytes, bool& tooLarge) {
    tooLarge = false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream collected;
    char buffer[65536];
    std::size_t total = 0;
    while (in.read(buffer, sizeof(buffer)) || in.gcount() > 0) {
        total += static_cast<std::size_t>(in.gcount());
        if (total > kMaxPageBytes) {
            tooLarge = true;
            return true;
        }
        collected.write(buffer, in.gcount());
    }
    if (in.bad())
        return false;
    bytes = collected.str();
    return true;
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
    xmlDocPtr page = nullptr;
    xmlDocPtr styleDoc = nullptr; // until the stylesheet owns it
    xsltStylesheetPtr style = nullptr;
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
        if (style)
            xsltFreeStylesheet(style);
        if (styleDoc)
            xmlFreeDoc(styleDoc);
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

bool IsBlock(const std::string& name) {
    static const char* const kBlocks[] = {
        "address", "article", "aside", "blockquote", "dd",      "div",   "dl",     "dt", "footer", "form",
        "h1",      "h2",      "h3",    "h4",         "h5",      "h6",    "header", "hr", "li",     "main",
        "nav",     "ol",      "p",     "pre",        "section", "table", "tr",     "ul", "body",   "html"};
    for (const char* block : kBlocks)
        if (name == block)
            return true;
    return false;
}

bool IsSkipped(const std::string& name) {
    return name == "head" || name == "script" || name == "style" || name == "noscript" || name == "template";
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
    void Append(const std::string& text, bool preformatted) {
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

// An item that stands on its own (an article, or a block with that role, as a status in a timeline):
// the text sets it off by empty lines.
bool IsArticle(xmlNodePtr node, const std::string& name) {
    return name == "article" || (IsBlock(name) && Lower(AttributeOf(node, "role")) == "article");
}

void ReadDocument(xmlDocPtr doc, const std::string& base, HtmlPage& page) {
    TextBuilder builder;
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
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            builder.Append(Text(node->content), preDepth > 0);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE)
            continue;
        std::string name = Lower(Text(node->name));
        if (step.leaving) {
            if (name == "pre")
                --preDepth;
            if (step.link >= 0) {
                builder.AppendWord("[" + std::to_string(step.link + 1) + "]", true);
                builder.Space();
            }
            if (IsArticle(node, name))
                builder.Separate();
            else if (IsBlock(name))
                builder.Break();
            continue;
        }
        if (name == "title" && page.title.empty()) {
            xmlChar* content = xmlNodeGetContent(node);
            page.title = Collapse(Text(content));
            xmlFree(content);
            continue;
        }
        if (IsSkipped(name)) {
            // The title of the head still counts.
            for (xmlNodePtr child = node->last; child; child = child->prev)
                if (child->type == XML_ELEMENT_NODE && Lower(Text(child->name)) == "title")
                    pending.push_back(Step{child, false, -1});
            continue;
        }
        if (name == "br") {
            builder.Break();
            continue;
        }
        if (name == "img") {
            // An empty alternative text marks a decorative image (an avatar beside a name): no word.
            if (xmlHasProp(node, reinterpret_cast<const xmlChar*>("alt")) && AttributeOf(node, "alt").empty())
                continue;
            std::string source = AttributeOf(node, "src");
            builder.AppendWord("[image " + (source.empty() ? AttributeOf(node, "alt") : source) + "]", false);
            continue;
        }
        if (IsArticle(node, name))
            builder.Separate();
        else if (IsBlock(name))
            builder.Break();
        if (name == "pre")
            ++preDepth;
        int link = -1;
        if (name == "a" && xmlHasProp(node, reinterpret_cast<const xmlChar*>("href"))) {
            BrowserLink entry;
            entry.url = ResolveLink(AttributeOf(node, "href"), base);
            entry.target = AttributeOf(node, "target");
            xmlChar* content = xmlNodeGetContent(node);
            entry.text = Collapse(Text(content));
            xmlFree(content);
            if (entry.text.empty()) {
                for (xmlNodePtr child = node->children; child && entry.text.empty(); child = child->next)
                    if (child->type == XML_ELEMENT_NODE && Lower(Text(child->name)) == "img")
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

PageLoad LoadPage(const std::string& path, HtmlPage& page, std::string& error) {
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
    xmlResetLastError();
    parts.styleDoc = xmlReadFile(stylePath.c_str(), nullptr, kXmlOptions);
    if (parts.styleDoc == nullptr) {
        error = "cannot read the stylesheet " + stylePath + ": " + LastXmlError("unreadable");
        return PageLoad::kStyleFailed;
    }
    parts.style = xsltParseStylesheetDoc(parts.styleDoc);
    if (parts.style == nullptr) {
        error = "the stylesheet " + stylePath + " is not valid XSLT";
        return PageLoad::kStyleFailed;
    }
    parts.styleDoc = nullptr; // the stylesheet owns it now
    parts.context = xsltNewTransformContext(parts.style, parts.page);
    if (parts.context == nullptr) {
        error = "cannot apply the stylesheet " + stylePath;
        return PageLoad::kStyleFailed;
    }
    xsltSetCtxtSecurityPrefs(securityPrefs, parts.context);
    parts.result = xsltApplyStylesheetUser(parts.style, parts.page, nullptr, nullptr, nullptr, parts.context);
    if (parts.result == nullptr || parts.context->state != XSLT_STATE_OK) {
        error = "the stylesheet " + stylePath + " failed on the page";
        return PageLoad::kStyleFailed;
    }
    int length = 0;
    if (xsltSaveResultToString(&parts.output, &length, parts.result, parts.style) != 0) {
        error = "the stylesheet " + stylePath + " gave no page";
        return PageLoad::kStyleFailed;
    }
    std::string html =
        parts.output ? std::string(reinterpret_cast<const char*>(parts.output), length) : std::string();
    std::string encoding = Text(parts.style->encoding);
    return ParseHtml(html, encoding.empty() ? "UTF-8" : encoding.c_str(), path, page, error);
}

} // namespace tavi::runtime
