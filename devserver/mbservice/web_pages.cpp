#include "devserver/mbservice/web_pages.h"

#include "devserver/mbservice/text_codec.h"

namespace mbservice {

namespace {

std::string Text(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

void AppendSection(std::string& html, const char* anchor, const char* title, const nlohmann::json& statuses) {
    html += "<h2 id=\"" + std::string(anchor) + "\">" + title + "</h2>\n<ul>\n";
    if (statuses.empty())
        html += "<li class=\"none\">暂无</li>\n";
    for (const nlohmann::json& status : statuses) {
        const nlohmann::json& user = status.contains("user") ? status["user"] : nlohmann::json::object();
        html += "<li><b>" + EscapeHtml(Text(user, "name")) + "</b>: " + EscapeHtml(Text(status, "text"));
        const std::string root = Text(status, "root_in_reply_to_status_text");
        if (!root.empty())
            html += "<blockquote>@" + EscapeHtml(Text(status, "root_in_reply_to_user_name")) + ": " +
                    EscapeHtml(root) + "</blockquote>";
        html += " <small>" + EscapeHtml(Text(status, "created_at")) + "</small></li>\n";
    }
    html += "</ul>\n";
}

} // namespace

std::string RenderUserPage(const nlohmann::json& profile) {
    const nlohmann::json& user = profile["user"];
    const std::string name = EscapeHtml(Text(user, "name"));
    std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + name +
                       " 的微博</title></head>\n<body>\n<h1><img src=\"" +
                       EscapeHtml(Text(user, "profile_image_url")) +
                       "\" width=\"48\" height=\"48\" alt=\"\"> " + name + " <small>@" +
                       EscapeHtml(Text(user, "screen_name")) + "</small></h1>\n";
    html += "<p>关注 " + std::to_string(user.value("friends_count", 0)) + " · 粉丝 " +
            std::to_string(user.value("followers_count", 0)) + " · 微博 " +
            std::to_string(user.value("statuses_count", 0)) + "</p>\n";
    AppendSection(html, "mine", "我的微博", profile["mine"]);
    AppendSection(html, "replies", "提到我的", profile["replies"]);
    AppendSection(html, "reply", "评论我的", profile["reply"]);
    AppendSection(html, "favorites", "我的收藏", profile["favorites"]);
    html += "</body></html>\n";
    return html;
}

std::string RenderPicture(std::string_view caption, std::string_view color, int width, int height) {
    const std::string w = std::to_string(width);
    const std::string h = std::to_string(height);
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h +
           "\" viewBox=\"0 0 " + w + " " + h + "\"><rect width=\"100%\" height=\"100%\" fill=\"" +
           EscapeHtml(color) +
           "\"/><text x=\"50%\" y=\"50%\" dominant-baseline=\"middle\" text-anchor=\"middle\" "
           "font-family=\"sans-serif\" font-size=\"" +
           std::to_string(height / 8) + "\" fill=\"#ffffff\">" + EscapeHtml(caption) + "</text></svg>\n";
}

} // namespace mbservice
