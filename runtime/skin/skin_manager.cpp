// The skin manager: skin files and skin build files read with libxml2, the build nodes by name, the
// styles and images, and the control factories by kind.
#include "host/skin_manager.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <map>
#include <memory>
#include <mutex>

#include "host/color_edit.h"
#include "host/dock_form.h"
#include "host/skin_controls.h"
#include "runtime/skin/skin_view.h"

namespace tavi {

namespace runtime {
namespace {
ISkinView* skinView = nullptr;
} // namespace

void SetSkinView(ISkinView* view) {
    skinView = view;
}
ISkinView* GetSkinView() {
    return skinView;
}
} // namespace runtime

namespace {

// Build files are the host's and the plug-ins' own data, but a damaged one must not take the host
// down: no network, no external entities, a bounded depth (libxml2's default).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOCDATA;

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string Text(const xmlChar* text) {
    return text ? std::string(reinterpret_cast<const char*>(text)) : "";
}

SkinBuildNode ConvertElement(xmlNodePtr element, const std::string& baseDir) {
    // Iterative over the element tree, so that nesting depth is bounded by the parser only.
    SkinBuildNode root;
    struct Frame {
        xmlNodePtr element;
        SkinBuildNode* node;
    };
    std::vector<Frame> pending{{element, &root}};
    while (!pending.empty()) {
        Frame frame = pending.back();
        pending.pop_back();
        SkinBuildNode& node = *frame.node;
        node.tag = Text(frame.element->name);
        node.baseDir = baseDir;
        node.line = static_cast<int>(xmlGetLineNo(frame.element));
        for (xmlAttrPtr attribute = frame.element->properties; attribute; attribute = attribute->next) {
            xmlChar* value = xmlNodeListGetString(frame.element->doc, attribute->children, 1);
            node.attributes.emplace_back(Text(attribute->name), Text(value));
            xmlFree(value);
        }
        std::size_t count = 0;
        for (xmlNodePtr child = frame.element->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                ++count;
        node.children.resize(count);
        std::size_t index = 0;
        for (xmlNodePtr child = frame.element->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE)
                pending.push_back(Frame{child, &node.children[index++]});
    }
    return root;
}

// The parsed document, freed with its owner.
struct XmlDoc {
    xmlDocPtr doc = nullptr;
    ~XmlDoc() {
        if (doc)
            xmlFreeDoc(doc);
    }
};

template <class T> CSkinObject* Make() {
    return new T();
}

} // namespace

struct CSkinManager::Tables {
    mutable std::mutex mutex;
    std::map<std::string, std::shared_ptr<const SkinBuildNode>> builds;
    // Nodes replaced by a later include stay alive for the pointers handed out.
    std::vector<std::shared_ptr<const SkinBuildNode>> retired;
    // Style entries by selector ("kind:label", "path:Plugins X", "id:LabelWait").
    std::map<std::string, std::vector<std::pair<std::string, std::string>>> styles;
    std::map<std::string, std::string> images;
    std::map<std::string, ControlFactory> factories;
    std::string lastError;
};

CSkinManager::CSkinManager() : tables_(std::make_unique<Tables>()) {
    tables_->factories = {
        {kKindPanel, &Make<CSkinPanel>},
        {kKindLabel, &Make<CSkinLabel>},
        {kKindLinkLabel, &Make<CSkinLinkLabel>},
        {kKindButton, &Make<CSkinButton>},
        {kKindCheckBox, &Make<CSkinCheckBox>},
        {kKindImage, &Make<CSkinImage>},
        {kKindToolbar, &Make<CSkinButtonManager>},
        {kKindPluginContainer, &Make<CSkinPluginContainer>},
        {kKindEdit, [] { return (new CSWColorEdit())->GetSkinObject(); }},
    };
}

CSkinManager::~CSkinManager() = default;

CSkinManager* CSkinManager::GetInstance() {
    static CSkinManager manager;
    return &manager;
}

namespace {

bool ReadDocument(const std::string& source, bool isFile, XmlDoc& parsed, std::string& error) {
    xmlResetLastError();
    if (isFile)
        parsed.doc = xmlReadFile(source.c_str(), nullptr, kParseOptions);
    else
        parsed.doc =
            xmlReadMemory(source.data(), static_cast<int>(source.size()), "skin.xml", nullptr, kParseOptions);
    if (parsed.doc == nullptr) {
        const xmlError* last = xmlGetLastError();
        error = last && last->message ? Text(reinterpret_cast<const xmlChar*>(last->message)) : "unreadable";
        while (!error.empty() && (error.back() == '\n' || error.back() == ' '))
            error.pop_back();
        if (last)
            error = "line " + std::to_string(last->line) + ": " + error;
        return false;
    }
    return true;
}

} // namespace

namespace {

using StyleTable = std::map<std::string, std::vector<std::pair<std::string, std::string>>>;

void MergeEntries(std::vector<std::pair<std::string, std::string>>& target,
                  const std::vector<std::pair<std::string, std::string>>& values) {
    for (const auto& entry : values) {
        std::erase_if(target, [&](const auto& existing) { return existing.first == entry.first; });
        target.push_back(entry);
    }
}

// The <build> nodes of a build document.
bool ReadBuilds(xmlDocPtr doc, const std::string& baseDir,
                std::vector<std::shared_ptr<const SkinBuildNode>>& nodes, std::string& error) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (root == nullptr || Text(root->name) != "builds") {
        error = "not a skin build file (no <builds> root)";
        return false;
    }
    for (xmlNodePtr child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        if (Text(child->name) != "build") {
            error = "line " + std::to_string(xmlGetLineNo(child)) + ": <" + Text(child->name) +
                    "> where a <build> was expected";
            return false;
        }
        auto node = std::make_shared<const SkinBuildNode>(ConvertElement(child, baseDir));
        if (node->GetName().empty()) {
            error = "line " + std::to_string(node->line) + ": a <build> without a name";
            return false;
        }
        nodes.push_back(std::move(node));
    }
    return true;
}

// The <style> and <image> entries of a skin document.
bool ReadSkin(xmlDocPtr doc, const std::string& baseDir, StyleTable& styles,
              std::map<std::string, std::string>& images, std::string& error) {
    xmlNodePtr root = xmlDocGetRootElement(doc);
    if (root == nullptr || Text(root->name) != "skin") {
        error = "not a skin file (no <skin> root)";
        return false;
    }
    for (xmlNodePtr child = root->children; child; child = child->next) {
        if (child->type != XML_ELEMENT_NODE)
            continue;
        SkinBuildNode entry = ConvertElement(child, baseDir);
        std::string where = "line " + std::to_string(entry.line) + ": ";
        if (entry.tag == "style") {
            std::string selector;
            std::vector<std::pair<std::string, std::string>> values;
            for (const auto& [name, value] : entry.attributes) {
                if (name == "kind" || name == "path" || name == "id") {
                    if (!selector.empty()) {
                        error = where + "a <style> names more than one of kind, path and id";
                        return false;
                    }
                    selector.append(name).append(":").append(value);
                } else {
                    values.emplace_back(name, value);
                }
            }
            if (selector.empty()) {
                error = where + "a <style> without kind, path or id";
                return false;
            }
            MergeEntries(styles[selector], values);
        } else if (entry.tag == "image") {
            std::string id = entry.GetAttribute("id");
            std::string file = entry.GetAttribute("file");
            if (id.empty() || file.empty()) {
                error = where + "an <image> needs an id and a file";
                return false;
            }
            images[id] = file[0] == '/' ? file : baseDir + file;
        } else {
            error = where + "unknown skin entry <" + entry.tag + ">";
            return false;
        }
    }
    return true;
}

} // namespace

int CSkinManager::Include(const std::string& source, bool isFile, bool build, const std::string& baseDir) {
    std::string label = isFile ? source : std::string(build ? "build text" : "skin text");
    XmlDoc parsed;
    std::string error;
    if (!ReadDocument(source, isFile, parsed, error)) {
        SetLastError(label + ": " + error);
        return 0;
    }
    std::string folder = isFile ? FolderOf(source) : baseDir;
    std::vector<std::shared_ptr<const SkinBuildNode>> nodes;
    StyleTable styles;
    std::map<std::string, std::string> images;
    bool read = build ? ReadBuilds(parsed.doc, folder, nodes, error)
                      : ReadSkin(parsed.doc, folder, styles, images, error);
    if (!read) {
        SetLastError(label + ": " + error);
        return 0;
    }
    std::lock_guard<std::mutex> lock(tables_->mutex);
    for (auto& node : nodes) {
        auto& slot = tables_->builds[node->GetName()];
        if (slot)
            tables_->retired.push_back(slot);
        slot = std::move(node);
    }
    for (auto& [selector, values] : styles)
        MergeEntries(tables_->styles[selector], values);
    for (auto& [id, file] : images)
        tables_->images[id] = file;
    return 1;
}

int CSkinManager::IncludeSkinFile(const std::string& path) {
    return Include(path, true, false, std::string());
}
int CSkinManager::IncludeSkinBuildFile(const std::string& path) {
    return Include(path, true, true, std::string());
}
int CSkinManager::IncludeSkinBuildText(const std::string& xml, const std::string& baseDir) {
    return Include(xml, false, true, baseDir);
}
int CSkinManager::IncludeSkinText(const std::string& xml, const std::string& baseDir) {
    return Include(xml, false, false, baseDir);
}

const SkinBuildNode* CSkinManager::GetBuildNode(const std::string& name) {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    auto found = tables_->builds.find(name);
    return found == tables_->builds.end() ? nullptr : found->second.get();
}

std::vector<std::string> CSkinManager::GetBuildNodeNames() const {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    std::vector<std::string> names;
    for (const auto& [name, node] : tables_->builds)
        names.push_back(name);
    return names;
}

std::vector<std::pair<std::string, std::string>> CSkinManager::GetStyle(const std::string& kind,
                                                                        const std::string& skinPath,
                                                                        const std::string& objectId) const {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    std::vector<std::pair<std::string, std::string>> merged;
    auto add = [&](const std::string& selector) {
        auto found = tables_->styles.find(selector);
        if (found == tables_->styles.end())
            return;
        for (const auto& entry : found->second) {
            std::erase_if(merged, [&](const auto& existing) { return existing.first == entry.first; });
            merged.push_back(entry);
        }
    };
    if (!kind.empty())
        add("kind:" + kind);
    if (!skinPath.empty())
        add("path:" + skinPath);
    if (!objectId.empty())
        add("id:" + objectId);
    return merged;
}

std::string CSkinManager::GetImagePath(const std::string& name) const {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    auto found = tables_->images.find(name);
    return found == tables_->images.end() ? std::string() : found->second;
}

CSkinObject* CSkinManager::CreateControl(const std::string& kind) const {
    ControlFactory factory = nullptr;
    {
        std::lock_guard<std::mutex> lock(tables_->mutex);
        auto found = tables_->factories.find(kind);
        if (found != tables_->factories.end())
            factory = found->second;
    }
    return factory ? factory() : nullptr;
}

void CSkinManager::RegisterControlKind(const std::string& kind, ControlFactory factory) {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    if (factory)
        tables_->factories[kind] = factory;
    else
        tables_->factories.erase(kind);
}

std::string CSkinManager::GetLastError() const {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    return tables_->lastError;
}

void CSkinManager::SetLastError(const std::string& error) {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    tables_->lastError = error;
}

void CSkinManager::Reset() {
    std::lock_guard<std::mutex> lock(tables_->mutex);
    for (auto& [name, node] : tables_->builds)
        tables_->retired.push_back(node);
    tables_->builds.clear();
    tables_->styles.clear();
    tables_->images.clear();
    tables_->lastError.clear();
}

} // namespace tavi
