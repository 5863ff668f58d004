// The framework's module state: entry points the host calls from outside the plug-in's own
// framework context switch to the library's state and restore the caller's on return.
#pragma once

namespace tavi {

struct ModuleState {
    const char* name = "";
};

ModuleState* GetCurrentModuleState();

class ModuleStateGuard {
public:
    explicit ModuleStateGuard(ModuleState* state);
    ~ModuleStateGuard();
    ModuleStateGuard(const ModuleStateGuard&) = delete;
    ModuleStateGuard& operator=(const ModuleStateGuard&) = delete;

private:
    ModuleState* previous_;
};

} // namespace tavi
