// What the panels' end-to-end tests share besides the common harness: tavi runs of whole scripts
// and readers of what tavi prints.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/common.h"
#include "tests/e2e/harness.h"
#include "tests/support/test_env.h"

namespace panelstest {

// The service, the app folder and the tavi sessions are those of the other end-to-end tests.
using e2e::AppFolder;
using e2e::MbService;
using e2e::TaviSession;

// Runs a whole tavi script as the user and returns what tavi printed.
inline std::string RunTavi(const AppFolder& app, const std::string& user, const std::string& password,
                           const std::string& script) {
    std::string file = app.path() + "/script.txt";
    testenv::WriteFile(file, script);
    std::string output;
    int status = testenv::RunCommand("timeout 120 " + std::string(TAVI_BIN_DIR) + "/tavi --app-dir " +
                                         app.path() + " --user " + user + " --password " + password +
                                         " --script " + file + " < /dev/null",
                                     &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// One control as tavi's screen command prints it.
struct ControlState {
    bool visible = false;
    bool enabled = false;
    std::string text; // UTF-8, as printed
};

// The last line of the printed screens that describes the control of that name.
inline std::optional<ControlState> FindControl(const std::string& printed, const std::string& name) {
    std::optional<ControlState> found;
    std::istringstream in(printed);
    const std::string key = " " + name + " visible=";
    for (std::string line; std::getline(in, line);) {
        std::size_t at = line.find(key);
        if (at == std::string::npos || line.find_first_not_of(' ') > at)
            continue;
        ControlState state;
        std::size_t v = at + key.size();
        state.visible = line.compare(v, 1, "1") == 0;
        std::size_t e = line.find(" enabled=", v);
        state.enabled = e != std::string::npos && line.compare(e + 9, 1, "1") == 0;
        std::size_t t = line.find(" text=\"", v);
        if (t != std::string::npos) {
            std::string quoted = line.substr(t + 7);
            if (!quoted.empty() && quoted.back() == '"')
                quoted.pop_back();
            std::string text;
            for (std::size_t i = 0; i < quoted.size(); ++i) {
                if (quoted[i] == '\\' && i + 1 < quoted.size())
                    ++i;
                text.push_back(quoted[i]);
            }
            state.text = text;
        }
        found = state;
    }
    return found;
}

// Whether the printed screen shows the container ("panel MicroBlogStartPanel", "window ...").
inline bool ShowsContainer(const std::string& printed, const std::string& kindAndName) {
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);)
        if (line.find_first_not_of(' ') != std::string::npos &&
            line.substr(line.find_first_not_of(' ')) == kindAndName)
            return true;
    return false;
}

struct PageLink {
    int number;
    std::string url;
    std::string text;
};

// The links tavi's links command printed ("3 tavi://comments/id=351 评论").
inline std::vector<PageLink> ParseLinks(const std::string& printed) {
    std::vector<PageLink> links;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
        std::size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || line.find_first_not_of("0123456789") != space)
            continue;
        std::size_t second = line.find(' ', space + 1);
        std::string url =
            line.substr(space + 1, second == std::string::npos ? std::string::npos : second - space - 1);
        std::string text = second == std::string::npos ? std::string() : line.substr(second + 1);
        links.push_back(PageLink{std::stoi(line.substr(0, space)), url, text});
    }
    return links;
}

// The first link whose address begins with the prefix.
inline std::optional<PageLink> FirstLink(const std::vector<PageLink>& links, const std::string& prefix) {
    for (const PageLink& link : links)
        if (link.url.rfind(prefix, 0) == 0)
            return link;
    return std::nullopt;
}

// A text of the plug-in's string table (zh-CN) with the account in its %s, as the panels show it.
inline std::string StringTableText(const std::string& id) {
    std::istringstream in(
        testenv::ReadFile(std::string(TAVI_SOURCE_DIR) + "/resources/microblog/stringid.ini"));
    bool chinese = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') {
            chinese = line == "[zh-CN]";
            continue;
        }
        std::size_t equals = line.find(" = ");
        if (chinese && equals != std::string::npos && line.substr(0, equals) == id)
            return line.substr(equals + 3);
    }
    ADD_FAILURE() << "no text " << id << " in the string table";
    return std::string();
}

inline std::string WithAccount(const std::string& format, const std::string& account) {
    std::string text = format;
    std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, account);
    return text;
}

} // namespace panelstest
