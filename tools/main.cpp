// microblog-tool: a developer's command line over the plug-in's components.
#include <iostream>

#include "host/common.h"
#include "tools/tool_command.h"

namespace tools {

static std::vector<ToolCommand>& Registry() {
    static std::vector<ToolCommand> commands;
    return commands;
}

ToolRegistration::ToolRegistration(ToolCommand command) { Registry().push_back(std::move(command)); }

const std::vector<ToolCommand>& ToolCommands() { return Registry(); }

} // namespace tools

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "help") {
        std::cerr << "usage:\n";
        for (const auto& command : tools::ToolCommands())
            std::cerr << "  microblog-tool " << command.usage << "\n";
        return args.empty() ? 2 : 0;
    }
    for (const auto& command : tools::ToolCommands()) {
        if (command.name == args[0])
            return command.run(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    std::cerr << "microblog-tool: unknown command " << args[0] << " (try --help)\n";
    return 2;
}
