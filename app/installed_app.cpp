#include "app/installed_app.h"

#include <glib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <vector>

namespace tavi::app {
namespace {

namespace fs = std::filesystem;

// Whether the path's last components are those of tail.
bool EndsWith(const fs::path& path, const fs::path& tail) {
    std::vector<fs::path> parts(path.begin(), path.end());
    std::vector<fs::path> tailParts(tail.begin(), tail.end());
    if (tailParts.empty() || tailParts.size() > parts.size())
        return false;
    return std::equal(tailParts.begin(), tailParts.end(), parts.end() - static_cast<long>(tailParts.size()));
}

// Whether a link at relative place of the plug-in tree is one that tavi made: it names the file
// at the same place in an installation's plug-in tree (this one's, or one that moved or went).
bool IsInstallationLink(const fs::path& target, const fs::path& relative) {
    return EndsWith(target, fs::path(TAVI_INSTALL_LIBDIR) / "plugin" / relative) ||
           EndsWith(target, fs::path(TAVI_INSTALL_DATADIR) / "plugin" / relative);
}

// The installed plug-in tree under root: each file by its place below root, and the folders.
void CollectInstalled(const fs::path& root, std::map<fs::path, fs::path>& files,
                      std::set<fs::path>& folders) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        fs::path relative = it->path().lexically_relative(root);
        if (it->is_directory(error))
            folders.insert(relative);
        else
            files[relative] = it->path();
    }
}

std::string Reason(const fs::path& path, const std::error_code& error) {
    return path.string() + ": " + error.message();
}

} // namespace

bool FindInstallation(Installation& found) {
    std::error_code error;
    fs::path program = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return false;
    fs::path bin = program.parent_path();
    fs::path prefix = bin;
    const fs::path binFolder(TAVI_INSTALL_BINDIR);
    for (auto part = binFolder.begin(); part != binFolder.end(); ++part)
        prefix = prefix.parent_path();
    if (prefix / TAVI_INSTALL_BINDIR != bin)
        return false;
    fs::path library = prefix / TAVI_INSTALL_LIBDIR;
    if (!fs::is_directory(library / "plugin", error))
        return false;
    found.libraryDir = library.string();
    found.dataDir = (prefix / TAVI_INSTALL_DATADIR).string();
    return true;
}

std::string UserAppFolder() {
    return (fs::path(g_get_user_data_dir()) / "tavi").string();
}

bool PrepareAppFolder(const Installation& installation, const std::string& appDir, std::string& problem) {
    std::error_code error;
    fs::path app(appDir);
    // The user's data lives here: a folder made now is the user's alone.
    fs::create_directories(app.parent_path(), error);
    if (mkdir(app.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = "cannot make " + appDir + ": " + std::strerror(errno);
        return false;
    }
    fs::path plugins = app / "plugin";
    fs::create_directories(plugins, error);
    if (error) {
        problem = "cannot make " + Reason(plugins, error);
        return false;
    }

    std::map<fs::path, fs::path> installed;
    std::set<fs::path> folders;
    CollectInstalled(fs::path(installation.dataDir) / "plugin", installed, folders);
    CollectInstalled(fs::path(installation.libraryDir) / "plugin", installed, folders);

    // Folders before the links in them (a folder sorts before what it holds).
    for (const fs::path& folder : folders) {
        fs::path at = plugins / folder;
        if (!fs::exists(fs::symlink_status(at, error)) && !fs::create_directory(at, error)) {
            problem = "cannot make " + Reason(at, error);
            return false;
        }
    }
    for (const auto& [relative, file] : installed) {
        fs::path at = plugins / relative;
        fs::file_status status = fs::symlink_status(at, error);
        if (fs::exists(status)) {
            if (!fs::is_symlink(status))
                continue; // the user's own file in the link's place
            fs::path target = fs::read_symlink(at, error);
            if (target == file || !IsInstallationLink(target, relative))
                continue;
            fs::remove(at, error);
        }
        fs::create_symlink(file, at, error);
        if (error) {
            problem = "cannot link " + at.string() + " to " + Reason(file, error);
            return false;
        }
    }

    // What an earlier installation had and this one has not: its links, then the folders they
    // leave empty (deepest first).
    std::vector<fs::path> staleLinks;
    std::vector<fs::path> otherFolders;
    for (fs::recursive_directory_iterator it(plugins, error), end; !error && it != end; it.increment(error)) {
        fs::path relative = it->path().lexically_relative(plugins);
        if (it->is_symlink(error)) {
            if (installed.count(relative) == 0 &&
                IsInstallationLink(fs::read_symlink(it->path(), error), relative))
                staleLinks.push_back(it->path());
        } else if (it->is_directory(error) && folders.count(relative) == 0) {
            otherFolders.push_back(it->path());
        }
    }
    for (const fs::path& link : staleLinks)
        fs::remove(link, error);
    for (auto folder = otherFolders.rbegin(); folder != otherFolders.rend(); ++folder)
        if (fs::is_empty(*folder, error))
            fs::remove(*folder, error);
    return true;
}

} // namespace tavi::app
