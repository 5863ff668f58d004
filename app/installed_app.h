// An installed tavi (cmake --install, the Debian package) and the app folder it runs on.
//
// The installation is read-only and split the usual way: <prefix>/lib/tavi/plugin/<name>/ holds a
// plug-in's library, <prefix>/share/tavi/plugin/<name>/ its data files. A plug-in forms its paths
// from the app folder (<app>/plugin/<name>/..., <app>/users/...), so the app folder is the user's
// own data folder for tavi, $XDG_DATA_HOME/tavi: its plugin/<name>/ holds a link to each installed
// file of the plug-in, so that reads go to the installation and anything written stays with the
// user, and users/ holds the user's data.
#pragma once

#include <string>

namespace tavi::app {

struct Installation {
    // <prefix>/lib/tavi and <prefix>/share/tavi.
    std::string libraryDir;
    std::string dataDir;
};

// The installation this program is part of, found from its own place (<prefix>/bin/tavi); false
// when it runs from elsewhere (a build folder), where --app-dir names the app folder.
bool FindInstallation(Installation& found);

// $XDG_DATA_HOME/tavi, by default ~/.local/share/tavi.
std::string UserAppFolder();

// Makes the app folder ready for the installation: for each installed file of a plug-in, a link
// at its place under appDir/plugin/, made, or pointed again at the installation when it moved or
// changed; a link to a file no longer installed goes. A file the user put in a link's place, or a
// link of the user's own, is kept. False with the reason when the folder cannot be made.
bool PrepareAppFolder(const Installation& installation, const std::string& appDir, std::string& problem);

} // namespace tavi::app
