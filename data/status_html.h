// The HTML form of a status text as the timeline page shows it: each "http://" link becomes an
// anchor that opens in a new window, picture short links become pictures gathered after the text,
// and the text itself is escaped, so that what a user wrote is always shown as text and never runs
// as markup. Narrow text in, narrow text out.
#pragma once

#include <string>

namespace microblog {

// The bytes a link is made of; a link ends at the first byte outside this set.
inline constexpr char kLinkCharacters[] =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ/.:1234567890~-_+=&%?#";

// picturePrefix: the http address of the picture short-link host with its trailing slash; links
// that start with it are shown as pictures. Empty: no link is a picture.
std::string StatusTextToHtml(const std::string& text, const std::string& picturePrefix);

// Escapes '&', '<', '>' and '"' as character entities.
void AppendEscapedHtml(std::string& out, const char* bytes, std::size_t length);

} // namespace microblog
