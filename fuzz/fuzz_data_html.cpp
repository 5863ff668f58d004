// Fuzzes the status-text conversion and the display time with arbitrary texts. The HTML may hold
// markup only where the conversion itself put it: each '<' must open one of its own tags, and no
// quote may appear outside the attributes it wrote.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "data/display_time.h"
#include "data/status_html.h"
#include "host/common.h"

namespace {

constexpr char kPrefix[] = "http://t.vel.cn/";

// Skips one tag the conversion writes, starting at a '<'; npos when the text there is not one.
std::size_t SkipOwnTag(const std::string& html, std::size_t at) {
    static const char* const kClosed[] = {"</a>", "<br >"};
    for (const char* tag : kClosed)
        if (html.compare(at, std::strlen(tag), tag) == 0)
            return at + std::strlen(tag);
    static const char* const kWithLink[][2] = {{"<a href=\"", "\" target=\"_blank\">"},
                                               {"<img class=\"wb_img\" src=\"", "\"/>"}};
    for (const auto& tag : kWithLink) {
        std::size_t start = std::strlen(tag[0]);
        if (html.compare(at, start, tag[0]) != 0)
            continue;
        std::size_t end = html.find(tag[1], at + start);
        if (end == std::string::npos)
            return std::string::npos;
        for (std::size_t i = at + start; i < end; ++i)
            if (std::strchr(microblog::kLinkCharacters, html[i]) == nullptr && html[i] != ';')
                return std::string::npos;
        return end + std::strlen(tag[1]);
    }
    return std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bool ready = [] {
        tavi::SetSystemCodePage("GB18030");
        return true;
    }();
    (void)ready;
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string html = microblog::StatusTextToHtml(text, kPrefix);
    for (std::size_t at = 0; at < html.size();) {
        char c = html[at];
        if (c == '<') {
            at = SkipOwnTag(html, at);
            if (at == std::string::npos)
                std::abort(); // markup from the text itself reached the HTML
            continue;
        }
        if (c == '>' || c == '"')
            std::abort();
        ++at;
    }
    if (html.find("http://") == std::string::npos && text.find("http://") != std::string::npos)
        std::abort();

    microblog::FormatDisplayTime(text, 1289916400);
    return 0;
}
