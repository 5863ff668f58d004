// The microblog's web site as far as the messenger opens it: a user's page with the sections
// "mine", "replies", "reply" and "favorites", and the pictures behind the short links and avatars.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace mbservice {

// HTML of a user's page from Microblog::PublicProfile.
std::string RenderUserPage(const nlohmann::json& profile);
// An SVG picture: a coloured card with a caption; color is "#rrggbb".
std::string RenderPicture(std::string_view caption, std::string_view color, int width, int height);

} // namespace mbservice
