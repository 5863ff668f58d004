// The record every worker hands back to the user-interface thread.
#pragma once

#include <string>

#include "host/core.h"

namespace microblog {

// Status: 200 on success; otherwise the HTTP status, -1 when no complete response came, 0 when the
// request was not started. Text: empty, or "timestamp_refused".
class MicroBlogResult : public tavi::IAsync_CallbackParam {
public:
    MicroBlogResult(int status, std::string text) : status(status), text(std::move(text)) {}
    void Release() override { delete this; }

    int status;
    std::string text;
};

// The record a callback received, or null when there is none.
inline const MicroBlogResult* AsResult(tavi::IAsync_CallbackParam* record) {
    return dynamic_cast<const MicroBlogResult*>(record);
}

constexpr const char* kTimestampRefused = "timestamp_refused";

} // namespace microblog
