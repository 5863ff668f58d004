// Fuzzes the page writer: the input is cut at each 0x1E byte into a stylesheet path (in the system
// code page), then the account, the reminder counts and the timeline as JSON texts. Whatever the
// reader made of them, the page as written (its header, then the saved tree) must be well-formed
// XML whose root element is the writer's own.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/json_reader.h"
#include "data/timeline_page.h"
#include "host/common.h"
#include "host/xml_document.h"

namespace {

constexpr char kSeparator = '\x1e';

std::vector<std::string> Cut(const char* data, std::size_t size, std::size_t parts) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (out.size() + 1 < parts) {
        const void* found = std::memchr(data + start, kSeparator, size - start);
        if (found == nullptr)
            break;
        std::size_t at = static_cast<const char*>(found) - data;
        out.emplace_back(data + start, at - start);
        start = at + 1;
    }
    out.emplace_back(data + start, size - start);
    out.resize(parts);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        tavi::SetSystemCodePage("GB18030");
        xmlInitParser();
        return true;
    }();
    (void)ready;
    std::vector<std::string> parts = Cut(reinterpret_cast<const char*>(data), size, 4);
    microblog::JsonReader readers[3];
    for (int i = 0; i < 3; ++i)
        readers[i].Parse(parts[i + 1].c_str());

    microblog::TimelineSources sources{readers[0].root(), readers[1].root(), readers[2].root()};
    tavi::CXmlDocument document;
    microblog::BuildTimelineDocument(document, sources, "http://t.vel.cn/", 1289916400);
    std::string tree;
    if (!document.SaveToString(tree))
        std::abort();
    std::string page = microblog::PageHeader(parts[0]) + tree;
    xmlDocPtr parsed = xmlReadMemory(page.data(), static_cast<int>(page.size()), "page.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (parsed == nullptr)
        std::abort(); // the writer made a page that is not well-formed
    xmlNodePtr root = xmlDocGetRootElement(parsed);
    if (root == nullptr || std::strcmp(reinterpret_cast<const char*>(root->name), "VEDIDE") != 0)
        std::abort();
    xmlFreeDoc(parsed);
    return 0;
}
