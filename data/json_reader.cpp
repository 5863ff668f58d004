#include "data/json_reader.h"

#include <algorithm>
#include <new>

#include "host/common.h"

namespace microblog {

JsonReader::JsonReader() = default;
JsonReader::~JsonReader() = default;

void JsonReader::ForgetTree() {
    // Everything the tree holds (nodes, containers, their lists) is memory of the arena, which
    // the caller resets or releases next, and its texts are kept apart: the tree is left as it is
    // rather than walked to be destroyed.
    (void)root_.release();
    stringsUsed_ = 0;
    recentNames_.clear();
    shapes_.clear();
    nameIndex_.clear();
    names_.clear();
}

void JsonReader::Clear() {
    ForgetTree();
    strings_ = std::deque<std::string>();
    stringsUsed_ = 0;
    arena_.Release();
    current_ = nullptr;
    pendingKey_.clear();
    pendingName_ = nullptr;
}

bool JsonReader::Parse(const char* text) {
    if (text == nullptr || *text == '\0')
        return false;
    current_ = nullptr;
    parser_.reset();
    // Opened before the previous tree goes: the converter's buffers are the parse's only large
    // allocation, and made after thousands of small frees they would make the allocator
    // consolidate all of them first.
    converter_.reset();
    converter_ = std::make_unique<tavi::CodePageConverter>("UTF-8", tavi::GetSystemCodePage());
    JsonParserConfig config;
    config.callback = &JsonReader::OnEvent;
    config.context = this;
    config.depth = 0;
    config.allowComments = true;
    config.handleFloatsManually = false;
    parser_.emplace(config);
    bool accepted;
    try {
        accepted = parser_->FeedText(reinterpret_cast<const unsigned char*>(text));
    } catch (const std::bad_alloc&) {
        // A tree too big for memory ends the parse like a rejected byte; what was built stays.
        accepted = false;
    }
    // Objects left open (the text ended, or was rejected, inside them) are complete as they are.
    if (current_ != nullptr)
        current_->FinishOpenObjects();
    strings_.resize(stringsUsed_);
    return accepted;
}

bool JsonReader::OnEvent(void* context, JsonEvent event, const JsonEventData& data) {
    return static_cast<JsonReader*>(context)->Build(event, data);
}

void JsonReader::ToSystemCodePage(const char* bytes, std::size_t length, bool ascii, std::string& out) {
    if (ascii) {
        out.assign(bytes, length);
        return;
    }
    out.clear();
    converter_->Convert(bytes, length, out);
}

JsonValue* JsonReader::Add(JsonValue&& node) {
    if (current_ == nullptr)
        return nullptr;
    if (current_->Is(JsonValueType::Array))
        return current_->Append(std::move(node));
    Name* name = pendingName_;
    if (name == nullptr)
        return nullptr;
    const void* object = current_->Identity();
    NameUse& last = name->last;
    // Uses deeper than the open Object were in Objects closed since.
    while (last.object != nullptr && last.depth > depth_) {
        if (name->outer.empty()) {
            last = NameUse{};
        } else {
            last = name->outer.back();
            name->outer.pop_back();
        }
    }
    if (last.object == object)
        return current_->ReplaceMember(last.position, std::move(node));
    // A use at this depth was in an Object closed since; one above it is in an Object still open.
    if (last.object != nullptr && last.depth < depth_)
        name->outer.push_back(last);
    last = NameUse{object, depth_, current_->Count()};
    return current_->AppendMember(&name->text, std::move(node));
}

JsonReader::Name* JsonReader::InternKey(std::string_view key) {
    std::size_t position = current_->Count();
    std::vector<Name*>* recent = nullptr;
    if (depth_ < kHintedDepths && position < kRecentPositions) {
        if (recentNames_.size() <= depth_)
            recentNames_.resize(depth_ + 1);
        recent = &recentNames_[depth_];
        if (position < recent->size() && (*recent)[position] != nullptr && (*recent)[position]->text == key)
            return (*recent)[position];
    }
    Name* name;
    auto found = nameIndex_.find(key);
    if (found != nameIndex_.end()) {
        name = found->second;
    } else {
        names_.push_back(Name{std::string(key)});
        name = &names_.back();
        nameIndex_.emplace(name->text, name);
    }
    if (recent != nullptr) {
        if (recent->size() <= position)
            recent->resize(position + 1, nullptr);
        (*recent)[position] = name;
    }
    return name;
}

// The opened container's node stays where it is while it is open: its parent only grows once
// it is closed.
bool JsonReader::Open(JsonValueType type) {
    JsonValue* opened;
    if (current_ == nullptr) {
        ForgetTree();
        arena_.Reset();
        root_.reset(new (arena_.allocate(sizeof(JsonValue), alignof(JsonValue))) JsonValue(type, &arena_));
        opened = root_.get();
        depth_ = 0;
    } else {
        opened = Add(JsonValue(type, &arena_));
        if (opened == nullptr)
            return false;
        ++depth_;
    }
    // Replies repeat their shapes (fifty statuses alike, each with a user alike): a container
    // starts with the size of the last one closed at its depth, so it rarely grows in place. Room
    // reserved and not used is at most what the previous container really held, and a hint is
    // never large.
    if (depth_ < sizeHints_.size())
        opened->Reserve(sizeHints_[depth_]);
    current_ = opened;
    return true;
}

void JsonReader::Close() {
    if (depth_ < kHintedDepths) {
        if (sizeHints_.size() <= depth_)
            sizeHints_.resize(depth_ + 1, 0);
        sizeHints_[depth_] =
            static_cast<std::uint32_t>(std::min<std::size_t>(current_->Count(), kLargestHint));
        if (shapes_.size() <= depth_)
            shapes_.resize(depth_ + 1);
        current_->FinishObject(&shapes_[depth_]);
    } else {
        current_->FinishObject();
    }
    current_ = current_->parent();
    if (depth_ > 0)
        --depth_;
}

bool JsonReader::Build(JsonEvent event, const JsonEventData& data) {
    switch (event) {
    case JsonEvent::ArrayBegin:
        return Open(JsonValueType::Array);
    case JsonEvent::ObjectBegin:
        return Open(JsonValueType::Object);
    case JsonEvent::ArrayEnd:
    case JsonEvent::ObjectEnd:
        if (current_ == nullptr)
            return false;
        Close();
        return true;
    case JsonEvent::Integer:
        return Add(JsonValue::MakeInteger(data.integer)) != nullptr;
    case JsonEvent::Float:
        return Add(JsonValue::MakeReal(data.real)) != nullptr;
    case JsonEvent::Null:
        return Add(JsonValue(JsonValueType::Null)) != nullptr;
    case JsonEvent::True:
        return Add(JsonValue::MakeBoolean(true)) != nullptr;
    case JsonEvent::False:
        return Add(JsonValue::MakeBoolean(false)) != nullptr;
    case JsonEvent::String: {
        if (current_ == nullptr)
            return false;
        if (stringsUsed_ == strings_.size())
            strings_.emplace_back();
        std::string& text = strings_[stringsUsed_++];
        ToSystemCodePage(data.text, data.length, data.ascii, text);
        return Add(JsonValue::MakeString(&text)) != nullptr;
    }
    case JsonEvent::Key:
        if (current_ == nullptr) {
            pendingName_ = nullptr;
            return true;
        }
        if (data.ascii) {
            pendingName_ = InternKey(std::string_view(data.text, data.length));
        } else {
            ToSystemCodePage(data.text, data.length, data.ascii, pendingKey_);
            pendingName_ = InternKey(pendingKey_);
        }
        return true;
    }
    return false;
}

} // namespace microblog
