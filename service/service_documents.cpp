// What the service reads back from its reply documents on the user-interface thread.
#include <strings.h>

#include "service/microblog_service.h"

namespace microblog {

namespace {

constexpr int kStatusNotFound = -1;

// Looks the status up in one list of statuses: kStatusNotFound when no element has the id,
// otherwise what FindStatus answers for it.
int FindStatusIn(const JsonValue* root, const std::string& id, std::string& text, std::string& userName,
                 std::string& rootUserName) {
    if (root == nullptr || !root->Is(JsonValueType::Array))
        return 0;
    for (const auto& element : root->elements()) {
        if (!element->Is(JsonValueType::Object))
            continue;
        const JsonValue* statusId = element->Find("id");
        if (statusId == nullptr)
            return 0;
        if (!statusId->Is(JsonValueType::String) || strcasecmp(statusId->string().c_str(), id.c_str()) != 0)
            continue;
        if (const JsonValue* user = element->Find("user", JsonValueType::Object))
            if (const std::string* name = user->FindString("name"))
                userName = *name;
        const std::string* flag = element->FindString("flag");
        if (flag == nullptr || flag->compare(0, 7, "RETWEET") != 0)
            return 0;
        if (const std::string* statusText = element->FindString("text"))
            text = *statusText;
        if (const std::string* root_user = element->FindString("root_in_reply_to_user_name"))
            rootUserName = *root_user;
        return 1;
    }
    return kStatusNotFound;
}

} // namespace

int MicroBlogService::FindStatus(const std::string& id, std::string& text, std::string& userName,
                                 std::string& rootUserName) {
    text.clear();
    userName.clear();
    rootUserName.clear();
    int found = homeTimelineDocument_.With(
        [&](const JsonValue* root) { return FindStatusIn(root, id, text, userName, rootUserName); });
    // A status shown on the mentions page may not be in the home timeline.
    if (found == kStatusNotFound)
        found = mentionsDocument_.With([&](const JsonValue* root) {
            if (root == nullptr || !root->Is(JsonValueType::Array))
                return kStatusNotFound;
            return FindStatusIn(root, id, text, userName, rootUserName);
        });
    return found == kStatusNotFound ? 1 : found;
}

int MicroBlogService::GetScreenName(const std::string& /*ignored*/, std::string& name) {
    name.clear();
    return accountDocument_.With([&](const JsonValue* root) -> int {
        const std::string* screenName = root ? root->FindString("screen_name") : nullptr;
        if (screenName == nullptr)
            return 0;
        name = *screenName;
        return 1;
    });
}

} // namespace microblog
