// The plug-in's fixed texts, written once here in UTF-8 and handed out in the system code page.
#pragma once

#include <string>

#include "host/common.h"

namespace microblog {

// Converts a fixed UTF-8 text of the plug-in to the system code page.
inline std::string FixedText(const char* utf8) { return tavi::utf8_to_CString(utf8); }

// The toolbar tip when no new posts wait ("start my micro-life").
constexpr const char* kTipStartMicroLife = "开始我的微生活";
// The toolbar tip for n new posts ("%d new posts, click to view").
constexpr const char* kTipNewPostsFormat = "有%d条新微博，点击查看";
// The service's activation refusals the plug-in recognises.
constexpr const char* kErrorNickNameInvalid = "昵称格式不合法";
constexpr const char* kErrorCreateUserFailed = "创建微博用户失败";

} // namespace microblog
