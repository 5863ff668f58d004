// Loading a page for the browser control: an XML document that names an XSL stylesheet is
// transformed with libxslt, HTML is parsed with libxml2's HTML parser, and the page is reduced to
// what the headless control keeps: title, readable text and links. Compiled stylesheets are kept
// while their files are unchanged, and a transformed page of the usual shape is read from the tree
// the stylesheet made (its unescaped texts parsed as HTML) rather than written out and parsed again,
// with the same result.
#pragma once

#include <string>
#include <vector>

#include "host/web_browser.h"

namespace tavi::runtime {

struct HtmlPage {
    std::string title;
    std::string text;
    std::string readable; // the text with "[N]" after the text of link N
    std::vector<BrowserLink> links;
};

enum class PageLoad {
    kLoaded,      // the page is in `page`
    kMissing,     // no readable file at the path
    kStyleFailed, // the file was read but its stylesheet could not be loaded or applied
    kNotAPage,    // the file is neither XML nor HTML that the parsers accept
};

// Initialises libxml2 and libxslt and sets the stylesheet security rules (no writing of files, no
// network). Safe to call more than once, from any thread.
void InitPageLibraries();

// How a page its stylesheet made is read: from the stylesheet's tree where that gives what the page
// written out and parsed again gives (the usual way), or always written out and parsed again.
enum class PageReading { kFromTreeWhereSame, kWrittenOut };

// Loads a local page. `path` is the page's file path; `error` says what went wrong.
PageLoad LoadPage(const std::string& path, HtmlPage& page, std::string& error,
                  PageReading reading = PageReading::kFromTreeWhereSame);

// The file path a page address names: an absolute path, a file: URL (percent-decoded) or a path
// relative to `base` (a file path); empty for other schemes.
std::string PagePathFromUrl(const std::string& url, const std::string& base);

} // namespace tavi::runtime
