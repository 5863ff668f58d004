// tavi's command line: every option lands where the host looks for it, and a wrong argument ends
// the reading with the line (and exit status) it always had, whatever GLib's parser would say.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"

namespace apptest {
namespace {

using tavi::app::CommandLine;
using tavi::app::CommandLineVerdict;

CommandLineVerdict Read(std::vector<std::string> args, CommandLine& line, std::string& problem) {
    args.insert(args.begin(), "tavi");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return tavi::app::ReadCommandLine(static_cast<int>(args.size()), argv.data(), line, problem);
}

TEST(CommandLine, EveryOptionLandsInItsPlaceAndExecKeepsItsOrder) {
    CommandLine line;
    std::string problem;
    ASSERT_EQ(Read({"--app-dir",   "/srv/app",
                    "--user",      "demo@velmora.com",
                    "--exec",      "show",
                    "--password",  "-p w",
                    "--script",    "s.txt",
                    "--code-page", "CP936",
                    "--lang",      "en",
                    "--proxy",     "socks5://h:1",
                    "--im-server", "127.0.0.1:5222",
                    "--im-wait",   "2.5",
                    "--exec",      "when A click A",
                    "--repl",      "--gui",
                    "--exec",      "页面"},
                   line, problem),
              CommandLineVerdict::kRun)
        << problem;
    EXPECT_EQ(line.host.appDir, "/srv/app");
    EXPECT_EQ(line.host.account, "demo@velmora.com");
    EXPECT_EQ(line.host.password, "-p w");
    EXPECT_TRUE(line.passwordGiven);
    EXPECT_EQ(line.script, "s.txt");
    EXPECT_EQ(line.host.codePage, "CP936");
    EXPECT_EQ(line.host.language, "en");
    EXPECT_EQ(line.proxy, "socks5://h:1");
    EXPECT_EQ(line.messenger.server, "127.0.0.1:5222");
    EXPECT_EQ(line.messenger.replyWaitSeconds, 2.5);
    EXPECT_EQ(line.startup, (std::vector<std::string>{"show", "when A click A", "页面"}));
    EXPECT_TRUE(line.repl);
    EXPECT_TRUE(line.gui);

    CommandLine defaults;
    ASSERT_EQ(Read({"--user", "u"}, defaults, problem), CommandLineVerdict::kRun);
    EXPECT_EQ(defaults.host.appDir, "");
    EXPECT_FALSE(defaults.passwordGiven);
    EXPECT_EQ(defaults.host.codePage, "GB18030");
    EXPECT_EQ(defaults.messenger.replyWaitSeconds, -1);
}

TEST(CommandLine, TheFirstWrongArgumentDecidesTheLineAndTheStatus) {
    struct Case {
        std::vector<std::string> args;
        CommandLineVerdict verdict;
        std::string problem;
    };
    const Case cases[] = {
        {{"--help", "--bogus"}, CommandLineVerdict::kHelp, ""},
        {{"--user", "u", "-h"}, CommandLineVerdict::kHelp, ""},
        {{"--bogus", "--help"}, CommandLineVerdict::kUnknown, "unknown option --bogus"},
        // An option's value may look like an option; the one after it is the unknown one.
        {{"--user", "--gui", "--app-dir", "a", "-x", "--bogus"},
         CommandLineVerdict::kUnknown,
         "unknown option -x"},
        {{"--gui", "word", "--help"}, CommandLineVerdict::kUnknown, "unknown option word"},
        {{"--repl", "--user"}, CommandLineVerdict::kBadValue, "--user needs a value"},
        {{"--im-wait", "soon", "--help"},
         CommandLineVerdict::kBadValue,
         "--im-wait wants a number of seconds from 0 to 3600, not soon"},
        {{"--im-server", "nohost"}, CommandLineVerdict::kBadValue, "--im-server wants HOST:PORT, not nohost"},
        {{"--password-file", "/nonexistent/password", "--bogus"},
         CommandLineVerdict::kBadValue,
         "cannot read the password from /nonexistent/password"},
    };
    for (const Case& c : cases) {
        CommandLine line;
        std::string problem;
        std::string shown;
        for (const std::string& arg : c.args)
            shown += arg + " ";
        EXPECT_EQ(Read(c.args, line, problem), c.verdict) << shown;
        if (c.verdict != CommandLineVerdict::kHelp) {
            EXPECT_EQ(problem, c.problem) << shown;
        }
    }
}

} // namespace
} // namespace apptest
