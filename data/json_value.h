// One node of a JSON tree as the reader builds it: a typed scalar, or a container that owns its
// elements (Array, in document order) or members (Object, in byte order of their names, with the
// order in which each name first appeared kept beside them). Strings and names are narrow text in
// the system code page.
//
// Nodes are reached through pointers that stay valid as long as the tree: elements() and
// members() hand out `const JsonValue*`, so `for (const auto& element : array.elements())
// element->Is(...)` and `for (const auto& [name, value] : object.members()) value->...`.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace microblog {

enum class JsonValueType : std::int32_t {
    Integer = 0,
    Real = 1,
    Null = 2,
    Boolean = 3,
    String = 4,
    Array = 5,
    Object = 6,
};

class JsonValue {
    struct Container;
    struct ContainerDeleter {
        void operator()(Container* container) const;
    };
    using ContainerBox = std::unique_ptr<Container, ContainerDeleter>;

public:
    // A member as stored: its name (kept once for the whole tree, see SetMemberNamed) and value.
    struct Entry;

    // The elements of an Array in document order.
    class ElementView {
    public:
        class Iterator {
        public:
            explicit Iterator(const JsonValue* at) : at_(at) {}
            const JsonValue* operator*() const { return at_; }
            Iterator& operator++() {
                ++at_;
                return *this;
            }
            bool operator==(const Iterator& other) const { return at_ == other.at_; }
            bool operator!=(const Iterator& other) const { return at_ != other.at_; }

        private:
            const JsonValue* at_;
        };
        ElementView(const JsonValue* first, std::size_t count) : first_(first), count_(count) {}
        Iterator begin() const { return Iterator(first_); }
        Iterator end() const { return Iterator(first_ + count_); }
        std::size_t size() const { return count_; }
        bool empty() const { return count_ == 0; }
        const JsonValue* operator[](std::size_t index) const { return first_ + index; }

    private:
        const JsonValue* first_;
        std::size_t count_;
    };

    // One member: its name and its value.
    struct MemberRef {
        const std::string& first;
        const JsonValue* second;
    };

    // The members of an Object in byte order of their names (std::string compares bytes unsigned).
    class MemberView {
    public:
        class Iterator {
        public:
            Iterator(const Entry* entries, const std::uint32_t* at) : entries_(entries), at_(at) {}
            MemberRef operator*() const;
            Iterator& operator++() {
                ++at_;
                return *this;
            }
            bool operator==(const Iterator& other) const { return at_ == other.at_; }
            bool operator!=(const Iterator& other) const { return at_ != other.at_; }

        private:
            const Entry* entries_;
            const std::uint32_t* at_;
        };
        MemberView(const Entry* entries, const std::uint32_t* order, std::size_t count)
            : entries_(entries), order_(order), count_(count) {}
        Iterator begin() const { return Iterator(entries_, order_); }
        Iterator end() const { return Iterator(entries_, order_ + count_); }
        std::size_t size() const { return count_; }
        bool empty() const { return count_ == 0; }

    private:
        const Entry* entries_;
        const std::uint32_t* order_;
        std::size_t count_;
    };

    // A Null, or an empty Array or Object, or a zero of another type. A container keeps its own
    // storage (and that of the containers added to it by the reader) in the given memory, which
    // must outlive it; the reader gives each tree an arena of its own.
    explicit JsonValue(JsonValueType type = JsonValueType::Null,
                       std::pmr::memory_resource* memory = std::pmr::new_delete_resource());
    static JsonValue MakeInteger(std::int32_t value);
    static JsonValue MakeReal(double value);
    static JsonValue MakeBoolean(bool value);
    // A String refers to its text, which its owner keeps for as long as the node (the reader
    // keeps the texts of a tree beside it): a node stays small and is destroyed without freeing.
    static JsonValue MakeString(const std::string* text);

    // Destroying a node destroys its subtree without recursion, so any depth is safe.
    ~JsonValue();
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(JsonValue&& other) noexcept;
    JsonValue(const JsonValue&) = delete;
    JsonValue& operator=(const JsonValue&) = delete;

    JsonValueType type() const { return type_; }
    bool Is(JsonValueType type) const { return type_ == type; }
    // The container this node was opened in; null for scalars and for the root.
    const JsonValue* parent() const;
    JsonValue* parent();

    // Payloads; each reads as zero or empty for a node of another type.
    std::int32_t integer() const;
    double real() const;
    bool boolean() const;
    const std::string& string() const;

    // Array: the elements in document order (none for other types).
    ElementView elements() const;
    std::size_t size() const { return elements().size(); }
    const JsonValue* at(std::size_t index) const;

    // Object: the members in byte order of their names; the names in the order in which each
    // first appeared; lookup by exact name (null when absent or when this is not an Object).
    MemberView members() const;
    std::vector<std::string> keyOrder() const;
    const JsonValue* Find(std::string_view name) const;
    // The member when it exists and has the given type, else null.
    const JsonValue* Find(std::string_view name, JsonValueType type) const;
    // The text of a String member; null when it is absent or not a String.
    const std::string* FindString(std::string_view name) const;

    // Building (the reader's tree builder). Append adds to an Array. AppendMember adds a member
    // to an Object under a name it does not have yet, which stays valid as long as the tree (the
    // reader keeps each distinct name of a tree once); ReplaceMember gives the member at a
    // position a new value, keeping its name and place, as a repeated name does. Each returns the
    // stored node, which stays where it is until the container grows.
    JsonValue* Append(JsonValue&& child);
    JsonValue* AppendMember(const std::string* name, JsonValue&& child);
    JsonValue* ReplaceMember(std::size_t position, JsonValue&& child);
    // What identifies this container among all containers of its tree, for as long as the tree
    // lives (even when the node moves, or a repeated name replaces it); null for a scalar.
    const void* Identity() const;
    // The names of Objects finished lately and their order by name: an Object with the same names
    // in the same order as one of them (fifty statuses alike, their users alike) takes that order
    // without comparing a name.
    struct Shape {
        std::vector<const std::string*> names;
        std::vector<std::uint32_t> order;
    };
    struct Shapes {
        static constexpr std::size_t kKept = 4;
        Shape kept[kKept];
        std::size_t next = 0; // the one a new shape replaces
    };
    // Completes the name order of this Object; the builder calls it when the Object closes, and
    // FinishOpenObjects for this one and all it is inside when the text ends with them still
    // open. Lookups and member order are valid only after that.
    void FinishObject(Shapes* shapes = nullptr);
    void FinishOpenObjects();
    // Room for this many elements or members (containers only), and how many there are.
    void Reserve(std::size_t count);
    std::size_t Count() const;

private:
    Container* container() const;
    // Points the container (if any) back at this node, after the node was made or moved.
    void Adopt();
    static std::size_t LowerBound(const Container& object, std::string_view name);

    std::variant<std::monostate, std::int32_t, double, bool, const std::string*, ContainerBox> payload_;
    JsonValueType type_;
};

struct JsonValue::Entry {
    const std::string* name;
    JsonValue value;
};

inline JsonValue::MemberRef JsonValue::MemberView::Iterator::operator*() const {
    return {*entries_[*at_].name, &entries_[*at_].value};
}

// The storage of an Array or Object, apart from the node so that its address, and the parent
// links of the containers inside it, stay put while the tree grows.
struct JsonValue::Container {
    explicit Container(std::pmr::memory_resource* memory)
        : elements(memory), entries(memory), byName(memory) {}
    Container(const Container&) = delete;
    Container& operator=(const Container&) = delete;
    ~Container();

    std::pmr::memory_resource* memory() const { return elements.get_allocator().resource(); }
    // Moves the containers inside this one into the list (the destructor's walk).
    void TakeChildren(std::vector<ContainerBox>& into);
    void Finish(Shapes* shapes);

    JsonValue* owner = nullptr;
    Container* parent = nullptr;
    std::pmr::vector<JsonValue> elements;
    // Object: members in order of first appearance (which is the key order), and, once the
    // Object is finished, their positions sorted by name.
    std::pmr::vector<Entry> entries;
    std::pmr::vector<std::uint32_t> byName;
};

} // namespace microblog
