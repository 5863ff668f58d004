// The timeline pages: the element tree VEDIDE / uinfo / msg / wbinfo made from the service's reply
// documents, saved as timeline.xml and written behind a header naming the stylesheet as home.xml,
// the page the list panel shows; and the mentions page, mentions.xml, written the same way from the
// statuses that mention the user, its root marked view="mentions" for the stylesheet.
//
// The service answers its GetDocumentPath(out path, kind, regenerate) with GetDocumentPath below,
// on the UI thread, holding its locks on the three documents while the call runs:
//
//     microblog::TimelinePageSettings settings{userFolder, tavi::GetAppPath(), picturePrefix};
//     microblog::TimelineSources sources{account.root(), reminds.root(), homeTimeline.root(),
//                                        mentions.root()};
//     path = microblog::GetDocumentPath(settings, kind, regenerate != 0, sources);
//
// Kinds: 0 the user folder's timeline.xml (the element tree as saved), 2 its home.xml (the page,
// rebuilt first when regenerate is set), 3 the stylesheet in the plug-in folder, 4 the user folder's
// mentions.xml (the mentions page, rebuilt first when regenerate is set); others give "".
// A source that is null is left out of the page. A rebuild that cannot finish leaves the previous
// page as it was.
#pragma once

#include <ctime>
#include <string>

#include "data/json_value.h"

namespace tavi {
class CXmlDocument;
}

namespace microblog {

constexpr int kDocumentTimeline = 0;
constexpr int kDocumentHome = 2;
constexpr int kDocumentStylesheet = 3;
constexpr int kDocumentMentions = 4;

constexpr char kTimelineFileName[] = "timeline.xml";
constexpr char kHomeFileName[] = "home.xml";
constexpr char kMentionsFileName[] = "mentions.xml";
// The root's attribute that tells the stylesheet which page it shows (the home page has none).
constexpr char kPageViewAttribute[] = "view";
constexpr char kMentionsView[] = "mentions";
// Relative to the host folder.
constexpr char kStylesheetPath[] = "plugin/microblog/vedide_home.xsl";

// Objects nested deeper than this (the uinfo, msg and wbinfo elements being the first level) are
// left out of the page, so no tree can make the writer recurse without bound.
constexpr int kPageMaxDepth = 64;

struct TimelinePageSettings {
    std::string userFolder;    // the per-user folder of the plug-in
    std::string appPath;       // the host folder, ending in '/'
    std::string picturePrefix; // the picture short-link prefix of the deployment settings
};

// The roots of the service's documents; any may be null.
struct TimelineSources {
    const JsonValue* account = nullptr;
    const JsonValue* reminds = nullptr;
    const JsonValue* timeline = nullptr;
    const JsonValue* mentions = nullptr;
};

// Which list of statuses a page shows.
enum class PageView { Home, Mentions };

std::string GetDocumentPath(const TimelinePageSettings& settings, int kind, bool regenerate,
                            const TimelineSources& sources);

// The path of a kind, without rebuilding.
std::string DocumentPath(const TimelinePageSettings& settings, int kind);

// Writes timeline.xml and then home.xml, with display times relative to now. False when a file
// could not be written or read back; home.xml is then as it was.
bool RebuildTimelinePage(const TimelinePageSettings& settings, const TimelineSources& sources,
                         std::time_t now);

// Writes mentions.xml from the account, the reminder counters and the mentions. False when it could
// not be written; the page is then as it was.
bool RebuildMentionsPage(const TimelinePageSettings& settings, const TimelineSources& sources,
                         std::time_t now);

// Builds the element tree of a page into an empty document (the first steps of a rebuild): the
// home timeline's statuses, or the mentions' under a root marked as the mentions page.
void BuildTimelineDocument(tavi::CXmlDocument& document, const TimelineSources& sources,
                           const std::string& picturePrefix, std::time_t now, PageView view = PageView::Home);

// The two header lines that bind the page to its stylesheet, in UTF-8. The path is given as a URI
// reference, with bytes that may not stand in one percent-encoded.
std::string PageHeader(const std::string& stylesheetPath);

} // namespace microblog
