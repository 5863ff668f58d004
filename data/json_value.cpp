#include "data/json_value.h"

#include <algorithm>

namespace microblog {
namespace {

const std::string kEmptyString;

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
        payload_.emplace<const std::string*>(&kEmptyString);
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

JsonValue JsonValue::MakeString(const std::string* text) {
    JsonValue node(JsonValueType::Null);
    node.type_ = JsonValueType::String;
    node.payload_.emplace<const std::string*>(text != nullptr ? text : &kEmptyString);
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
    const auto* text = std::get_if<const std::string*>(&payload_);
    return text ? **text : kEmptyString;
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

JsonValue* JsonValue::Append(JsonValue&& child) {
    Container* data = type_ == JsonValueType::Array ? container() : nullptr;
    if (data == nullptr)
        return nullptr;
    if (Container* inner = child.container())
        inner->parent = data;
    data->elements.push_back(std::move(child));
    return &data->elements.back();
}

JsonValue* JsonValue::AppendMember(const std::string* name, JsonValue&& child) {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr || name == nullptr)
        return nullptr;
    if (Container* inner = child.container())
        inner->parent = data;
    data->entries.push_back(Entry{name, std::move(child)});
    return &data->entries.back().value;
}

JsonValue* JsonValue::ReplaceMember(std::size_t position, JsonValue&& child) {
    Container* data = type_ == JsonValueType::Object ? container() : nullptr;
    if (data == nullptr || position >= data->entries.size())
        return nullptr;
    if (Container* inner = child.container())
        inner->parent = data;
    JsonValue& existing = data->entries[position].value;
    existing = std::move(child);
    return &existing;
}

const void* JsonValue::Identity() const {
    return container();
}

void JsonValue::Container::Finish(Shapes* shapes) {
    // Finished already (no member can come after that), or a container of another kind.
    if (byName.size() == entries.size())
        return;
    std::size_t count = entries.size();
    if (shapes != nullptr) {
        for (const Shape& shape : shapes->kept) {
            if (shape.names.size() != count)
                continue;
            bool same = true;
            for (std::size_t i = 0; i < count && same; ++i)
                same = shape.names[i] == entries[i].name;
            if (same) {
                byName.assign(shape.order.begin(), shape.order.end());
                return;
            }
        }
    }
    byName.resize(count);
    for (std::size_t i = 0; i < count; ++i)
        byName[i] = static_cast<std::uint32_t>(i);
    // Names are distinct within an Object, so the order is total.
    std::sort(byName.begin(), byName.end(), [this](std::uint32_t a, std::uint32_t b) {
        return std::string_view(*entries[a].name) < std::string_view(*entries[b].name);
    });
    if (shapes != nullptr) {
        Shape& shape = shapes->kept[shapes->next];
        shapes->next = (shapes->next + 1) % Shapes::kKept;
        shape.names.resize(count);
        for (std::size_t i = 0; i < count; ++i)
            shape.names[i] = entries[i].name;
        shape.order.assign(byName.begin(), byName.end());
    }
}

void JsonValue::Reserve(std::size_t count) {
    Container* data = container();
    if (data == nullptr)
        return;
    if (type_ == JsonValueType::Array)
        data->elements.reserve(count);
    else
        data->entries.reserve(count);
}

std::size_t JsonValue::Count() const {
    Container* data = container();
    return data == nullptr ? 0 : type_ == JsonValueType::Array ? data->elements.size() : data->entries.size();
}

void JsonValue::FinishObject(Shapes* shapes) {
    if (Container* data = type_ == JsonValueType::Object ? container() : nullptr)
        data->Finish(shapes);
}

void JsonValue::FinishOpenObjects() {
    for (Container* data = container(); data != nullptr; data = data->parent)
        data->Finish(nullptr);
}

} // namespace microblog
