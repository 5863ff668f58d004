// The skin tree as the host program prints it: one line per shown container (its kind and object
// id) and per control (kind, name, visible, enabled, checked, text), indented by depth. Texts are
// printed as UTF-8 in double quotes with \" \\ \n \r \t escaped.
#pragma once

#include <string>
#include <vector>

#include "runtime/core/host_services.h"

namespace tavi {
class CSkinObject;
} // namespace tavi

namespace tavi::app {

std::vector<std::string> DescribeScreen(CSkinObject* root);
// Narrow text (system code page) as a quoted UTF-8 field.
std::string QuoteText(const std::string& narrow);
// A UTF-8 line with its line breaks made visible, so that a record stays on one line.
std::string OneLine(const std::string& utf8);
// A line as it may go to a terminal: control characters (other than Tab), DEL and the C1 controls
// become \xHH, so that a status text cannot move the cursor, recolour or retitle the terminal.
std::string TerminalSafe(const std::string& utf8Line);
// A notice and a balloon tip as one line each, the same when raised and when listed.
std::string DescribeNotice(const runtime::Notifier::Notice& notice);
std::string DescribeBalloon(const runtime::Notifier::Balloon& balloon);

} // namespace tavi::app
