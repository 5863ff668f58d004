#include "app/command_line.h"

#include <glib.h>

#include <memory>
#include <ostream>

#include "app/terminal.h"

namespace tavi::app {
namespace {

// The reasons tavi's own callbacks stop the parse (GLib's option errors name the others).
GQuark StopQuark() {
    return g_quark_from_static_string("tavi-command-line");
}
enum StopCode {
    kStopForHelp,
    kStopAtArgument,
};

// The option parser's call for each of tavi's own options, in the order given: value is null for
// the options without one.
gboolean OnOption(const gchar* name, const gchar* value, gpointer data, GError** error) {
    CommandLine& line = *static_cast<CommandLine*>(data);
    std::string option = name;
    if (option == "--app-dir")
        line.host.appDir = value;
    else if (option == "--user")
        line.host.account = value;
    else if (option == "--password") {
        line.host.password = value;
        line.passwordGiven = true;
    } else if (option == "--password-file") {
        if (!ReadPasswordFile(value, line.host.password)) {
            g_set_error(error, G_OPTION_ERROR, G_OPTION_ERROR_FAILED, "cannot read the password from %s",
                        value);
            return FALSE;
        }
        line.passwordGiven = true;
    } else if (option == "--script")
        line.script = value;
    else if (option == "--code-page")
        line.host.codePage = value;
    else if (option == "--lang")
        line.host.language = value;
    else if (option == "--proxy")
        line.proxy = value;
    else if (option == "--exec")
        line.startup.emplace_back(value);
    else if (option == "--repl")
        line.repl = true;
    else if (option == "--gui")
        line.gui = true;
    else {
        // --help and -h: the usage, before anything after them is read.
        g_set_error_literal(error, StopQuark(), kStopForHelp, "help");
        return FALSE;
    }
    return TRUE;
}

// A word that is no option (the parser hands those over in order).
gboolean OnArgument(const gchar*, const gchar* value, gpointer, GError** error) {
    g_set_error(error, StopQuark(), kStopAtArgument, "unknown option %s", value);
    return FALSE;
}

// Values are taken as the bytes given (FILENAME), not converted from the locale's character set:
// paths, and commands in the terminal's UTF-8.
constexpr GOptionFlags kValue = G_OPTION_FLAG_FILENAME;
constexpr GOptionFlags kFlag = G_OPTION_FLAG_NO_ARG;
gpointer Call(GOptionArgFunc function) {
    return reinterpret_cast<gpointer>(function);
}

const GOptionEntry kEntries[] = {
    {"app-dir", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"user", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"password", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"password-file", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"script", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"code-page", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"lang", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"proxy", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"exec", 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"repl", 0, kFlag, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"gui", 0, kFlag, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {"help", 'h', kFlag, G_OPTION_ARG_CALLBACK, Call(OnOption), nullptr, nullptr},
    {G_OPTION_REMAINING, 0, kValue, G_OPTION_ARG_CALLBACK, Call(OnArgument), nullptr, nullptr},
    {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
};

using ContextPtr = std::unique_ptr<GOptionContext, decltype(&g_option_context_free)>;
using ErrorPtr = std::unique_ptr<GError, decltype(&g_error_free)>;

// Parses the first count arguments into line; null when they all fit.
ErrorPtr Parse(int count, char** argv, CommandLine& line) {
    ContextPtr context(g_option_context_new(nullptr), g_option_context_free);
    // The usage is tavi's own, printed for --help as it always was.
    g_option_context_set_help_enabled(context.get(), FALSE);
    GOptionGroup* main = g_option_group_new("tavi", "tavi", "tavi options", &line, nullptr);
    g_option_group_add_entries(main, kEntries);
    g_option_context_set_main_group(context.get(), main);
    g_option_context_add_group(context.get(), NewMessengerOptionGroup(line.messenger));
    // The parser takes out what it read: it works on a copy of the list.
    std::vector<char*> copy(argv, argv + count);
    copy.push_back(nullptr);
    char** args = copy.data();
    GError* error = nullptr;
    g_option_context_parse(context.get(), &count, &args, &error);
    return ErrorPtr(error, g_error_free);
}

} // namespace

CommandLineVerdict ReadCommandLine(int argc, char** argv, CommandLine& line, std::string& problem) {
    ErrorPtr error = Parse(argc, argv, line);
    if (!error)
        return CommandLineVerdict::kRun;
    if (error->domain == StopQuark()) {
        problem = error->message;
        return error->code == kStopForHelp ? CommandLineVerdict::kHelp : CommandLineVerdict::kUnknown;
    }
    if (error->code == G_OPTION_ERROR_UNKNOWN_OPTION) {
        // GLib names the option only in a message in the user's language: it is the last of the
        // shortest start of the list that GLib refuses for it.
        for (int count = 2; count <= argc; ++count) {
            CommandLine scratch;
            ErrorPtr early = Parse(count, argv, scratch);
            if (early && early->domain == G_OPTION_ERROR && early->code == G_OPTION_ERROR_UNKNOWN_OPTION) {
                problem = std::string("unknown option ") + argv[count - 1];
                return CommandLineVerdict::kUnknown;
            }
        }
        problem = std::string("unknown option ") + argv[argc - 1];
        return CommandLineVerdict::kUnknown;
    }
    if (error->code == G_OPTION_ERROR_BAD_VALUE) {
        // GLib's own value error is the one for an option that ends the list without its value
        // (a callback's failure comes as G_OPTION_ERROR_FAILED).
        problem = std::string(argv[argc - 1]) + " needs a value";
        return CommandLineVerdict::kBadValue;
    }
    problem = error->message;
    return CommandLineVerdict::kBadValue;
}

void PrintUsage(std::ostream& out) {
    out << "usage: tavi [--app-dir DIR] --user ACCOUNT [--password-file FILE | --password PASSWORD]\n"
           "            [--script FILE | --repl] [--gui]\n"
           "            [--code-page GB18030|CP936] [--lang zh-CN|en]\n"
           "            [--proxy http://[USER:PASSWORD@]HOST:PORT | socks5://[USER:PASSWORD@]HOST:PORT]\n"
           "            [--exec COMMAND]...  (commands run after loading, before the input)\n"
           "Loads the plug-ins under DIR/plugin/*/ as the messenger user ACCOUNT and runs host\n"
           "commands from FILE, or from the terminal (type help for the list). Without --app-dir an\n"
           "installed tavi loads the installed plug-ins and keeps the user's data in\n"
           "$XDG_DATA_HOME/tavi (~/.local/share/tavi). With --gui the messenger's window shows the\n"
           "plug-in, and the commands act on it while it runs.\n"
           "Without a password option the password is asked for at the terminal, without echo,\n"
           "or with --gui in a sign-in window, which also asks for the account when --user is not\n"
           "given (a password on the command line is visible to every local user).\n";
    out << MessengerUsage();
}

} // namespace tavi::app
