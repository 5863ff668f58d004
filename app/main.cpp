// tavi: the messenger host program. Loads the plug-ins of an app folder (given, or the installed
// ones through the user's own folder) and runs a script or an interactive session of host commands.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/host_app.h"
#include "app/installed_app.h"
#include "app/messenger_commands.h"
#include "app/terminal.h"
#include "host/global_helper.h"
#include "runtime/net/proxy_settings.h"
#ifdef TAVI_WINDOWED
#include "app/windowed/windowed_host.h"
#endif

int main(int argc, char** argv) {
    tavi::app::UseUtf8Characters();
    tavi::app::CommandLine line;
    std::string problem;
    switch (tavi::app::ReadCommandLine(argc, argv, line, problem)) {
    case tavi::app::CommandLineVerdict::kRun:
        break;
    case tavi::app::CommandLineVerdict::kHelp:
        tavi::app::PrintUsage(std::cout);
        return 0;
    case tavi::app::CommandLineVerdict::kUnknown:
        std::cerr << "tavi: " << problem << "\n";
        tavi::app::PrintUsage(std::cerr);
        return 2;
    case tavi::app::CommandLineVerdict::kBadValue:
        std::cerr << "tavi: " << problem << "\n";
        return 2;
    }
    tavi::app::HostOptions& options = line.host;
    const std::string& script = line.script;
    bool gui = line.gui;
    bool repl = line.repl;
    // Without --app-dir an installed tavi runs on the user's own app folder; one that is not
    // installed (in a build folder) needs the option.
    tavi::app::Installation installation;
    bool installed = options.appDir.empty() && tavi::app::FindInstallation(installation);
    // The windowed host asks for the account and password in its sign-in window.
    bool signInWindow = gui && !line.passwordGiven;
    if ((options.appDir.empty() && !installed) || (options.account.empty() && !signInWindow)) {
        tavi::app::PrintUsage(std::cerr);
        return 2;
    }
    if (!line.passwordGiven && !gui &&
        !tavi::app::AskPassword("Password for " + options.account + ": ", options.password)) {
        std::cerr << "tavi: give the password with --password-file FILE, or start tavi at a terminal\n";
        return 2;
    }
    if (installed)
        options.appDir = tavi::app::UserAppFolder();
    // The pages name their stylesheet by the app folder's path, which must hold from any folder.
    std::error_code pathError;
    std::filesystem::path appDir = std::filesystem::absolute(options.appDir, pathError);
    if (!pathError)
        options.appDir = appDir.lexically_normal().string();
    if (!line.proxy.empty()) {
        // Every connection the plug-ins make goes through the host's proxy settings.
        tavi::ProxyCfg proxy;
        std::string error;
        if (!tavi::runtime::ParseProxyUrl(line.proxy, proxy, &error)) {
            std::cerr << "tavi: " << error << "\n";
            return 2;
        }
        tavi::SetProxyCfg(proxy);
    }
    // The account names the user's folder under <app>/users/.
    if (!signInWindow &&
        (options.account.find('/') != std::string::npos || options.account[0] == '.')) {
        std::cerr << "tavi: not an account name: " << options.account << "\n";
        return 2;
    }
    if (installed && !tavi::app::PrepareAppFolder(installation, options.appDir, problem)) {
        std::cerr << "tavi: " << problem << "\n";
        return 2;
    }

    std::ifstream scriptFile;
    std::istream* input = &std::cin;
    if (!script.empty()) {
        scriptFile.open(script);
        if (!scriptFile) {
            std::cerr << "tavi: cannot read " << script << "\n";
            return 2;
        }
        input = &scriptFile;
    }
    // A person at a terminal gets line editing; with a pipe or a script the lines are read as they
    // come. Either way --repl adds the lines that say what changed.
    bool terminal = !gui && repl && script.empty() && isatty(STDIN_FILENO) && isatty(STDOUT_FILENO);
    tavi::app::TerminalOutput terminalOutput;
    std::ostream& out = terminal ? terminalOutput.Stream() : std::cout;

#ifdef TAVI_WINDOWED
    std::unique_ptr<tavi::app::WindowedHost> windowed;
    if (gui) {
        windowed = tavi::app::WindowedHost::Open(options.account, problem);
        if (!windowed) {
            std::cerr << "tavi: " << problem << "\n";
            return 2;
        }
        if (signInWindow && !windowed->AskSignIn(options.account, options.password)) {
            std::cerr << "tavi: not signed in\n";
            return 1;
        }
    }
#else
    if (gui) {
        std::cerr << "tavi: this build has no windowed host\n";
        return 2;
    }
#endif
    tavi::app::HostApp host(options, out);
    tavi::app::MessengerSession messengerSession(host.GetCore(), line.messenger, out);
    messengerSession.RegisterCommands([&host](const std::string& name, std::string usage, std::string help,
                                              tavi::app::MessengerSession::Handler handler) {
        host.AddCommand(name, std::move(usage), std::move(help), std::move(handler));
    });
    if (repl) {
        out << "tavi: the messenger host, signed in as " << options.account
            << ". Type help for the commands, page to read the timeline, "
            << (terminal ? "Ctrl-D" : "quit") << " to end.\n"
            << std::flush;
        host.SetEchoChanges(true);
    }
    messengerSession.Start();
#ifdef TAVI_WINDOWED
    if (windowed)
        windowed->Attach(host);
#endif
    host.LoadPlugins();
    bool running = true;
    for (const std::string& command : line.startup)
        if (running)
            running = host.Execute(command);
#ifdef TAVI_WINDOWED
    if (running && windowed) {
        windowed->Run(host, script);
        running = false;
    }
#endif
    if (running && terminal) {
        tavi::app::RunTerminal(host, terminalOutput, tavi::app::DefaultHistoryPath());
    } else {
        std::string line;
        while (running) {
            host.Pump();
            if (!std::getline(*input, line))
                break;
            running = host.Execute(line);
        }
    }
    host.UnloadPlugins();
    return 0;
}
