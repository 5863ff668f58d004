// Where this installation's services live: the REST interface's base address, the web site's base
// address and the picture short-link prefix, read from <app>/plugin/microblog/deploy.ini, and the
// authority that an https service's certificate is signed by when it is a private one.
#pragma once

#include <string>

namespace microblog {

struct Deployment {
    std::string apiRoot = "http://127.0.0.1:8990/";
    std::string webRoot = "http://127.0.0.1:8990/web";
    std::string picturePrefix = "http://127.0.0.1:8990/p/";
    // A PEM file of the authorities trusted for https calls instead of the system's; empty: the system's.
    std::string caFile;
};

// Reads the file (keys api_root, web_root, picture_prefix, ca_file; '#' and ';' start comments).
// Keys that are missing keep their defaults; api_root always ends in '/'; a relative ca_file is
// taken from the file's own folder.
Deployment ReadDeployment(const std::string& path);

// The settings read at load, for every part of the plug-in.
Deployment CurrentDeployment();
void SetCurrentDeployment(const Deployment& deployment);

} // namespace microblog
