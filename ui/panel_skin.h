// What the plug-in's panels share: how a panel finds its build node, the formatting of the texts
// the string table gives them, and the fixed texts of the panels.
#pragma once

#include <string>

#include "host/skin.h"

namespace microblog {

// The build node of a content or tool panel: "TAVI Plugins <object id>". Null when the skin has none.
const tavi::SkinBuildNode* FindPanelBuildNode(const std::string& objectId);
// The build node of the main panel: "TAVI Plugins MicroBlogWindow <object id>".
const tavi::SkinBuildNode* FindMainPanelBuildNode(const std::string& objectId);

// A text of the string table with its one "%s" replaced by the argument. The table is data from
// outside the plug-in, so the text is never used as a printf format: "%%" gives "%", and any
// other '%' stays as it is.
std::string FormatWithText(const std::string& format, const std::string& argument);

// The narrow text without white space at either end.
std::string TrimWhiteSpace(const std::string& text);

// The balloon at the reload button when the service refused the request's time ("refresh failed,
// please check that your computer's clock is right").
constexpr const char* kTipRefreshTimeRefused = "刷新失败，请检查您的本地电脑时间设置是否正确";

} // namespace microblog
