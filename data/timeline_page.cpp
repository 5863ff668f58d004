#include "data/timeline_page.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>

#include "data/display_time.h"
#include "data/status_html.h"
#include "host/common.h"
#include "host/xml_document.h"

namespace microblog {
namespace {

// A saved page up to this size keeps its buffer for the next rebuild.
constexpr std::size_t kKeptPageBytes = std::size_t{4} * 1024 * 1024;

struct ConversionRules {
    const DisplayTimeFormatter& times;
    const std::string& picturePrefix;
};

// The value of a String member as the page shows it; `made` holds it when it is not the string itself.
const std::string& AttributeText(const std::string& name, const JsonValue& value,
                                 const ConversionRules& rules, std::string& made) {
    if (name == "text" || name == "root_in_reply_to_status_text") {
        made = StatusTextToHtml(value.string(), rules.picturePrefix);
        return made;
    }
    if (name == "created_at") {
        made = rules.times.Format(value.string());
        return made;
    }
    return value.string();
}

// Writes one value under parent: objects as child elements (members in byte order of their
// names), scalars as attributes of parent; Real and Array values are left out.
void ConvertValue(tavi::CXmlDocument& document, tavi::CXmlNode* parent, const std::string& name,
                  const JsonValue& value, int depth, const ConversionRules& rules) {
    switch (value.type()) {
    case JsonValueType::Object: {
        if (depth > kPageMaxDepth)
            return;
        tavi::CXmlNode* node = document.CreateNode(name);
        if (node == nullptr)
            return;
        tavi::CXmlNode* element = document.InsertEndChild(parent, node);
        document.DeleteNode(node);
        if (element == nullptr)
            return;
        for (const auto& [memberName, member] : value.members())
            ConvertValue(document, element, memberName, *member, depth + 1, rules);
        return;
    }
    case JsonValueType::Integer:
        document.SetNodeAttribute(parent, name, std::to_string(value.integer()));
        return;
    case JsonValueType::Null:
        document.SetNodeAttribute(parent, name, "NULL");
        return;
    case JsonValueType::Boolean:
        document.SetNodeAttribute(parent, name, value.boolean() ? "TRUE" : "FALSE");
        return;
    case JsonValueType::String: {
        std::string made;
        document.SetNodeAttribute(parent, name, AttributeText(name, value, rules, made));
        return;
    }
    case JsonValueType::Real:
    case JsonValueType::Array:
        return;
    }
}

bool WriteAll(int descriptor, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Overwrites the file and then cuts it to the new length. (Emptying it first would make some file
// systems write the old and new contents out at once when it is closed.)
bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return false;
    bool ok = WriteAll(descriptor, bytes) && ftruncate(descriptor, static_cast<off_t>(bytes.size())) == 0;
    return close(descriptor) == 0 && ok;
}

// Writes beside the target and renames over it, so the page is either the old one or the new one.
bool ReplaceFile(const std::string& path, const std::string& header, const std::string& body) {
    static std::atomic<unsigned> sequence{0};
    std::string temporary = path + ".new." + std::to_string(getpid()) + "." + std::to_string(++sequence);
    int descriptor = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0)
        return false;
    bool ok = WriteAll(descriptor, header) && WriteAll(descriptor, body);
    ok = close(descriptor) == 0 && ok;
    if (ok && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}

std::string JoinFolder(const std::string& folder, const char* name) {
    if (folder.empty())
        return std::string();
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

std::string DocumentPath(const TimelinePageSettings& settings, int kind) {
    switch (kind) {
    case kDocumentTimeline:
        return JoinFolder(settings.userFolder, kTimelineFileName);
    case kDocumentHome:
        return JoinFolder(settings.userFolder, kHomeFileName);
    case kDocumentStylesheet:
        return settings.appPath + kStylesheetPath;
    case kDocumentMentions:
        return JoinFolder(settings.userFolder, kMentionsFileName);
    default:
        return std::string();
    }
}

std::string PageHeader(const std::string& stylesheetPath) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string href;
    for (unsigned char c : tavi::CString_to_utf8(stylesheetPath)) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' ||
                     c == '.' || c == '-' || c == '_' || c == '~' || c == ':';
        if (plain) {
            href.push_back(static_cast<char>(c));
        } else {
            href.push_back('%');
            href.push_back(kHex[c >> 4]);
            href.push_back(kHex[c & 15]);
        }
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<?xml-stylesheet type=\"text/xsl\" href=\"" + href +
           "\"?>\r\n";
}

void BuildTimelineDocument(tavi::CXmlDocument& document, const TimelineSources& sources,
                           const std::string& picturePrefix, std::time_t now, PageView view) {
    tavi::CXmlNode* root = document.InsertEndChild("VEDIDE");
    if (root == nullptr)
        return;
    const JsonValue* statuses = sources.timeline;
    if (view == PageView::Mentions) {
        document.SetNodeAttribute(root, kPageViewAttribute, kMentionsView);
        statuses = sources.mentions;
    }
    DisplayTimeFormatter times(now);
    ConversionRules rules{times, picturePrefix};
    if (sources.account != nullptr)
        ConvertValue(document, root, "uinfo", *sources.account, 1, rules);
    if (sources.reminds != nullptr)
        ConvertValue(document, root, "msg", *sources.reminds, 1, rules);
    if (statuses != nullptr && statuses->Is(JsonValueType::Array))
        for (const auto& status : statuses->elements())
            ConvertValue(document, root, "wbinfo", *status, 1, rules);
}

namespace {

// Saves the page's tree into `tree`, then writes the intermediate file when there is one and the
// page behind its header. The text is kept for the next rebuild (on the same thread), so that a
// page costs no large allocation and free of its own.
bool WritePage(const TimelinePageSettings& settings, const TimelineSources& sources, std::time_t now,
               PageView view, const std::string& treePath, const std::string& pagePath) {
    thread_local std::string tree;
    bool written = false;
    {
        tavi::CXmlDocument document;
        BuildTimelineDocument(document, sources, settings.picturePrefix, now, view);
        written = document.SaveToString(tree) && (treePath.empty() || WriteWholeFile(treePath, tree)) &&
                  ReplaceFile(pagePath, PageHeader(DocumentPath(settings, kDocumentStylesheet)), tree);
    }
    if (tree.capacity() > kKeptPageBytes)
        std::string().swap(tree);
    return written;
}

} // namespace

bool RebuildTimelinePage(const TimelinePageSettings& settings, const TimelineSources& sources,
                         std::time_t now) {
    std::string treePath = DocumentPath(settings, kDocumentTimeline);
    std::string pagePath = DocumentPath(settings, kDocumentHome);
    if (treePath.empty() || pagePath.empty())
        return false;
    // The tree is saved once; timeline.xml and the page behind its header get the same bytes.
    return WritePage(settings, sources, now, PageView::Home, treePath, pagePath);
}

bool RebuildMentionsPage(const TimelinePageSettings& settings, const TimelineSources& sources,
                         std::time_t now) {
    std::string pagePath = DocumentPath(settings, kDocumentMentions);
    if (pagePath.empty())
        return false;
    return WritePage(settings, sources, now, PageView::Mentions, std::string(), pagePath);
}

std::string GetDocumentPath(const TimelinePageSettings& settings, int kind, bool regenerate,
                            const TimelineSources& sources) {
    if (regenerate && kind == kDocumentHome)
        RebuildTimelinePage(settings, sources, std::time(nullptr));
    else if (regenerate && kind == kDocumentMentions)
        RebuildMentionsPage(settings, sources, std::time(nullptr));
    return DocumentPath(settings, kind);
}

} // namespace microblog
