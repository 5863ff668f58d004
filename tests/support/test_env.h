// Helpers shared by the tests: a scratch folder, a host runtime on it with a manual clock, and the
// paths of the build.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "runtime/core/tavi_core.h"

namespace testenv {

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix = "tavi-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A host runtime on a scratch app folder (or a given one): the core object installed, the loop
// bound to the calling thread and on its manual clock.
class HostRuntime {
public:
    explicit HostRuntime(const std::string& account = "tester@velmora.com", const std::string& password = "secret",
                         const std::string& appDir = std::string());
    ~HostRuntime();
    HostRuntime(const HostRuntime&) = delete;
    HostRuntime& operator=(const HostRuntime&) = delete;

    tavi::runtime::TaviCore& core() { return *core_; }
    tavi::runtime::UiLoop& loop() { return tavi::runtime::UiLoop::Instance(); }
    const std::string& appDir() const { return appDir_; }
    // Runs the loop until the condition holds, at most boundMs of real time.
    bool RunUntil(const std::function<bool()>& condition, int boundMs = 10000);

private:
    std::unique_ptr<ScratchDir> scratch_;
    std::string appDir_;
    std::unique_ptr<tavi::runtime::TaviCore> core_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// Runs a command through the shell and returns its exit status, with its output in *output.
int RunCommand(const std::string& command, std::string* output = nullptr);

} // namespace testenv
