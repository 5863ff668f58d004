#include "data/json_value.h"

#include <algorithm>

namespace microblog {
namespace {

const std::string kEmptyString;
// Members an Object takes with its name order kept sorted as they come.
constexpr std::size_t kSmallObject = 64;

} // namespace

void JsonValue::ContainerDeleter::operator()(Container* container) const {
    std::pmr::memory_resource* memory = container->memory();
    container->~Container();
    memory->deallocate(container, sizeof(Container), alignof(Container));
}

JsonValue::JsonValue(JsonValueType type, std::pmr::memory_resource* memory) : type_(type) {
    switch (type) {
    case JsonValueType::Integer:
        payload_.emplace<std::int32_t>(0);
        break;
    case JsonValueType::Real:
        payload_.emplace<double>(0.0);
        break;
    case JsonValueType::Boolean:
        payload_.emplace<bool>(false);
        break;
    case JsonValueType::String:
        payload_.emplace<std::string>();
        break;
    case JsonValueType::Array:
    case JsonValueType::Object:
        payload_.emplace<ContainerBox>(new (memory->allocate(sizeof(Container), alignof(Container)))
                                           Container(memory));
        Adopt();
        break;
    case JsonValueType::Null:
        break;
    }
}

JsonValue JsonValue::MakeInteger(std::int32_t value) {
    JsonValue node(JsonValueType::Null);
    node.type_ = JsonValueType::Integer;
    node.payload_.emplace<std::int32_t>(value);
    return node;
}

JsonValue JsonValue::MakeReal(double value) {
    JsonValue node(JsonValueType::Null);
    node.type_ = JsonValueType::Real;
    node.payload_.emplace<double>(value);
    return node;
}

JsonValue JsonValue::MakeBoolean(bool value) {
    JsonValue node(JsonValueType::Null);
    node.type_ = JsonValueType::Boolean;
    node.payload_.emplace<bool>(value);
    return node;
}

JsonValue JsonValue::MakeString(std::string value) {
    JsonValue node(JsonValueType::Null);
    node.type_ = JsonValueType::String;
    node.payload_.emplace<std::string>(std::move(value));
    return node;
}

JsonValue::~JsonValue() = default;

JsonValue::JsonValue(JsonValue&& other) noexcept : payload_(std::move(other.payload_)), type_(other.type_) {
    Adopt();
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        payload_ = std::move(other.payload_);
        type_ = other.type_;
        Adopt();
    }
    return *this;
}

JsonValue::Container* JsonValue::container() const {
    const auto* box = std::get_if<ContainerBox>(&payload_);
    return box ? box->get() : nullptr;
}

void JsonValue::Adopt() {
    if (Container* data = container())
        data->owner = this;
}

JsonValue::Container::~Container() {
    // Containers inside are detached before they die, so a subtree of any depth is destroyed by
    // one loop here, in the outermost destructor; the destructors it runs find nothing inside.
    // The list is kept for the thread, so destroying a tree does not free (and make the
    // allocator consolidate) a list of its own each time.
    thread_local std::vector<ContainerBox> doomed;
    thread_local bool walking = false;
    TakeChildren(doomed);
    if (walking)
        return;
    walking = true;
    while (!doomed.empty()) {
        ContainerBox next = std::move(doomed.back());
        doomed.pop_back();
        next->TakeChildren(doomed);
    }
    walking = false;
}

void JsonValue::Container::TakeChildren(std::vector<ContainerBox>& into) {
    auto take = [&into](JsonValue& value) {
        if (auto* box = std::get_if<ContainerBox>(&value.payload_); box && *box)
            into.push_back(std::move(*box));
    };
    for (JsonValue& element : elements)
        take(element);
    for (Entry& entry : entries)
        take(entry.value);
}

const JsonValue* JsonValue::parent() const {
    Container* data = container();
    return data && data->parent ? data->parent->owner : nullptr;
}

JsonValue* JsonValue::parent() {
    Container* data = container();
    return data && data->parent ? data->parent->owner : nullptr;
}

std::int32_t JsonValue::integer() const {
    const auto* value = std::get_if<std::int32_t>(&payload_);
    return value ? *value : 0;
}

double JsonValue::real() const {
    const auto* value = std::get_if<double>(&payload_);
    return value ? *value : 0.0;
}

bool JsonValue::boolean() const {
    const auto* value = std::get_if<bool>(&payload_);
    return value ? *value : false;
}

const std::string& JsonValue::string() const {
    const auto* value = std::get_if<std::string>(&payload_);
    return value ? *value : kEmptyString;
}

JsonValue::ElementView JsonValue::elements() const {
    Container* data = type_ == JsonValueType::Array ? container() : nullptr;
    return data ? ElementView(data->elements.data(), data->elements.size()) : ElementView(nullptr, 0);
}

const JsonValue* JsonValue::at(std::size_t index) const {
    ElementView list = elements();
    return index < list.size() ? list[index] : nullptr;
}

JsonValue::MemberView JsonValue::members() const {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr)
        return MemberView(nullptr, nullptr, 0);
    return MemberView(data->entries.data(), data->byName.data(), data->byName.size());
}

std::vector<std::string> JsonValue::keyOrder() const {
    std::vector<std::string> names;
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data != nullptr) {
        names.reserve(data->entries.size());
        for (const Entry& entry : data->entries)
            names.push_back(*entry.name);
    }
    return names;
}

std::size_t JsonValue::LowerBound(const Container& data, std::string_view name) {
    std::size_t low = 0;
    std::size_t high = data.byName.size();
    while (low < high) {
        std::size_t middle = low + (high - low) / 2;
        if (std::string_view(*data.entries[data.byName[middle]].name) < name)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

const JsonValue* JsonValue::Find(std::string_view name) const {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr)
        return nullptr;
    std::size_t at = LowerBound(*data, name);
    if (at == data->byName.size())
        return nullptr;
    const Entry& entry = data->entries[data->byName[at]];
    return *entry.name == name ? &entry.value : nullptr;
}

const JsonValue* JsonValue::Find(std::string_view name, JsonValueType type) const {
    const JsonValue* member = Find(name);
    return member != nullptr && member->type_ == type ? member : nullptr;
}

const std::string* JsonValue::FindString(std::string_view name) const {
    const JsonValue* member = Find(name, JsonValueType::String);
    return member ? &member->string() : nullptr;
}

JsonValue* JsonValue::Append(JsonValue child) {
    Container* data = type_ == JsonValueType::Array ? container() : nullptr;
    if (data == nullptr)
        return nullptr;
    if (Container* inner = child.container())
        inner->parent = data;
    data->elements.push_back(std::move(child));
    return &data->elements.back();
}

JsonValue* JsonValue::SetMember(const std::string& name, JsonValue child) {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr)
        return nullptr;
    if (!data->ownNames)
        data->ownNames = std::make_unique<std::deque<std::string>>();
    // A copy of the name is kept only when the name is new to the Object.
    std::string_view wanted(name);
    if (data->largeIndex) {
        auto found = data->largeIndex->find(wanted);
        if (found != data->largeIndex->end())
            return SetMemberNamed(data->entries[found->second].name, std::move(child));
    } else {
        std::size_t at = LowerBound(*data, wanted);
        if (at < data->byName.size() && *data->entries[data->byName[at]].name == wanted)
            return SetMemberNamed(data->entries[data->byName[at]].name, std::move(child));
    }
    data->ownNames->push_back(name);
    return SetMemberNamed(&data->ownNames->back(), std::move(child));
}

JsonValue* JsonValue::SetMemberNamed(const std::string* name, JsonValue child) {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr || name == nullptr)
        return nullptr;
    if (Container* inner = child.container())
        inner->parent = data;
    if (data->largeIndex) {
        auto [slot, inserted] = data->largeIndex->try_emplace(
            std::string_view(*name), static_cast<std::uint32_t>(data->entries.size()));
        if (!inserted) {
            Entry& existing = data->entries[slot->second];
            existing.value = std::move(child);
            return &existing.value;
        }
        data->entries.push_back(Entry{name, std::move(child)});
        return &data->entries.back().value;
    }
    std::size_t at = LowerBound(*data, *name);
    if (at < data->byName.size()) {
        Entry& existing = data->entries[data->byName[at]];
        if (*existing.name == *name) {
            existing.value = std::move(child);
            return &existing.value;
        }
    }
    data->byName.insert(data->byName.begin() + static_cast<std::ptrdiff_t>(at),
                        static_cast<std::uint32_t>(data->entries.size()));
    data->entries.push_back(Entry{name, std::move(child)});
    if (data->byName.size() > kSmallObject) {
        data->largeIndex = std::make_unique<std::map<std::string_view, std::uint32_t>>();
        for (std::uint32_t index : data->byName)
            data->largeIndex->emplace_hint(data->largeIndex->end(), *data->entries[index].name, index);
        data->byName.clear();
    }
    return &data->entries.back().value;
}

void JsonValue::Container::Finish() {
    if (!largeIndex)
        return;
    byName.clear();
    byName.reserve(largeIndex->size());
    for (const auto& name : *largeIndex)
        byName.push_back(name.second);
    largeIndex.reset();
}

void JsonValue::Reserve(std::size_t count) {
    Container* data = container();
    if (data == nullptr)
        return;
    if (type_ == JsonValueType::Array) {
        data->elements.reserve(count);
    } else {
        data->entries.reserve(count);
        data->byName.reserve(std::min(count, kSmallObject + 1));
    }
}

std::size_t JsonValue::Count() const {
    Container* data = container();
    return data == nullptr ? 0 : type_ == JsonValueType::Array ? data->elements.size() : data->entries.size();
}

void JsonValue::FinishObject() {
    if (Container* data = container())
        data->Finish();
}

void JsonValue::FinishOpenObjects() {
    for (Container* data = container(); data != nullptr; data = data->parent)
        data->Finish();
}

} // namespace microblog
