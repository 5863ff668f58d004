// The host's proxy settings: the process-wide record every connection copies, and the text form
// the host programs take on their command lines.
#pragma once

#include <string>

#include "host/global_helper.h"

namespace tavi::runtime {

// Reads "none", "http://[USER:PASSWORD@]HOST:PORT" or "socks5://[USER:PASSWORD@]HOST:PORT" (user
// and password may be percent-encoded). False, with the reason in *error, when the text is not
// one of these; cfg is then unchanged.
bool ParseProxyUrl(const std::string& text, ProxyCfg& cfg, std::string* error = nullptr);

} // namespace tavi::runtime
