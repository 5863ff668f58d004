// The plug-in's skin files: a build node for every panel and form with the controls the plug-in
// finds by name, every text in both languages with the format the code gives it, a real icon, and
// every control name and string id the plug-in's code looks up present in these files.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "host/skin.h"
#include "runtime/skin/skin_runtime.h"
#include "tests/skin/skin_fixture.h"

namespace skintest {
namespace {

struct Control {
    const char* name;
    const char* kind;
};

struct PluginNode {
    const char* name;
    bool form;
    std::vector<Control> controls;
};

// Every panel and form of the plug-in with the controls it finds after its build.
const std::vector<PluginNode>& PluginNodes() {
    static const std::vector<PluginNode> nodes = {
        {"TAVI Plugins MicroBlogWindow MicroBlogPanel", false, {}},
        {"TAVI Plugins MicroBlogToolPanel",
         false,
         {{"BtnPublish", "button"},
          {"BtnMainForm", "button"},
          {"BtnMyBlog", "button"},
          {"BtnAtMe", "button"},
          {"BtnAtMeNew", "button"},
          {"BtnComment", "button"},
          {"BtnCommentNew", "button"},
          {"BtnCollect", "button"}}},
        {"TAVI Plugins MicroBlogStartPanel",
         false,
         {{"LabelAccountStatus", "label"},
          {"LabelUseThisAccount", "linklabel"},
          {"LabelBindOtherAccount", "linklabel"},
          {"LabelOpenThisAccount", "linklabel"},
          {"LabelRetry", "linklabel"}}},
        {"TAVI Plugins MicroBlogListPanel", false, {}},
        {"TAVI Plugins MicroBlogWaitPanel", false, {{"LabelWait", "label"}}},
        {"TAVI Plugins MicroBlogOpenPanel",
         false,
         {{"LabelInputNickName", "label"},
          {"EdtNickName", "edit"},
          {"LabelInputNotice", "label"},
          {"BtnStartMicroBlog", "button"},
          {"LabelAccountNotice", "label"},
          {"LabelAccountNoticeforShort", "label"},
          {"LabelBindOtherAccount", "linklabel"}}},
        {"MicroBlogPublishForm",
         true,
         {{"PanelBorder", "panel"},
          {"EdtContent", "edit"},
          {"ButtonSend", "button"},
          {"InputStatusFirst", "label"},
          {"LabelNumberLeft", "label"},
          {"SendStatus", "label"},
          {"PanelOption", "panel"},
          {"ChkRetweet", "checkbox"},
          {"ChkComment", "checkbox"},
          {"ChkCommentRoot", "checkbox"}}},
        {"MicroBlogConfigForm",
         true,
         {{"CheckBindMicroBlog", "checkbox"},
          {"CheckNoticeNewMicroBlog", "checkbox"},
          {"CheckSyncSignature", "checkbox"},
          {"CheckAutoWatch", "checkbox"},
          {"CheckBeWatched", "checkbox"},
          {"EditAccount", "edit"},
          {"EditPassword", "edit"},
          {"EditInterval", "edit"},
          {"ButtonOK", "button"},
          {"ButtonCancel", "button"},
          {"LabelAccountTip", "label"},
          {"LabelCurrentAccount", "label"}}},
    };
    return nodes;
}

// The string ids the plug-in uses, and how many "%s" each text must hold.
const std::map<std::string, int>& PluginStringIds() {
    static const std::map<std::string, int> ids = {
        {"TIP_MICROBLOG", 0},
        {"STRID_MB_TITLE_SETTING", 0},
        {"STRID_MB_STARTPANEL_ACCOUNTOK", 1},
        {"STRID_MB_STARTPANEL_ACCOUNTNOTOK", 1},
        {"STRID_MB_STARTPANEL_AUTHERROR", 1},
        {"STRID_MB_STARTPANEL_DOMAINERROR", 1},
        {"STRID_MB_STARTPANEL_ACCOUNTNOTICE_NULL", 0},
        {"STRID_MB_STARTPANEL_ACCOUNTNOTICE_12", 0},
        {"STRID_MB_STARTPANEL_ACCOUNTNOTICE_FEIFA", 0},
        {"STRID_MB_STARTPANEL_ACCOUNTNOTICE", 0},
        {"STRID_MB_PROMPT_NEWMICROBLOG", 0},
        {"STRID_MB_PROMPT_NEWMICROBLOGCONTENT", 0},
        {"STRID_MICROBLOG_BLANK_EMAIL", 0},
        {"STRID_MICROBLOG_BLANK_PASSWORD", 0},
        {"STRID_MICROBLOG_CONFIRM_DELETE", 0},
        {"STRID_MICROBLOG_CONF_NOACCOUNT", 0},
        {"STRID_MICROBLOG_CONF_TITLE", 0},
        {"STRID_MICROBLOG_ERROR_ACCOUNT", 0},
        {"STRID_MICROBLOG_ERROR_OVERADDR", 0},
        {"STRID_MICROBLOG_ERROR_OVERPASSWD", 0},
        {"STRID_MICROBLOG_ERROR_SHORTTIME", 0},
        {"STRID_MICROBLOG_MSGTRANS_BEYONDNUMBER", 0},
        {"STRID_MICROBLOG_MSGTRANS_COMMENT", 1},
        {"STRID_MICROBLOG_MSGTRANS_COMMENTROOT", 1},
        {"STRID_MICROBLOG_MSGTRANS_EDITEMPTY", 0},
        {"STRID_MICROBLOG_MSGTRANS_INPUTSTATUS", 0},
        {"STRID_MICROBLOG_MSGTRANS_SENDFAILED", 0},
        {"STRID_MICROBLOG_MSGTRANS_TITLE", 0},
        {"STRID_MICROBLOG_MSGTRANS_TITLE_COMMENT", 0},
        {"STRID_MICROBLOG_MSGTRANS_TITLE_RETWEET", 0},
        {"STRID_PROMPT_TITLE_WARNING", 0},
    };
    return ids;
}

// The sections of stringid.ini as the file has them: language -> id -> UTF-8 text.
std::map<std::string, std::map<std::string, std::string>> ReadStringFile() {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::string section;
    std::string text = testenv::ReadFile(ResourcePath("stringid.ini"));
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        if (line.empty() || line[0] == ';')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::string id = line.substr(0, equals);
        while (!id.empty() && id.back() == ' ')
            id.pop_back();
        sections[section][id] = line.substr(line.find_first_not_of(' ', equals + 1));
    }
    return sections;
}

// The printf directives of a text: "%s" counted, anything else after a '%' reported.
int CountDirectives(const std::string& text, std::string& other) {
    int count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == 's') {
            ++count;
            ++i;
        } else {
            other += text.substr(i, 2) + " ";
        }
    }
    return count;
}

class PluginSkinFiles : public SkinTest {
protected:
    void SetUp() override {
        SkinTest::SetUp();
        manager()->Reset();
        ASSERT_EQ(manager()->IncludeSkinBuildFile(ResourcePath("build.xml")), 1) << manager()->GetLastError();
        ASSERT_EQ(manager()->IncludeSkinFile(ResourcePath("skin.xml")), 1) << manager()->GetLastError();
        tavi::runtime::ClearStringTable();
        ASSERT_TRUE(tavi::runtime::LoadStringTable(ResourcePath("stringid.ini")));
    }
    void TearDown() override {
        tavi::runtime::SetLanguage("zh-CN");
        SkinTest::TearDown();
    }
};

// A form of the plug-in's object id, built by the library in Create.
class AnyForm : public tavi::CSkinForm {
public:
    explicit AnyForm(const std::string& id) { SetObjectID(id); }
};

class PluginNodeBuilds : public PluginSkinFiles, public ::testing::WithParamInterface<PluginNode> {};

TEST_P(PluginNodeBuilds, WithEveryControlThePluginFindsAsItsKind) {
    const PluginNode& node = GetParam();
    for (const char* language : {"zh-CN", "en"}) {
        tavi::runtime::SetLanguage(language);
        tavi::CSkinObject* root = nullptr;
        std::unique_ptr<tavi::CSkinPanel> panel;
        std::unique_ptr<AnyForm> form;
        if (node.form) {
            form = std::make_unique<AnyForm>(node.name);
            ASSERT_EQ(form->Create(0x80CF0000u, node.name, "", nullptr, 0), 1) << manager()->GetLastError();
            EXPECT_FALSE(form->GetWindowText().empty()) << "a form has a title in " << language;
            root = form->GetSkinObject();
        } else {
            panel = std::make_unique<tavi::CSkinPanel>();
            ASSERT_EQ(panel->BuildFromXML(manager()->GetBuildNode(node.name)), 1)
                << manager()->GetLastError();
            root = panel.get();
        }
        for (const Control& control : node.controls) {
            tavi::CSkinObject* found = root->FindControlRecusive(control.name);
            ASSERT_NE(found, nullptr) << control.name;
            EXPECT_EQ(found->GetKind(), control.kind) << control.name;
            bool captioned = control.kind == std::string("button") ||
                             control.kind == std::string("checkbox") ||
                             control.kind == std::string("linklabel");
            if (captioned) {
                EXPECT_FALSE(found->GetText().empty()) << control.name << " has a caption in " << language;
            }
        }
        root->ResetSkinData();
    }
}

INSTANTIATE_TEST_SUITE_P(Nodes, PluginNodeBuilds, ::testing::ValuesIn(PluginNodes()), [](const auto& info) {
    std::string name = info.param.name;
    return name.substr(name.find_last_of(' ') + 1);
});

TEST_F(PluginSkinFiles, ControlsThePluginArrangesSitWhereItLooksForThem) {
    AnyForm publish("MicroBlogPublishForm");
    ASSERT_EQ(publish.Create(0x80CF0000u, "MicroBlogPublishForm", "", nullptr, 0), 1);
    tavi::CSkinObject* root = publish.GetSkinObject();
    for (const char* option : {"ChkRetweet", "ChkComment", "ChkCommentRoot"})
        EXPECT_EQ(root->FindControlRecusive(option)->GetParent(), root->FindControlRecusive("PanelOption"))
            << option;
    EXPECT_NE(root->FindControlRecusive("LabelNumberLeft")->GetParent(), root)
        << "the counter has a container of its own to re-place";
    EXPECT_GT(publish.GetSkinObject()->FindControlRecusive("PanelOption")->GetSkinConfig().height, 0)
        << "the form grows by the option panel's height in the reply modes";
}

TEST_F(PluginSkinFiles, EveryTextIsThereInBothLanguagesWithTheFormatTheCodeGivesIt) {
    auto sections = ReadStringFile();
    ASSERT_EQ(sections.count("zh-CN"), 1u);
    ASSERT_EQ(sections.count("en"), 1u);
    std::set<std::string> chinese, english;
    for (const auto& [id, text] : sections["zh-CN"])
        chinese.insert(id);
    for (const auto& [id, text] : sections["en"])
        english.insert(id);
    EXPECT_EQ(chinese, english) << "the two sections hold the same ids";
    for (const auto& [id, expected] : PluginStringIds()) {
        for (const char* language : {"zh-CN", "en"}) {
            auto& section = sections[language];
            ASSERT_EQ(section.count(id), 1u) << id << " in " << language;
            std::string other;
            EXPECT_EQ(CountDirectives(section[id], other), expected) << id << " in " << language;
            EXPECT_TRUE(other.empty()) << id << " in " << language << " has " << other;
        }
    }
    for (const auto& [language, entries] : sections)
        for (const auto& [id, text] : entries) {
            EXPECT_FALSE(text.empty()) << id;
            if (PluginStringIds().count(id) == 0) {
                EXPECT_EQ(text.find('%'), std::string::npos) << id << " is shown as it stands";
            }
        }
    tavi::runtime::SetLanguage("en");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("TIP_MICROBLOG"), "Microblog");
    tavi::runtime::SetLanguage("zh-CN");
    EXPECT_EQ(tavi::CMutiLanSupport::GetStringViaID("TIP_MICROBLOG"), Narrow("微博"));
}

TEST_F(PluginSkinFiles, EveryCaptionIdOfTheBuildFileIsInTheStringTable) {
    auto sections = ReadStringFile();
    std::vector<const tavi::SkinBuildNode*> pending;
    for (const std::string& name : manager()->GetBuildNodeNames())
        pending.push_back(manager()->GetBuildNode(name));
    int checked = 0;
    while (!pending.empty()) {
        const tavi::SkinBuildNode* node = pending.back();
        pending.pop_back();
        for (const char* attribute : {"textid", "tipid"})
            if (const std::string* id = node->FindAttribute(attribute)) {
                ++checked;
                EXPECT_EQ(sections["zh-CN"].count(*id), 1u) << *id;
                EXPECT_EQ(sections["en"].count(*id), 1u) << *id;
            }
        for (const auto& child : node->children)
            pending.push_back(&child);
    }
    EXPECT_GT(checked, 40);
}

TEST_F(PluginSkinFiles, TheIconIsARealPng) {
    std::string path = manager()->GetImagePath("microblog");
    EXPECT_EQ(path, ResourcePath("skin/microblog.png"));
    std::string bytes = testenv::ReadFile(path);
    ASSERT_GT(bytes.size(), 33u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    auto be32 = [&](std::size_t at) {
        return static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 24 |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 3]));
    };
    EXPECT_EQ(be32(16), 32u);
    EXPECT_EQ(be32(20), 32u);
    EXPECT_EQ(bytes.substr(bytes.size() - 8, 4), "IEND");
}

// What the plug-in's code names: control lookups, toolbar buttons, string ids and the object ids of
// the panels and forms it builds.
struct SourceNames {
    std::vector<std::pair<std::string, std::string>> controls; // name, where
    std::vector<std::pair<std::string, std::string>> objectIds;
    std::vector<std::pair<std::string, std::string>> stringIds;
    std::vector<std::string> unresolved;
    int files = 0;
};

std::vector<std::string> TopLevelArguments(const std::string& text, std::size_t open, std::size_t& close) {
    std::vector<std::string> arguments;
    std::string current;
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = open + 1; i < text.size(); ++i) {
        char c = text[i];
        if (quoted) {
            current.push_back(c);
            if (c == '\\' && i + 1 < text.size())
                current.push_back(text[++i]);
            else if (c == '"')
                quoted = false;
            continue;
        }
        if (c == '"')
            quoted = true;
        if (c == '(' || c == '<' || c == '[' || c == '{')
            ++depth;
        if ((c == ')' || c == '>' || c == ']' || c == '}') && depth > 0) {
            --depth;
        } else if (c == ')' && depth == 0) {
            arguments.push_back(current);
            close = i;
            return arguments;
        } else if (c == ',' && depth == 0) {
            arguments.push_back(current);
            current.clear();
            continue;
        }
        current.push_back(c);
    }
    close = text.size();
    return arguments;
}

using SourceFiles = std::vector<std::pair<std::string, std::string>>; // path, text

SourceFiles ReadPluginSources() {
    SourceFiles files;
    for (const char* room : {"frame", "ui", "service"}) {
        std::filesystem::path dir = std::filesystem::path(TAVI_SOURCE_DIR) / room;
        if (!std::filesystem::exists(dir))
            continue;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
            std::string extension = entry.path().extension().string();
            if (extension != ".h" && extension != ".cpp")
                continue;
            files.emplace_back(entry.path().string(), testenv::ReadFile(entry.path().string()));
        }
    }
    return files;
}

SourceNames ScanSources(const SourceFiles& files) {
    SourceNames names;
    std::map<std::string, std::string> constants;
    names.files = static_cast<int>(files.size());
    static const std::regex constant(R"(\b(\w+)\s*(?:\[\s*\])?\s*=\s*"([^"\\]*)\")");
    static const std::regex stringId(R"re("(STRID_[A-Z0-9_]+|TIP_MICROBLOG)")re");
    for (const auto& [path, text] : files)
        for (std::sregex_iterator it(text.begin(), text.end(), constant), end; it != end; ++it)
            constants[(*it)[1]] = (*it)[2];
    auto resolve = [&](std::string argument, std::string& name) {
        std::size_t first = argument.find_first_not_of(" \t\r\n");
        if (first == std::string::npos)
            return false;
        argument = argument.substr(first, argument.find_last_not_of(" \t\r\n") - first + 1);
        if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
            name = argument.substr(1, argument.size() - 2);
            return true;
        }
        std::size_t scope = argument.rfind("::");
        std::string identifier = scope == std::string::npos ? argument : argument.substr(scope + 2);
        auto found = constants.find(identifier);
        if (found == constants.end())
            return false;
        name = found->second;
        return true;
    };
    // The calls that name a control, and which argument names it.
    const std::vector<std::pair<std::string, std::size_t>> lookups = {{"FindSkinControl", 1},
                                                                      {"FindControlRecusive", 0},
                                                                      {"FindAllControls", 0},
                                                                      {"SetButtonText", 0},
                                                                      {"FindButton", 0}};
    for (const auto& [path, text] : files) {
        std::string where = std::filesystem::path(path).filename().string();
        for (std::sregex_iterator it(text.begin(), text.end(), stringId), end; it != end; ++it)
            names.stringIds.emplace_back((*it)[1], where);
        for (const auto& [call, index] : lookups) {
            for (std::size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
                if (at > 0 && (std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_'))
                    continue;
                std::size_t open = text.find('(', at);
                if (open == std::string::npos || text.find_first_of(";{}", at) < open)
                    continue;
                std::size_t close = 0;
                std::vector<std::string> arguments = TopLevelArguments(text, open, close);
                if (index >= arguments.size())
                    continue;
                std::string name;
                if (resolve(arguments[index], name))
                    names.controls.emplace_back(name, where);
                else
                    names.unresolved.push_back(std::string(where)
                                                   .append(": ")
                                                   .append(call)
                                                   .append("(")
                                                   .append(arguments[index])
                                                   .append(")"));
            }
        }
        for (const char* setter : {"SetObjectID", "SetObjectId"})
            for (std::size_t at = text.find(setter); at != std::string::npos;
                 at = text.find(setter, at + 1)) {
                std::size_t open = text.find('(', at);
                if (open == std::string::npos)
                    continue;
                std::size_t close = 0;
                std::vector<std::string> arguments = TopLevelArguments(text, open, close);
                std::string name;
                if (arguments.size() == 1 && resolve(arguments[0], name))
                    names.objectIds.emplace_back(name, where);
            }
    }
    return names;
}

TEST(SourceScan, FindsLookupsByLiteralAndByNamedConstant) {
    SourceFiles files = {{"ui/names.h", "constexpr char kLabelWait[] = \"LabelWait\";\n"
                                        "namespace ids { constexpr const char* kSend = \"ButtonSend\"; }\n"},
                         {"ui/panel.cpp",
                          "int P::OnBuildControlAfter() {\n"
                          "  label_ = tavi::FindSkinControl<tavi::CSkinLabel>(this, kLabelWait);\n"
                          "  send_ = tavi::FindSkinControl<tavi::CSkinButton>(GetSkinObject(), ids::kSend);\n"
                          "  edit_ = FindSkinControl<tavi::CSWColorEdit>(this, \"EdtNickName\");\n"
                          "  bar_ = form->GetSkinObject()->FindControlRecusive(\"ButtonManager\");\n"
                          "  bar->SetButtonText(\"ToolbarMicroBlog\", text, tip);\n"
                          "  other_ = FindSkinControl<tavi::CSkinLabel>(this, name);\n"
                          "  SetObjectID(\"MicroBlogWaitPanel\");\n"
                          "  title = GetStringViaID(\"STRID_MB_TITLE_SETTING\");\n"
                          "  void FindStatus(id, text);\n"
                          "}\n"}};
    SourceNames names = ScanSources(files);
    std::vector<std::string> controls;
    for (const auto& [name, where] : names.controls)
        controls.push_back(name);
    EXPECT_EQ(controls, (std::vector<std::string>{"LabelWait", "ButtonSend", "EdtNickName", "ButtonManager",
                                                  "ToolbarMicroBlog"}));
    ASSERT_EQ(names.unresolved.size(), 1u) << "a name held in a variable cannot be checked";
    EXPECT_NE(names.unresolved[0].find("name"), std::string::npos);
    ASSERT_EQ(names.objectIds.size(), 1u);
    EXPECT_EQ(names.objectIds[0].first, "MicroBlogWaitPanel");
    ASSERT_EQ(names.stringIds.size(), 1u);
    EXPECT_EQ(names.stringIds[0].first, "STRID_MB_TITLE_SETTING");
}

TEST_F(PluginSkinFiles, EveryControlNameAndStringIdThePluginsCodeLooksUpExists) {
    SourceNames names = ScanSources(ReadPluginSources());
    ASSERT_GT(names.files, 0) << "the plug-in's sources are under frame/, ui/ and service/";
    // Names the skin makes: every control of the plug-in's build file and of the host's main form,
    // and the objects the plug-in makes and names itself.
    std::set<std::string> known;
    std::vector<const tavi::SkinBuildNode*> pending;
    for (const std::string& name : manager()->GetBuildNodeNames())
        pending.push_back(manager()->GetBuildNode(name));
    while (!pending.empty()) {
        const tavi::SkinBuildNode* node = pending.back();
        pending.pop_back();
        if (const std::string* id = node->FindAttribute("id"))
            known.insert(*id);
        for (const auto& child : node->children)
            pending.push_back(&child);
    }
    tavi::CDockFormEx* main = tavi::runtime::CreateHostMainForm();
    ASSERT_NE(main, nullptr);
    std::vector<tavi::CSkinObject*> objects{main->GetSkinObject()};
    while (!objects.empty()) {
        tavi::CSkinObject* object = objects.back();
        objects.pop_back();
        known.insert(object->GetObjectID());
        objects.insert(objects.end(), object->GetChildren().begin(), object->GetChildren().end());
    }
    main->Release();
    for (const auto& [id, where] : names.objectIds)
        known.insert(id);

    for (const auto& [name, where] : names.controls)
        EXPECT_EQ(known.count(name), 1u) << where << " looks up " << name << ", which no skin file makes";

    std::set<std::string> builds;
    for (const std::string& name : manager()->GetBuildNodeNames())
        builds.insert(name);
    for (const auto& [id, where] : names.objectIds) {
        if (id.rfind("MicroBlog", 0) != 0 || id == "MicroBlogWindow")
            continue;
        bool built = builds.count(id) || builds.count("TAVI Plugins " + id) ||
                     builds.count("TAVI Plugins MicroBlogWindow " + id);
        EXPECT_TRUE(built) << where << " builds " << id << " from a node the build file lacks";
    }

    auto sections = ReadStringFile();
    for (const auto& [id, where] : names.stringIds) {
        EXPECT_EQ(sections["zh-CN"].count(id), 1u) << where << " uses " << id << ", missing in [zh-CN]";
        EXPECT_EQ(sections["en"].count(id), 1u) << where << " uses " << id << ", missing in [en]";
    }
    for (const std::string& call : names.unresolved)
        std::cout << "not checked (the name is not a literal or a named constant): " << call << "\n";
    std::cout << names.files << " files, " << names.controls.size() << " control lookups, "
              << names.stringIds.size() << " string ids checked\n";
}

} // namespace
} // namespace skintest
