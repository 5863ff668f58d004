// The data room against reference libraries, in one run on the same bytes: the JSON reader (with
// its conversion to the system code page) against nlohmann::json and against the floor of the
// work, RapidJSON's DOM alone and with its strings converted too; and the timeline page rebuild
// (the host document, timeline.xml and home.xml) against libxml2 building the same elements from
// the same reply directly and saving the page once.
//
// The replies are generated with a fixed seed: statuses of about 1.4 KB with Chinese and English
// text, links and picture links, retweets with their root texts, and nested user objects.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <rapidjson/document.h>
#include <string>
#include <vector>

#include "data/display_time.h"
#include "data/json_reader.h"
#include "data/status_html.h"
#include "data/timeline_page.h"
#include "host/common.h"

namespace {

constexpr std::time_t kNow = 1289916400; // Tue Nov 16 2010 22:06:40 +0800
constexpr char kPicturePrefix[] = "http://t.vel.cn/";

class ReplyGenerator {
public:
    explicit ReplyGenerator(std::uint32_t seed) : random_(seed) {}

    std::string Timeline(int statuses) {
        std::string out = "[";
        for (int i = 0; i < statuses; ++i) {
            if (i > 0)
                out += ",\n";
            Status(out, i);
        }
        out += "]";
        return out;
    }

private:
    std::size_t Pick(std::size_t n) { return static_cast<std::size_t>(random_() % n); }
    int Number(int low, int high) {
        std::size_t span = static_cast<std::size_t>(high) - static_cast<std::size_t>(low) + 1;
        return low + static_cast<int>(Pick(span));
    }
    template <std::size_t N> const char* OneOf(const char* const (&choices)[N]) { return choices[Pick(N)]; }

    static void Quoted(std::string& out, const std::string& text) {
        out += '"';
        for (char c : text) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    static void Member(std::string& out, const char* name, const std::string& text) {
        Quoted(out, name);
        out += ':';
        Quoted(out, text);
        out += ',';
    }
    static void Raw(std::string& out, const char* name, const std::string& value) {
        Quoted(out, name);
        out += ':';
        out += value;
        out += ',';
    }

    std::string Time(int minutesAgo) {
        static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        std::time_t when = kNow + std::time_t{8} * 3600 - static_cast<std::time_t>(minutesAgo) * 60;
        std::tm t{};
        gmtime_r(&when, &t);
        char text[64];
        std::snprintf(text, sizeof(text), "%s %s %02d %02d:%02d:%02d +0800 %d", kDays[t.tm_wday],
                      kMonths[t.tm_mon], t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
        return text;
    }

    std::string Id(int digits) {
        std::string id(1, static_cast<char>('1' + Pick(9)));
        while (static_cast<int>(id.size()) < digits)
            id += static_cast<char>('0' + Pick(10));
        return id;
    }

    std::string Link() {
        static const char* const kHosts[] = {"http://www.velmora.com/", "http://example.com/",
                                             "http://news.163.example.cn/", "http://blog.tavi.example.org/"};
        std::string link = OneOf(kHosts);
        for (int i = Number(4, 18); i > 0; --i)
            link += "abcdefghijklmnopqrstuvwxyz0123456789/"[Pick(37)];
        if (Pick(3) == 0)
            link += "?id=" + Id(5) + "&from=tavi";
        return link;
    }

    std::string Text() {
        static const char* const kChinese[] = {
            "今天天气真好，出去走走。", "刚看完一部电影，强烈推荐！", "周末和朋友一起吃火锅。",
            "这个新功能太好用了",       "早上好，大家新年快乐！",     "北京的秋天最美。",
            "加班到现在，终于下班了…",  "有人一起去爬山吗？",         "分享一篇好文章：",
            "转发一下，很有意思。",     "学习中，请勿打扰。",         "祝大家中秋节快乐！"};
        static const char* const kEnglish[] = {"Reading a great post about parsers. ",
                                               "Coffee first, then code. ",
                                               "Anyone going to the meetup tonight? ",
                                               "Just shipped the new release! ",
                                               "The sunset today was unreal. ",
                                               "Working from the cafe again. ",
                                               "Highly recommended: "};
        std::string text;
        int pieces = Number(7, 14);
        for (int i = 0; i < pieces; ++i)
            text += Pick(2) == 0 ? OneOf(kChinese) : OneOf(kEnglish);
        switch (Pick(4)) {
        case 0:
            text += " " + Link() + " " + OneOf(kChinese);
            break;
        case 1:
            text += " " + std::string(kPicturePrefix) + Id(6);
            break;
        case 2:
            text += " " + Link() + " " + std::string(kPicturePrefix) + Id(6);
            break;
        default:
            break;
        }
        return text;
    }

    void User(std::string& out) {
        static const char* const kNames[] = {"小明", "张三",       "Alice",    "老王",
                                             "Bob",  "维摩拉官方", "李四同学", "Carol Wu"};
        static const char* const kPlaces[] = {"北京", "上海 浦东新区", "广东 广州", "Hangzhou", "海外 美国"};
        out += "\"user\":{";
        std::string id = Id(8);
        Member(out, "id", id);
        Member(out, "screen_name", "user" + id.substr(0, 5));
        Member(out, "name", OneOf(kNames));
        Member(out, "location", OneOf(kPlaces));
        Member(out, "description",
               Pick(2) ? "热爱生活，热爱分享。Coffee, code and long walks." : "这个人很懒，什么也没留下");
        Member(out, "url", "http://www.velmora.com/u/" + id);
        Member(out, "profile_image_url", "http://img.velmora.com/avatar/" + id + "/50.png");
        Raw(out, "protected", "false");
        Raw(out, "followers_count", std::to_string(Number(0, 200000)));
        Raw(out, "friends_count", std::to_string(Number(0, 2000)));
        Raw(out, "statuses_count", std::to_string(Number(0, 30000)));
        Raw(out, "favourites_count", std::to_string(Number(0, 500)));
        Member(out, "created_at", Time(Number(100000, 900000)));
        Raw(out, "following", Pick(2) ? "true" : "false");
        Raw(out, "verified", Pick(5) == 0 ? "true" : "false");
        Member(out, "time_zone", "Beijing");
        Raw(out, "utc_offset", "28800");
        Member(out, "lang", "zh-cn");
        out.pop_back();
        out += "}";
    }

    void Status(std::string& out, int index) {
        out += "{";
        Member(out, "id", Id(11));
        Member(out, "created_at", Time(index * 7 + Number(0, 6)));
        Member(out, "text", Text());
        Member(out, "source",
               Pick(2) ? "网页" : "<a href=\"http://tavi.velmora.com/\" rel=\"nofollow\">Tavi</a>");
        Raw(out, "favorited", Pick(6) == 0 ? "true" : "false");
        Raw(out, "truncated", "false");
        Member(out, "in_reply_to_status_id", "");
        Member(out, "in_reply_to_user_id", "");
        Member(out, "in_reply_to_screen_name", "");
        Raw(out, "geo", "null");
        Raw(out, "retweet_count", std::to_string(Number(0, 300)));
        Raw(out, "comments_count", std::to_string(Number(0, 120)));
        Raw(out, "score", "0.75");
        if (Pick(3) == 0) {
            Member(out, "flag", "RETWEET");
            Member(out, "root_in_reply_to_status_id", Id(11));
            Member(out, "root_in_reply_to_status_text", Text());
            Member(out, "root_in_reply_to_user_id", Id(8));
            Member(out, "root_in_reply_to_user_name", "维摩拉官方");
            Member(out, "root_in_reply_to_screen_name", "velmora");
        }
        User(out);
        out += "}";
    }

    std::mt19937 random_;
};

const std::string& Timeline(int statuses) {
    static const std::string fifty = ReplyGenerator(20101116).Timeline(50);
    static const std::string many = ReplyGenerator(20101116).Timeline(5000);
    return statuses == 50 ? fifty : many;
}

void SetUpHost() {
    static bool done = [] {
        tavi::SetSystemCodePage("GB18030");
        setenv("TZ", "CST-8", 1);
        tzset();
        return true;
    }();
    (void)done;
}

void ReaderBench(benchmark::State& state, int statuses) {
    SetUpHost();
    const std::string& text = Timeline(statuses);
    microblog::JsonReader reader;
    for (auto _ : state) {
        bool parsed = reader.Parse(text.c_str());
        benchmark::DoNotOptimize(parsed);
        benchmark::DoNotOptimize(reader.root());
    }
    if (!reader.root() || reader.root()->size() != static_cast<std::size_t>(statuses))
        state.SkipWithError("the reply did not parse into the expected statuses");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["bytes_per_status"] = static_cast<double>(text.size()) / statuses;
}

void NlohmannBench(benchmark::State& state, int statuses) {
    const std::string& text = Timeline(statuses);
    for (auto _ : state) {
        nlohmann::json tree = nlohmann::json::parse(text);
        benchmark::DoNotOptimize(tree);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void RapidJsonBench(benchmark::State& state, int statuses) {
    const std::string& text = Timeline(statuses);
    for (auto _ : state) {
        rapidjson::Document tree;
        tree.Parse(text.c_str());
        benchmark::DoNotOptimize(tree.IsArray());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// Replaces a string of the DOM (a value or a member name) with its form in the system code page,
// kept in the document's own storage. ASCII text is the same in both and stays as it is.
void ConvertInPlace(rapidjson::Value& text, tavi::CodePageConverter& converter, std::string& scratch,
                    rapidjson::Document::AllocatorType& storage) {
    const char* bytes = text.GetString();
    rapidjson::SizeType length = text.GetStringLength();
    bool ascii = true;
    for (rapidjson::SizeType i = 0; i < length && ascii; ++i)
        ascii = static_cast<unsigned char>(bytes[i]) < 0x80;
    if (ascii)
        return;
    scratch.clear();
    converter.Convert(bytes, length, scratch);
    text.SetString(scratch.data(), static_cast<rapidjson::SizeType>(scratch.size()), storage);
}

void ConvertStrings(rapidjson::Value& value, tavi::CodePageConverter& converter, std::string& scratch,
                    rapidjson::Document::AllocatorType& storage) {
    if (value.IsString()) {
        ConvertInPlace(value, converter, scratch, storage);
    } else if (value.IsArray()) {
        for (auto& element : value.GetArray())
            ConvertStrings(element, converter, scratch, storage);
    } else if (value.IsObject()) {
        for (auto& member : value.GetObject()) {
            ConvertInPlace(member.name, converter, scratch, storage);
            ConvertStrings(member.value, converter, scratch, storage);
        }
    }
}

// The floor of the reader's work: the same DOM, and every string in the system code page, with one
// converter for the parse.
void RapidJsonConvertedBench(benchmark::State& state, int statuses) {
    SetUpHost();
    const std::string& text = Timeline(statuses);
    std::string scratch;
    for (auto _ : state) {
        rapidjson::Document tree;
        tree.Parse(text.c_str());
        tavi::CodePageConverter converter("UTF-8", tavi::GetSystemCodePage());
        ConvertStrings(tree, converter, scratch, tree.GetAllocator());
        benchmark::DoNotOptimize(tree.IsArray());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_JsonReader_Timeline50(benchmark::State& state) {
    ReaderBench(state, 50);
}
void BM_Nlohmann_Timeline50(benchmark::State& state) {
    NlohmannBench(state, 50);
}
void BM_JsonReader_Timeline5000(benchmark::State& state) {
    ReaderBench(state, 5000);
}
void BM_Nlohmann_Timeline5000(benchmark::State& state) {
    NlohmannBench(state, 5000);
}
void BM_RapidJson_Timeline50(benchmark::State& state) {
    RapidJsonBench(state, 50);
}
void BM_RapidJsonConverted_Timeline50(benchmark::State& state) {
    RapidJsonConvertedBench(state, 50);
}
void BM_RapidJson_Timeline5000(benchmark::State& state) {
    RapidJsonBench(state, 5000);
}
void BM_RapidJsonConverted_Timeline5000(benchmark::State& state) {
    RapidJsonConvertedBench(state, 5000);
}

// A user folder and an app folder for the page, under the temporary folder.
struct PageFolders {
    PageFolders() {
        root = std::filesystem::temp_directory_path() / ("tavi-data-bench-" + std::to_string(getpid()));
        std::filesystem::create_directories(root / "users" / "demo" / "microblog");
        settings.userFolder = (root / "users" / "demo" / "microblog").string();
        settings.appPath = root.string() + "/";
        settings.picturePrefix = kPicturePrefix;
    }
    ~PageFolders() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    std::filesystem::path root;
    microblog::TimelinePageSettings settings;
};

PageFolders& Folders() {
    static PageFolders folders;
    return folders;
}

struct Replies {
    Replies() {
        SetUpHost();
        account.Parse(
            R"({"id":"10001","screen_name":"demo","name":"演示用户","location":"北京","followers_count":120,
                          "friends_count":88,"statuses_count":342,"verified":false,
                          "profile_image_url":"http://img.velmora.com/avatar/10001/50.png"})");
        reminds.Parse(R"({"timelineCount":"3","replyCount":"0","commentOfMeCount":"2"})");
        timeline.Parse(Timeline(50).c_str());
    }
    microblog::TimelineSources Sources() const { return {account.root(), reminds.root(), timeline.root()}; }
    microblog::JsonReader account, reminds, timeline;
};

Replies& PageReplies() {
    static Replies replies;
    return replies;
}

void BM_TimelinePage_Rebuild50(benchmark::State& state) {
    Replies& replies = PageReplies();
    PageFolders& folders = Folders();
    for (auto _ : state) {
        bool written = microblog::RebuildTimelinePage(folders.settings, replies.Sources(), kNow);
        if (!written) {
            state.SkipWithError("the page could not be written");
            break;
        }
    }
}

// The same page made the direct way: the same elements, with the same values taken from the same
// parsed reply by the same rules (status texts as HTML, display times, the host's conversion to
// UTF-8), built with libxml2's own calls and saved once with the declaration and the stylesheet
// instruction. What it leaves out is what the rebuild adds: the host document's checks and
// copies, the intermediate file and the header put in front.
class DirectPage {
public:
    DirectPage() : times_(kNow) {}

    void Convert(xmlNodePtr parent, const std::string& name, const microblog::JsonValue& value, int depth) {
        using microblog::JsonValueType;
        switch (value.type()) {
        case JsonValueType::Object: {
            if (depth > microblog::kPageMaxDepth)
                return;
            xmlNodePtr element = xmlNewChild(parent, nullptr, Utf8(name), nullptr);
            for (const auto& [memberName, member] : value.members())
                Convert(element, memberName, *member, depth + 1);
            return;
        }
        case JsonValueType::Integer:
            Attribute(parent, name, std::to_string(value.integer()));
            return;
        case JsonValueType::Null:
            Attribute(parent, name, "NULL");
            return;
        case JsonValueType::Boolean:
            Attribute(parent, name, value.boolean() ? "TRUE" : "FALSE");
            return;
        case JsonValueType::String:
            if (name == "text" || name == "root_in_reply_to_status_text")
                Attribute(parent, name, microblog::StatusTextToHtml(value.string(), kPicturePrefix));
            else if (name == "created_at")
                Attribute(parent, name, times_.Format(value.string()));
            else
                Attribute(parent, name, value.string());
            return;
        default:
            return;
        }
    }

private:
    const xmlChar* Utf8(const std::string& narrow) {
        name_ = tavi::CString_to_utf8(narrow);
        return BAD_CAST name_.c_str();
    }
    void Attribute(xmlNodePtr element, const std::string& name, const std::string& narrowValue) {
        std::string value = tavi::CString_to_utf8(narrowValue);
        xmlNewProp(element, Utf8(name), BAD_CAST value.c_str());
    }

    microblog::DisplayTimeFormatter times_;
    std::string name_;
};

void BM_Libxml2_DirectPage50(benchmark::State& state) {
    Replies& replies = PageReplies();
    microblog::TimelineSources sources = replies.Sources();
    std::string path = Folders().settings.userFolder + "/direct.xml";
    std::string instruction =
        "type=\"text/xsl\" href=\"" + Folders().settings.appPath + microblog::kStylesheetPath + "\"";
    for (auto _ : state) {
        xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
        xmlAddChild(reinterpret_cast<xmlNodePtr>(doc),
                    xmlNewDocPI(doc, BAD_CAST "xml-stylesheet", BAD_CAST instruction.c_str()));
        xmlNodePtr root = xmlNewDocNode(doc, nullptr, BAD_CAST "VEDIDE", nullptr);
        xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), root);
        DirectPage page;
        page.Convert(root, "uinfo", *sources.account, 1);
        page.Convert(root, "msg", *sources.reminds, 1);
        for (const auto& status : sources.timeline->elements())
            page.Convert(root, "wbinfo", *status, 1);
        int written = xmlSaveFormatFileEnc(path.c_str(), doc, "UTF-8", 1);
        xmlFreeDoc(doc);
        if (written < 0) {
            state.SkipWithError("the page could not be written");
            break;
        }
    }
}

// For comparison only: libxml2 given the finished UTF-8 values of the same elements (read back
// from a page the writer made), building and saving them; the floor of the XML work alone.
struct ElementPlan {
    int parent; // index into the plan; -1 for the root
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
};

std::vector<ElementPlan> PlanFromPage() {
    Replies& replies = PageReplies();
    PageFolders& folders = Folders();
    microblog::RebuildTimelinePage(folders.settings, replies.Sources(), kNow);
    std::vector<ElementPlan> plan;
    xmlDocPtr doc =
        xmlReadFile(microblog::DocumentPath(folders.settings, microblog::kDocumentTimeline).c_str(), nullptr,
                    XML_PARSE_NOBLANKS);
    if (doc == nullptr)
        return plan;
    std::vector<std::pair<xmlNodePtr, int>> pending{{xmlDocGetRootElement(doc), -1}};
    for (std::size_t next = 0; next < pending.size(); ++next) {
        auto [node, parent] = pending[next];
        ElementPlan element{parent, reinterpret_cast<const char*>(node->name), {}};
        for (xmlAttrPtr attribute = node->properties; attribute; attribute = attribute->next) {
            xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attribute));
            element.attributes.emplace_back(reinterpret_cast<const char*>(attribute->name),
                                            reinterpret_cast<const char*>(value));
            xmlFree(value);
        }
        plan.push_back(std::move(element));
        int index = static_cast<int>(plan.size()) - 1;
        for (xmlNodePtr child = node->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                pending.emplace_back(child, index);
    }
    xmlFreeDoc(doc);
    return plan;
}

void BM_Libxml2_PrebuiltValuesPage50(benchmark::State& state) {
    std::vector<ElementPlan> plan = PlanFromPage();
    if (plan.size() < 50) {
        state.SkipWithError("no page to copy");
        return;
    }
    std::string path = Folders().settings.userFolder + "/prebuilt.xml";
    std::string instruction =
        "type=\"text/xsl\" href=\"" + Folders().settings.appPath + microblog::kStylesheetPath + "\"";
    std::vector<xmlNodePtr> made(plan.size());
    for (auto _ : state) {
        xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
        xmlAddChild(reinterpret_cast<xmlNodePtr>(doc),
                    xmlNewDocPI(doc, BAD_CAST "xml-stylesheet", BAD_CAST instruction.c_str()));
        for (std::size_t i = 0; i < plan.size(); ++i) {
            const ElementPlan& element = plan[i];
            if (element.parent < 0) {
                made[i] = xmlNewDocNode(doc, nullptr, BAD_CAST element.name.c_str(), nullptr);
                xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), made[i]);
            } else {
                made[i] = xmlNewChild(made[static_cast<std::size_t>(element.parent)], nullptr,
                                      BAD_CAST element.name.c_str(), nullptr);
            }
            for (const auto& [name, value] : element.attributes)
                xmlNewProp(made[i], BAD_CAST name.c_str(), BAD_CAST value.c_str());
        }
        int written = xmlSaveFormatFileEnc(path.c_str(), doc, "UTF-8", 1);
        xmlFreeDoc(doc);
        if (written < 0) {
            state.SkipWithError("the page could not be written");
            break;
        }
    }
}

BENCHMARK(BM_JsonReader_Timeline50);
BENCHMARK(BM_Nlohmann_Timeline50);
BENCHMARK(BM_RapidJson_Timeline50);
BENCHMARK(BM_RapidJsonConverted_Timeline50);
BENCHMARK(BM_JsonReader_Timeline5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Nlohmann_Timeline5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJson_Timeline5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RapidJsonConverted_Timeline5000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimelinePage_Rebuild50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libxml2_DirectPage50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Libxml2_PrebuiltValuesPage50)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
