// tavi's command line: the options, read with GLib's option parser, and the usage text.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "app/host_app.h"
#include "app/messenger_commands.h"

namespace tavi::app {

struct CommandLine {
    // Without --app-dir the host's appDir stays empty: an installed tavi then runs on the user's
    // own app folder (app/installed_app.h).
    HostOptions host;
    MessengerOptions messenger;
    std::string script;
    std::string proxy;
    // The --exec commands, in the order given.
    std::vector<std::string> startup;
    bool repl = false;
    bool gui = false;
    bool passwordGiven = false;
};

enum class CommandLineVerdict {
    kRun,
    // --help: the usage goes to standard output, and tavi ends with 0.
    kHelp,
    // An argument that is no option: the problem line, then the usage; tavi ends with 2.
    kUnknown,
    // An option without its value, or with one it cannot take: the problem line alone; 2.
    kBadValue,
};

// Reads the arguments in order into the command line; what comes after the first problem (or
// --help) is not read. A bad value says why in problem.
CommandLineVerdict ReadCommandLine(int argc, char** argv, CommandLine& line, std::string& problem);

void PrintUsage(std::ostream& out);

} // namespace tavi::app
