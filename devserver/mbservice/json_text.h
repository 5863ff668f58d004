// JSON text written directly, for the replies that carry many statuses: the same bytes as the
// service's other replies, which nlohmann::json writes (members sorted by name, no blanks, text not
// escaped beyond what JSON requires, invalid UTF-8 replaced), without building a tree first.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mbservice {

// Appends text as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);

// One JSON object. Members may be set in any order, and set again to replace their value; the
// object is written with its members sorted by name. Names are the caller's constants.
class JsonObjectText {
public:
    void String(std::string_view name, std::string_view value);
    void Integer(std::string_view name, std::int64_t value);
    void Boolean(std::string_view name, bool value);
    // A value that is JSON text already (an object written before).
    void Json(std::string_view name, std::string_view text);
    void AppendTo(std::string& out);

private:
    struct Member {
        std::string_view name;
        std::size_t at = 0;
        std::size_t size = 0;
    };
    // Starts the value of the member called name at the end of values_.
    void Begin(std::string_view name);
    void End();

    std::vector<Member> members_;
    std::string values_;
    std::size_t open_ = 0;
};

} // namespace mbservice
