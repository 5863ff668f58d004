// microblog-tool commands over the data room: parse a reply and print its tree, show a display
// time, show the HTML form of a status text, and write the timeline page from saved replies.
// Arguments are UTF-8 and converted to the system code page; everything printed is UTF-8.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <vector>

#include "data/display_time.h"
#include "data/json_reader.h"
#include "data/status_html.h"
#include "data/timeline_page.h"
#include "host/common.h"
#include "tools/tool_command.h"

namespace {

using microblog::JsonValue;
using microblog::JsonValueType;

bool ReadBytes(const std::string& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream collected;
    collected << in.rdbuf();
    bytes = collected.str();
    return true;
}

// Options of the form --name VALUE; the rest stay positional. False on an option without a value
// or one that is not known.
bool SplitOptions(const std::vector<std::string>& args, const std::vector<std::string>& known,
                  std::vector<std::pair<std::string, std::string>>& options,
                  std::vector<std::string>& positional) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            std::string name = arg.substr(2);
            bool isKnown = false;
            for (const auto& k : known)
                isKnown = isKnown || k == name;
            if (!isKnown || i + 1 >= args.size()) {
                std::cerr << "microblog-tool: " << (isKnown ? "missing value for " : "unknown option ") << arg
                          << "\n";
                return false;
            }
            options.emplace_back(name, args[++i]);
        } else {
            positional.push_back(arg);
        }
    }
    return true;
}

std::string Option(const std::vector<std::pair<std::string, std::string>>& options, const std::string& name,
                   const std::string& fallback = std::string()) {
    std::string value = fallback;
    for (const auto& [key, given] : options)
        if (key == name)
            value = given;
    return value;
}

bool ParseEpoch(const std::string& text, std::time_t* value) {
    long long parsed = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (error != std::errc() || end != text.data() + text.size())
        return false;
    *value = static_cast<std::time_t>(parsed);
    return true;
}

// The staged app folder beside the tool's own bin folder.
std::string DefaultAppPath() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return tavi::GetAppPath();
    std::error_code ignored;
    std::filesystem::path app =
        std::filesystem::path(std::string(self, static_cast<std::size_t>(n))).parent_path();
    app = std::filesystem::weakly_canonical(app / ".." / "app", ignored);
    return app.string() + "/";
}

// The picture prefix of the deployment settings in an app folder ("picture_prefix = VALUE").
std::string DeployedPicturePrefix(const std::string& appPath) {
    std::ifstream in(appPath + "plugin/microblog/deploy.ini");
    std::string line;
    while (std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        auto trim = [](const std::string& text) {
            std::size_t first = text.find_first_not_of(" \t\r");
            std::size_t last = text.find_last_not_of(" \t\r");
            return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
        };
        if (trim(line.substr(0, equals)) == "picture_prefix")
            return trim(line.substr(equals + 1));
    }
    return std::string();
}

void AppendQuoted(std::string& out, const std::string& narrow) {
    out.push_back('"');
    for (unsigned char c : tavi::CString_to_utf8(narrow)) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
        } else if (c < 0x20 || c == 0x7F) {
            static const char kHex[] = "0123456789abcdef";
            out.append("\\u00");
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.push_back('"');
}

// The tree as text, one node a line: its label (the index in an Array, the name in an Object),
// its type and its payload; an Object also lists its key order. Children are indented two
// blanks further, up to 64 levels. Written without recursion, so any depth prints.
std::string TreeText(const JsonValue* root) {
    if (root == nullptr)
        return "(no tree)\n";
    struct Item {
        const JsonValue* node;
        int depth;
        std::string label;
    };
    std::string out;
    std::vector<Item> pending{{root, 0, std::string()}};
    while (!pending.empty()) {
        Item item = std::move(pending.back());
        pending.pop_back();
        out.append(static_cast<std::size_t>(std::min(item.depth, 64)) * 2, ' ');
        out.append(item.label);
        const JsonValue& node = *item.node;
        switch (node.type()) {
        case JsonValueType::Integer:
            out.append("Integer ").append(std::to_string(node.integer()));
            break;
        case JsonValueType::Real: {
            char text[64];
            auto result = std::to_chars(text, text + sizeof(text), node.real());
            out.append("Real ").append(text, result.ptr);
            break;
        }
        case JsonValueType::Null:
            out.append("Null");
            break;
        case JsonValueType::Boolean:
            out.append(node.boolean() ? "Boolean true" : "Boolean false");
            break;
        case JsonValueType::String:
            out.append("String ");
            AppendQuoted(out, node.string());
            break;
        case JsonValueType::Array: {
            out.append("Array (").append(std::to_string(node.size())).append(")");
            auto elements = node.elements();
            for (std::size_t i = elements.size(); i-- > 0;)
                pending.push_back({elements[i], item.depth + 1, "[" + std::to_string(i) + "] "});
            break;
        }
        case JsonValueType::Object: {
            out.append("Object (").append(std::to_string(node.members().size())).append(") keyOrder:");
            for (const auto& key : node.keyOrder()) {
                out.push_back(' ');
                AppendQuoted(out, key);
            }
            std::size_t first = pending.size();
            for (const auto& [name, member] : node.members()) {
                std::string label;
                AppendQuoted(label, name);
                pending.push_back({member, item.depth + 1, label + ": "});
            }
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
            break;
        }
        }
        out.push_back('\n');
    }
    return out;
}

int RunJson(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::cerr << "usage: microblog-tool json FILE\n";
        return 2;
    }
    std::string bytes;
    if (!ReadBytes(args[0], bytes)) {
        std::cerr << "microblog-tool: cannot read " << args[0] << "\n";
        return 2;
    }
    microblog::JsonReader reader;
    bool parsed = reader.Parse(bytes.c_str());
    std::cout << TreeText(reader.root());
    if (!parsed)
        std::cerr << "microblog-tool: the reader rejected " << args[0] << "\n";
    return parsed ? 0 : 1;
}

int RunTime(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    if (!SplitOptions(args, {"now"}, options, positional) || positional.size() != 1) {
        std::cerr << "usage: microblog-tool time CREATED_AT [--now EPOCH]\n";
        return 2;
    }
    std::time_t now = std::time(nullptr);
    std::string nowText = Option(options, "now");
    if (!nowText.empty() && !ParseEpoch(nowText, &now)) {
        std::cerr << "microblog-tool: --now takes seconds since the epoch\n";
        return 2;
    }
    std::string shown = microblog::FormatDisplayTime(tavi::utf8_to_CString(positional[0]), now);
    std::cout << tavi::CString_to_utf8(shown) << "\n";
    return 0;
}

int RunHtml(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    if (!SplitOptions(args, {"picture-prefix", "app-dir"}, options, positional) || positional.size() != 1) {
        std::cerr << "usage: microblog-tool html TEXT [--picture-prefix URL] [--app-dir DIR]\n";
        return 2;
    }
    std::string appPath = Option(options, "app-dir", DefaultAppPath());
    if (appPath.back() != '/')
        appPath.push_back('/');
    std::string prefix = Option(options, "picture-prefix", DeployedPicturePrefix(appPath));
    std::string html =
        microblog::StatusTextToHtml(tavi::utf8_to_CString(positional[0]), tavi::utf8_to_CString(prefix));
    std::cout << tavi::CString_to_utf8(html) << "\n";
    return 0;
}

int RunPage(const std::vector<std::string>& args) {
    std::vector<std::pair<std::string, std::string>> options;
    std::vector<std::string> positional;
    bool ok =
        SplitOptions(args, {"account", "reminds", "timeline", "out", "app-dir", "picture-prefix", "now"},
                     options, positional);
    std::string out = Option(options, "out");
    if (!ok || !positional.empty() || out.empty()) {
        std::cerr
            << "usage: microblog-tool page [--account FILE] [--reminds FILE] [--timeline FILE] --out DIR"
               " [--app-dir DIR] [--picture-prefix URL] [--now EPOCH]\n";
        return 2;
    }
    microblog::JsonReader account, reminds, timeline;
    struct Source {
        const char* option;
        microblog::JsonReader* reader;
    };
    for (const Source& source :
         {Source{"account", &account}, Source{"reminds", &reminds}, Source{"timeline", &timeline}}) {
        std::string path = Option(options, source.option);
        if (path.empty())
            continue;
        std::string bytes;
        if (!ReadBytes(path, bytes)) {
            std::cerr << "microblog-tool: cannot read " << path << "\n";
            return 2;
        }
        if (!source.reader->Parse(bytes.c_str()))
            std::cerr << "microblog-tool: " << path << " did not parse whole; using what was read\n";
    }
    std::time_t now = std::time(nullptr);
    std::string nowText = Option(options, "now");
    if (!nowText.empty() && !ParseEpoch(nowText, &now)) {
        std::cerr << "microblog-tool: --now takes seconds since the epoch\n";
        return 2;
    }
    std::string appPath = Option(options, "app-dir", DefaultAppPath());
    if (appPath.back() != '/')
        appPath.push_back('/');
    microblog::TimelinePageSettings settings{
        tavi::utf8_to_CString(out), tavi::utf8_to_CString(appPath),
        tavi::utf8_to_CString(Option(options, "picture-prefix", DeployedPicturePrefix(appPath)))};
    microblog::TimelineSources sources{account.root(), reminds.root(), timeline.root()};
    std::error_code ignored;
    std::filesystem::create_directories(out, ignored);
    if (!microblog::RebuildTimelinePage(settings, sources, now)) {
        std::cerr << "microblog-tool: cannot write the page in " << out << "\n";
        return 1;
    }
    std::cout << tavi::CString_to_utf8(microblog::DocumentPath(settings, microblog::kDocumentTimeline))
              << "\n"
              << tavi::CString_to_utf8(microblog::DocumentPath(settings, microblog::kDocumentHome)) << "\n";
    return 0;
}

tools::ToolRegistration jsonCommand{{"json", "json FILE", RunJson}};
tools::ToolRegistration timeCommand{{"time", "time CREATED_AT [--now EPOCH]", RunTime}};
tools::ToolRegistration htmlCommand{{"html", "html TEXT [--picture-prefix URL] [--app-dir DIR]", RunHtml}};
tools::ToolRegistration pageCommand{{"page",
                                     "page [--account FILE] [--reminds FILE] [--timeline FILE] --out DIR "
                                     "[--app-dir DIR] [--picture-prefix URL]"
                                     " [--now EPOCH]",
                                     RunPage}};

} // namespace
