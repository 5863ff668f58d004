// tavi: the messenger host program. Loads the plug-ins of an app folder and runs a script or an
// interactive session of host commands.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/host_app.h"
#include "app/messenger_commands.h"
#include "app/terminal.h"
#include "host/global_helper.h"
#include "runtime/net/proxy_settings.h"
#ifdef TAVI_WINDOWED
#include "app/windowed/windowed_host.h"
#endif

namespace {

void Usage(std::ostream& out) {
    out << "usage: tavi --app-dir DIR --user ACCOUNT [--password-file FILE | --password PASSWORD]\n"
           "            [--script FILE | --repl] [--gui]\n"
           "            [--code-page GB18030|CP936] [--lang zh-CN|en]\n"
           "            [--proxy http://[USER:PASSWORD@]HOST:PORT | socks5://[USER:PASSWORD@]HOST:PORT]\n"
           "            [--exec COMMAND]...  (commands run after loading, before the input)\n"
           "Loads the plug-ins under DIR/plugin/*/ as the messenger user ACCOUNT and runs host\n"
           "commands from FILE, or from the terminal (type help for the list). With --gui the\n"
           "messenger's window shows the plug-in, and the commands act on it while it runs.\n"
           "Without a password option the password is asked for at the terminal, without echo,\n"
           "or with --gui in a sign-in window, which also asks for the account when --user is not\n"
           "given (a password on the command line is visible to every local user).\n";
    out << tavi::app::MessengerUsage();
}

} // namespace

int main(int argc, char** argv) {
    tavi::app::UseUtf8Characters();
    tavi::app::HostOptions options;
    tavi::app::MessengerOptions messenger;
    std::string script;
    std::string proxyText;
    std::vector<std::string> startup;
    bool repl = false;
    bool gui = false;
    bool passwordGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                std::cerr << "tavi: " << arg << " needs a value\n";
                std::exit(2);
            }
            into = argv[++i];
        };
        if (arg == "--app-dir")
            value(options.appDir);
        else if (arg == "--user")
            value(options.account);
        else if (arg == "--password") {
            value(options.password);
            passwordGiven = true;
        } else if (arg == "--password-file") {
            std::string path;
            value(path);
            if (!tavi::app::ReadPasswordFile(path, options.password)) {
                std::cerr << "tavi: cannot read the password from " << path << "\n";
                return 2;
            }
            passwordGiven = true;
        }
        else if (arg == "--script")
            value(script);
        else if (arg == "--code-page")
            value(options.codePage);
        else if (arg == "--lang")
            value(options.language);
        else if (arg == "--proxy")
            value(proxyText);
        else if (arg == "--exec") {
            std::string command;
            value(command);
            startup.push_back(command);
        }
        else if (tavi::app::IsMessengerOption(arg)) {
            std::string text;
            std::string problem;
            value(text);
            if (!tavi::app::SetMessengerOption(messenger, arg, text, problem)) {
                std::cerr << "tavi: " << problem << "\n";
                return 2;
            }
        } else if (arg == "--repl")
            repl = true;
        else if (arg == "--gui")
            gui = true;
        else if (arg == "--help" || arg == "-h") {
            Usage(std::cout);
            return 0;
        } else {
            std::cerr << "tavi: unknown option " << arg << "\n";
            Usage(std::cerr);
            return 2;
        }
    }
    // The windowed host asks for the account and password in its sign-in window.
    bool signInWindow = gui && !passwordGiven;
    if (options.appDir.empty() || (options.account.empty() && !signInWindow)) {
        Usage(std::cerr);
        return 2;
    }
    if (!passwordGiven && !gui &&
        !tavi::app::AskPassword("Password for " + options.account + ": ", options.password)) {
        std::cerr << "tavi: give the password with --password-file FILE, or start tavi at a terminal\n";
        return 2;
    }
    // The pages name their stylesheet by the app folder's path, which must hold from any folder.
    std::error_code pathError;
    std::filesystem::path appDir = std::filesystem::absolute(options.appDir, pathError);
    if (!pathError)
        options.appDir = appDir.lexically_normal().string();
    if (!proxyText.empty()) {
        // Every connection the plug-ins make goes through the host's proxy settings.
        tavi::ProxyCfg proxy;
        std::string error;
        if (!tavi::runtime::ParseProxyUrl(proxyText, proxy, &error)) {
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
        std::string problem;
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
    tavi::app::MessengerSession messengerSession(host.GetCore(), messenger, out);
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
    for (const std::string& command : startup)
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
