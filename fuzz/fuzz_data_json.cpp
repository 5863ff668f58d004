// Fuzzes the JSON reader alone with arbitrary bytes: every tree it leaves must hold together when
// walked (the page built from such trees has a target of its own, fuzz_data_page).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/json_reader.h"
#include "host/common.h"

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
        return true;
    }();
    (void)ready;
    std::string text(reinterpret_cast<const char*>(data), size);
    microblog::JsonReader reader;
    // A first tree, so that the second parse either keeps it or replaces it.
    reader.Parse("[{\"id\":\"1\",\"text\":\"http://t.vel.cn/a\"}]");
    reader.Parse(text.c_str());
    Walk(reader.root());
    return 0;
}
