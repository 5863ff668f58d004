// The sub-commands of microblog-tool. Each source file of the tool registers its own commands.
#pragma once

#include <string>
#include <vector>

namespace tools {

struct ToolCommand {
    std::string name;
    std::string usage; // one line, after "microblog-tool "
    // Arguments after the command's name; returns the exit status.
    int (*run)(const std::vector<std::string>& args);
};

// Registers at static initialisation: static tools::ToolRegistration reg{{"json", "json FILE", RunJson}};
struct ToolRegistration {
    explicit ToolRegistration(ToolCommand command);
};

const std::vector<ToolCommand>& ToolCommands();

} // namespace tools
