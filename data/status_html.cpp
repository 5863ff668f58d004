#include "data/status_html.h"

#include <array>
#include <string_view>

namespace microblog {
namespace {

constexpr char kLinkStart[] = "http://";
constexpr char kAnchorStart[] = "<a href=\"";
constexpr char kAnchorMiddle[] = "\" target=\"_blank\">";
constexpr char kAnchorEnd[] = "</a>";
constexpr char kImageStart[] = "<img class=\"wb_img\" src=\"";
constexpr char kImageEnd[] = "\"/>";
constexpr char kPictureSeparator[] = "<br >";

constexpr std::array<bool, 256> MakeLinkTable() {
    std::array<bool, 256> table{};
    for (const char* c = kLinkCharacters; *c != '\0'; ++c)
        table[static_cast<unsigned char>(*c)] = true;
    return table;
}
constexpr std::array<bool, 256> kIsLinkByte = MakeLinkTable();

} // namespace

void AppendEscapedHtml(std::string& out, const char* bytes, std::size_t length) {
    std::size_t plainStart = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char* entity;
        switch (bytes[i]) {
        case '&':
            entity = "&amp;";
            break;
        case '<':
            entity = "&lt;";
            break;
        case '>':
            entity = "&gt;";
            break;
        case '"':
            entity = "&quot;";
            break;
        default:
            continue;
        }
        out.append(bytes + plainStart, i - plainStart);
        out.append(entity);
        plainStart = i + 1;
    }
    out.append(bytes + plainStart, length - plainStart);
}

std::string StatusTextToHtml(const std::string& text, const std::string& picturePrefix) {
    std::string result;
    std::string pictures;
    result.reserve(text.size() + text.size() / 4);
    std::size_t copied = 0;
    std::size_t start = text.find(kLinkStart);
    while (start != std::string::npos) {
        AppendEscapedHtml(result, text.data() + copied, start - copied);
        std::size_t end = start;
        while (end < text.size() && kIsLinkByte[static_cast<unsigned char>(text[end])])
            ++end;
        // The link characters hold no '<', '>' or '"', so a link cannot leave the attribute it is
        // put in; its '&' is written as an entity there too, which the browser reads back as '&'.
        std::string_view link(text.data() + start, end - start);
        std::string escapedLink;
        AppendEscapedHtml(escapedLink, link.data(), link.size());
        result.append(kAnchorStart).append(escapedLink).append(kAnchorMiddle);
        if (!picturePrefix.empty() && link.substr(0, picturePrefix.size()) == picturePrefix) {
            pictures.append(kAnchorStart).append(escapedLink).append(kAnchorMiddle);
            pictures.append(kImageStart).append(escapedLink).append(kImageEnd).append(kAnchorEnd);
        } else {
            result.append(escapedLink);
        }
        result.append(kAnchorEnd);
        copied = end;
        start = text.find(kLinkStart, end);
    }
    AppendEscapedHtml(result, text.data() + copied, text.size() - copied);
    if (!pictures.empty())
        result.append(kPictureSeparator).append(pictures);
    return result;
}

} // namespace microblog
