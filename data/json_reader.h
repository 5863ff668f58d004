// The JSON reader: turns one reply text into a tree of JsonValue nodes and keeps that tree until
// the next text replaces it. Strings and names are converted from UTF-8 to the system code page.
//
// Parse rules the service relies on:
// - a null or empty text returns false and changes nothing;
// - the previous tree stays until the new text opens its first bracket or brace, so a text
//   rejected before that keeps it, and one rejected later leaves the partial new tree;
// - a text that ends inside an open container returns true with what was built (a number or
//   keyword not yet followed by a delimiter is not in it);
// - a repeated member name keeps the position of its first appearance, and the last value wins.
// Not locked: one thread parses at a time, and readers read only after the parse is over.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "data/json_arena.h"
#include "data/json_parser.h"
#include "data/json_value.h"

namespace tavi {
class CodePageConverter;
}

namespace microblog {

class JsonReader {
public:
    JsonReader();
    ~JsonReader();
    JsonReader(const JsonReader&) = delete;
    JsonReader& operator=(const JsonReader&) = delete;

    // Parses a NUL-terminated UTF-8 text; true when every byte up to the NUL was accepted.
    bool Parse(const char* text);

    // The tree of the last text; null until a text has opened its first container, and after Clear.
    const JsonValue* root() const { return root_.get(); }
    // Destroys the tree; the next Parse starts from an empty reader.
    void Clear();

private:
    static bool OnEvent(void* context, JsonEvent event, const JsonEventData& data);
    bool Build(JsonEvent event, const JsonEventData& data);
    JsonValue* Add(JsonValue&& node);
    // A member name of the tree, kept once, with the open Objects it was given to (by identity),
    // each with its depth and the name's position there: a name given to the same Object again is
    // a repeated name. Only Objects that are still open can take the name again, and at most one
    // is open at each depth, so the uses form a stack no deeper than the tree; the deepest is kept
    // in place, as most names are used at one depth only.
    struct NameUse {
        const void* object = nullptr;
        std::size_t depth = 0;
        std::size_t position = 0;
    };
    struct Name {
        std::string text;
        NameUse last;
        std::vector<NameUse> outer;
    };
    // The tree's one copy of a member name of the Object now open.
    Name* InternKey(std::string_view key);
    bool Open(JsonValueType type);
    void Close();
    // Destroys the tree and the names it used.
    void ForgetTree();
    void ToSystemCodePage(const char* bytes, std::size_t length, bool ascii, std::string& out);

    JsonValue* current_ = nullptr;
    // The last member name reported: converted here when it is not plain ASCII, and kept once.
    std::string pendingKey_;
    Name* pendingName_ = nullptr;
    // The depth of current_, and the size of the container last closed at each of the first
    // depths, which the next container opened there reserves.
    std::size_t depth_ = 0;
    static constexpr std::size_t kHintedDepths = 8;
    static constexpr std::size_t kLargestHint = 256;
    std::vector<std::uint32_t> sizeHints_;
    // Each distinct member name of the tree, kept once, with an index by text and, for the first
    // depths, the name last seen at each position of an Object (replies repeat their members in
    // the same order, so most names are found there with one comparison). Cleared with the tree.
    std::deque<Name> names_;
    std::unordered_map<std::string_view, Name*> nameIndex_;
    std::vector<std::vector<Name*>> recentNames_;
    // The shape of the Object last finished at each of the first depths.
    std::vector<JsonValue::Shapes> shapes_;
    static constexpr std::size_t kRecentPositions = 256;
    // The storage of the tree's containers, reset when the tree is replaced: a tree goes in a few
    // large blocks rather than piece by piece, and the next one reuses them. Declared before
    // root_, which is destroyed first.
    JsonArena arena_;
    // The texts of the tree's Strings, in document order, which the nodes refer to. The next
    // tree writes its texts over them in turn (the text at the same place usually has the room
    // needed, so most take no allocation); those it does not reach are freed when its parse ends.
    std::deque<std::string> strings_;
    std::size_t stringsUsed_ = 0;
    // Made anew for each text, in place.
    std::optional<JsonParser> parser_;
    // The root node lives in the arena too: destroying it runs its destructor (which frees the
    // strings of the tree) and leaves its memory to the arena.
    struct DestroyInArena {
        void operator()(JsonValue* root) const { root->~JsonValue(); }
    };
    std::unique_ptr<JsonValue, DestroyInArena> root_;
    // The converter of the parse, opened once when it starts.
    std::unique_ptr<tavi::CodePageConverter> converter_;
};

} // namespace microblog
