// Fuzzes the headless browser's reading of transformed pages with arbitrary status texts, which a
// stylesheet puts out unescaped in the places the plug-in's stylesheet does (a block, a block
// after a phrase) and in places where HTML reads markup differently (a paragraph, a link). The page
// read from the stylesheet's tree must be the page written out and parsed again: the same title,
// text, readable text and links.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "runtime/skin/html_page.h"

namespace {

constexpr char kStylesheet[] =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
    "<xsl:output method=\"html\" encoding=\"UTF-8\"/>"
    "<xsl:template match=\"/feed\"><html><head><title>Feed</title></head><body>"
    "<div class=\"bar\"><a href=\"tavi://refresh/\" target=\"_blank\">Reload</a></div>"
    "<xsl:for-each select=\"post\">"
    "<div class=\"status\" role=\"article\"><img src=\"http://x/a.png\" alt=\"\"/><div class=\"content\">"
    "<span class=\"author\"><xsl:value-of select=\"@author\"/></span>"
    "<div class=\"text\"><xsl:value-of select=\"@text\" disable-output-escaping=\"yes\"/></div>"
    "<div class=\"root\"><span>@<xsl:value-of select=\"@author\"/></span>:"
    "<xsl:value-of select=\"@root\" disable-output-escaping=\"yes\"/></div>"
    "<xsl:if test=\"@odd\"><p><xsl:value-of select=\"@text\" disable-output-escaping=\"yes\"/></p>"
    "<a href=\"http://x/{@id}\"><xsl:value-of select=\"@root\" disable-output-escaping=\"yes\"/></a></xsl:if>"
    "<a href=\"tavi://retweet/id={@id}\" target=\"_blank\">Retweet</a></div></div>"
    "</xsl:for-each></body></html></xsl:template></xsl:stylesheet>";

// The text as an attribute value of the page's XML.
std::string Attribute(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out.push_back(c);
        }
    }
    return out;
}

bool SamePage(const tavi::runtime::HtmlPage& a, const tavi::runtime::HtmlPage& b) {
    if (a.title != b.title || a.text != b.text || a.readable != b.readable ||
        a.links.size() != b.links.size())
        return false;
    for (std::size_t i = 0; i < a.links.size(); ++i)
        if (a.links[i].url != b.links[i].url || a.links[i].text != b.links[i].text ||
            a.links[i].target != b.links[i].target)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz_host_page_XXXXXX";
        std::string made = mkdtemp(pattern) ? pattern : "/tmp";
        std::ofstream(made + "/page.xsl") << kStylesheet;
        return made;
    }();
    // The input is the status text, then after a zero byte the text it answers; its first byte
    // picks whether the paragraph and the link are in the page too.
    std::string input(reinterpret_cast<const char*>(data), size);
    bool odd = !input.empty() && (input[0] & 1);
    std::size_t split = input.find('\0');
    std::string text = input.substr(0, split);
    std::string root = split == std::string::npos ? std::string() : input.substr(split + 1);
    std::string page = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<?xml-stylesheet type=\"text/xsl\" href=\"page.xsl\"?><feed>"
                       "<post id=\"7\" author=\"甲\" text=\"" +
                       Attribute(text) + "\" root=\"" + Attribute(root) + "\"" + (odd ? " odd=\"1\"" : "") +
                       "/><post id=\"8\" author=\"乙\" text=\"plain\" root=\"\"/></feed>";
    const std::string path = folder + "/page.xml";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << page;

    tavi::runtime::HtmlPage fromTree, writtenOut;
    std::string error;
    tavi::runtime::PageLoad first =
        tavi::runtime::LoadPage(path, fromTree, error, tavi::runtime::PageReading::kFromTreeWhereSame);
    tavi::runtime::PageLoad second =
        tavi::runtime::LoadPage(path, writtenOut, error, tavi::runtime::PageReading::kWrittenOut);
    if (first != second || (first == tavi::runtime::PageLoad::kLoaded && !SamePage(fromTree, writtenOut)))
        std::abort(); // the tree gave another page than the browser would read
    return 0;
}
