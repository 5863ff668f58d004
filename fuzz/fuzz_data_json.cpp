// Fuzzes the JSON reader with arbitrary bytes, then builds the timeline page's element tree from
// whatever tree it left and checks that the saved tree is always well-formed XML.
#include <libxml/parser.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/json_reader.h"
#include "data/timeline_page.h"
#include "host/common.h"
#include "host/xml_document.h"

namespace {

// Visits every node without recursion and reads each payload, so a broken tree shows up.
std::size_t Walk(const microblog::JsonValue* root) {
    std::size_t nodes = 0;
    const microblog::JsonValue* node = root;
    std::string names;
    std::vector<const microblog::JsonValue*> pending;
    if (node)
        pending.push_back(node);
    while (!pending.empty()) {
        node = pending.back();
        pending.pop_back();
        ++nodes;
        switch (node->type()) {
        case microblog::JsonValueType::Array:
            for (const auto& element : node->elements())
                pending.push_back(element);
            break;
        case microblog::JsonValueType::Object: {
            std::vector<std::string> order = node->keyOrder();
            if (order.size() != node->members().size())
                std::abort();
            for (const auto& [name, member] : node->members()) {
                if (node->Find(name) != member)
                    std::abort();
                pending.push_back(member);
            }
            break;
        }
        case microblog::JsonValueType::String:
            names += node->string().substr(0, 1);
            break;
        default:
            break;
        }
    }
    return nodes + names.size();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        tavi::SetSystemCodePage("GB18030");
        xmlInitParser();
        return true;
    }();
    (void)ready;
    std::string text(reinterpret_cast<const char*>(data), size);
    microblog::JsonReader reader;
    // A first tree, so that the second parse either keeps it or replaces it.
    reader.Parse("[{\"id\":\"1\",\"text\":\"http://t.vel.cn/a\"}]");
    reader.Parse(text.c_str());
    Walk(reader.root());

    microblog::TimelineSources sources{reader.root(), reader.root(), reader.root()};
    tavi::CXmlDocument document;
    microblog::BuildTimelineDocument(document, sources, "http://t.vel.cn/", 1289916400);
    std::string saved;
    if (!document.SaveToString(saved))
        std::abort();
    xmlDocPtr parsed = xmlReadMemory(saved.data(), static_cast<int>(saved.size()), "fuzz.xml", nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (parsed == nullptr)
        std::abort(); // the page writer made a document that is not well-formed
    xmlFreeDoc(parsed);
    return 0;
}
