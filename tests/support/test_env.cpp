#include "tests/support/test_env.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/common.h"
#include "runtime/common/runtime_settings.h"

namespace testenv {

ScratchDir::ScratchDir(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? std::string(made) : pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

HostRuntime::HostRuntime(const std::string& account, const std::string& password, const std::string& appDir) {
    if (appDir.empty()) {
        scratch_ = std::make_unique<ScratchDir>("tavi-app");
        appDir_ = scratch_->path();
    } else {
        appDir_ = appDir;
    }
    std::filesystem::create_directories(appDir_ + "/users");
    tavi::runtime::SetAppPath(appDir_);
    tavi::SetSystemCodePage("GB18030");
    loop().BindToCurrentThread();
    loop().UseManualClock(true);
    core_ = std::make_unique<tavi::runtime::TaviCore>(tavi::runtime::CoreConfig{account, password, 4}, loop());
    tavi::runtime::TaviCore::Install(core_.get());
}

HostRuntime::~HostRuntime() {
    core_->WaitIdle(30000);
    tavi::runtime::TaviCore::Install(nullptr);
    core_.reset();
    loop().RunUntilIdle();
}

bool HostRuntime::RunUntil(const std::function<bool()>& condition, int boundMs) {
    return loop().RunUntil(condition, boundMs);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

int RunCommand(const std::string& command, std::string* output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return -1;
    std::string collected;
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        collected.append(buffer.data(), n);
    int status = pclose(pipe);
    if (output)
        *output = collected;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace testenv
