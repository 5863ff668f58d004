// The host's skin manager: it keeps the skin files (styles and images) and the skin build files (the
// build nodes from which panels and forms make their controls) that the host and its plug-ins
// include, and makes the controls a build node names.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tavi {

class CSkinObject;

// One element of a build file: a build node (tag "build", with a name) or a control inside one
// (tag = the control's kind). Attribute values are UTF-8, as in the file.
struct SkinBuildNode {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<SkinBuildNode> children;
    // Folder of the file the node came from, ending in '/'.
    std::string baseDir;
    int line = 0;

    const std::string* FindAttribute(const std::string& name) const {
        for (const auto& [key, value] : attributes)
            if (key == name)
                return &value;
        return nullptr;
    }
    std::string GetAttribute(const std::string& name, const std::string& fallback = std::string()) const {
        const std::string* value = FindAttribute(name);
        return value ? *value : fallback;
    }
    std::string GetName() const { return GetAttribute("name"); }
};

class CSkinManager {
public:
    using ControlFactory = CSkinObject* (*)();

    static CSkinManager* GetInstance();
    CSkinManager(const CSkinManager&) = delete;
    CSkinManager& operator=(const CSkinManager&) = delete;

    // Adds a skin file (<skin> with <style> and <image> elements). Later files override earlier
    // ones entry by entry. 0 when the file cannot be read or is not a skin file; nothing is taken
    // from such a file.
    int IncludeSkinFile(const std::string& path);
    // Adds a skin build file (<builds> with <build name="..."> elements). A node of a name that is
    // already known replaces it. 0 when the file cannot be read or is malformed.
    int IncludeSkinBuildFile(const std::string& path);
    int IncludeSkinBuildText(const std::string& xml, const std::string& baseDir);
    int IncludeSkinText(const std::string& xml, const std::string& baseDir);

    // The build node of that name, or null. The node stays valid until Reset.
    const SkinBuildNode* GetBuildNode(const std::string& name);
    std::vector<std::string> GetBuildNodeNames() const;

    // The style data for an object: the entries for its kind, then for its skin path, then for
    // its object id (later ones override).
    std::vector<std::pair<std::string, std::string>>
    GetStyle(const std::string& kind, const std::string& skinPath, const std::string& objectId) const;
    // The file of a named image, or empty.
    std::string GetImagePath(const std::string& name) const;

    // Makes a control of a build-file kind; null for an unknown kind.
    CSkinObject* CreateControl(const std::string& kind) const;
    void RegisterControlKind(const std::string& kind, ControlFactory factory);

    // Why the last include or build failed.
    std::string GetLastError() const;
    void SetLastError(const std::string& error);

    // Forgets every included file (the host reloading its skin).
    void Reset();

private:
    CSkinManager();
    ~CSkinManager();
    int Include(const std::string& source, bool isFile, bool build, const std::string& baseDir);
    struct Tables;
    std::unique_ptr<Tables> tables_;
};

} // namespace tavi
