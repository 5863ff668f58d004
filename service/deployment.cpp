#include "service/deployment.h"

#include <fstream>
#include <mutex>

namespace microblog {
namespace {

std::mutex deploymentMutex;
Deployment current;

std::string Trim(const std::string& text) {
    std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

} // namespace

Deployment ReadDeployment(const std::string& path) {
    Deployment deployment;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        std::string trimmed = Trim(line);
        if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';' || trimmed[0] == '[')
            continue;
        std::size_t equals = trimmed.find('=');
        if (equals == std::string::npos)
            continue;
        std::string key = Trim(trimmed.substr(0, equals));
        std::string value = Trim(trimmed.substr(equals + 1));
        if (value.empty())
            continue;
        if (key == "api_root")
            deployment.apiRoot = value;
        else if (key == "web_root")
            deployment.webRoot = value;
        else if (key == "picture_prefix")
            deployment.picturePrefix = value;
        else if (key == "ca_file")
            deployment.caFile = value;
    }
    if (!deployment.caFile.empty() && deployment.caFile.front() != '/') {
        std::size_t folderEnd = path.rfind('/');
        if (folderEnd != std::string::npos)
            deployment.caFile = path.substr(0, folderEnd + 1) + deployment.caFile;
    }
    if (deployment.apiRoot.back() != '/')
        deployment.apiRoot.push_back('/');
    return deployment;
}

Deployment CurrentDeployment() {
    std::lock_guard<std::mutex> lock(deploymentMutex);
    return current;
}

void SetCurrentDeployment(const Deployment& deployment) {
    std::lock_guard<std::mutex> lock(deploymentMutex);
    current = deployment;
}

} // namespace microblog
