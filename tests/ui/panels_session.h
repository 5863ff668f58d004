// What the panels' end-to-end tests share: the built mbservice on a loopback port with its request
// log, a copy of the staged app folder that points at it, tavi runs of whole scripts, interactive
// tavi sessions fed line by line, and readers of what tavi prints.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/common.h"
#include "tests/support/test_env.h"

namespace panelstest {

constexpr int kBoundMs = 60000;

inline std::int64_t MillisecondsLeft(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
        .count();
}

// Waits for the child to end, at most boundMs; kills it after that. The exit status, or -1.
inline int WaitForExit(pid_t pid, int boundMs) {
    int status = 0;
    int handle = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        int ready = poll(&ended, 1, boundMs);
        close(handle);
        if (ready <= 0)
            kill(pid, SIGKILL);
    }
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline pid_t Spawn(std::vector<std::string> argv, int stdoutFd, int stderrFd) {
    std::vector<char*> raw;
    for (std::string& arg : argv)
        raw.push_back(arg.data());
    raw.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, STDIN_FILENO);
        dup2(stdoutFd, STDOUT_FILENO);
        dup2(stderrFd, STDERR_FILENO);
        execv(raw[0], raw.data());
        _exit(127);
    }
    return pid;
}

// Reads one line from fd (without the newline), at most until the deadline.
inline std::optional<std::string> ReadLine(int fd, std::chrono::steady_clock::time_point deadline) {
    std::string line;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        std::int64_t left = MillisecondsLeft(deadline);
        if (left <= 0 || poll(&ready, 1, static_cast<int>(left)) <= 0)
            return std::nullopt;
        char c;
        if (read(fd, &c, 1) != 1)
            return std::nullopt;
        if (c == '\n')
            return line;
        line.push_back(c);
    }
}

// mbservice with the demo seed, its data in a file so that it can be restarted on the same port
// with other options, and one line per request in its log ("GET /statuses/home_timeline.json 200").
class MbService {
public:
    explicit MbService(std::vector<std::string> extra = {}) { Start(0, extra); }
    ~MbService() { Stop(); }
    MbService(const MbService&) = delete;
    MbService& operator=(const MbService&) = delete;

    int Port() const { return port_; }
    std::string ApiRoot() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }
    std::string WebRoot() const { return "http://127.0.0.1:" + std::to_string(port_) + "/web"; }

    // Stops the service and starts it again on the same port and data with other options.
    bool Restart(const std::vector<std::string>& extra) {
        int port = port_;
        Stop();
        Start(port, extra);
        return port_ == port;
    }

    void Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            WaitForExit(pid_, 10000);
            pid_ = -1;
        }
    }

    // The request lines logged so far.
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::istringstream in(testenv::ReadFile(dir_.path() + "/mbservice.log"));
        for (std::string line; std::getline(in, line);)
            if (line.rfind("GET /", 0) == 0 || line.rfind("POST /", 0) == 0)
                lines.push_back(line);
        return lines;
    }
    // How many requests so far begin with the text ("POST /account/activate.json").
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& line : Requests())
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    void Start(int port, const std::vector<std::string>& extra) {
        port_ = 0;
        std::vector<std::string> argv = {std::string(TAVI_BIN_DIR) + "/mbservice",
                                         "--port",
                                         std::to_string(port),
                                         "--seed",
                                         "demo",
                                         "--db",
                                         dir_.path() + "/mb.db"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        int log =
            open((dir_.path() + "/mbservice.log").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        pid_ = Spawn(argv, out[1], log);
        close(out[1]);
        close(log);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::optional<std::string> line = ReadLine(out[0], deadline);
        close(out[0]);
        if (line && line->rfind("port ", 0) == 0)
            port_ = std::stoi(line->substr(5));
    }

    testenv::ScratchDir dir_{"panels-mbservice"};
    pid_t pid_ = -1;
    int port_ = 0;
};

// A copy of the staged app folder whose deployment settings point at the service.
class AppFolder {
public:
    explicit AppFolder(const MbService& service) {
        EXPECT_EQ(testenv::RunCommand("cp -r " + std::string(TAVI_APP_DIR) + "/. " + dir_.path()), 0);
        testenv::WriteFile(dir_.path() + "/plugin/microblog/deploy.ini",
                           "api_root=" + service.ApiRoot() + "\nweb_root=" + service.WebRoot() +
                               "\npicture_prefix=http://127.0.0.1:" + std::to_string(service.Port()) +
                               "/p/\n");
    }
    const std::string& path() const { return dir_.path(); }

private:
    testenv::ScratchDir dir_{"panels-app"};
};

// Runs a whole tavi script as the user and returns what tavi printed.
inline std::string RunTavi(const AppFolder& app, const std::string& user, const std::string& password,
                           const std::string& script) {
    std::string file = app.path() + "/script.txt";
    testenv::WriteFile(file, script);
    std::string output;
    int status = testenv::RunCommand("timeout 120 " + std::string(TAVI_BIN_DIR) + "/tavi --app-dir " +
                                         app.path() + " --user " + user + " --password " + password +
                                         " --script " + file + " < /dev/null",
                                     &output);
    EXPECT_EQ(status, 0) << output;
    return output;
}

// A tavi session whose script is a pipe: the test sends commands and reads what they printed, so
// that it can act on the service (restart it, post as another user) between commands.
class TaviSession {
public:
    TaviSession(const AppFolder& app, const std::string& user, const std::string& password) {
        std::string fifo = dir_.path() + "/script";
        if (mkfifo(fifo.c_str(), 0600) != 0)
            return;
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        pid_ = Spawn({std::string(TAVI_BIN_DIR) + "/tavi", "--app-dir", app.path(), "--user", user,
                      "--password", password, "--script", fifo},
                     out[1], out[1]);
        close(out[1]);
        output_ = out[0];
        // Blocks until tavi opens the script for reading.
        script_ = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    }
    ~TaviSession() { Close(); }
    TaviSession(const TaviSession&) = delete;
    TaviSession& operator=(const TaviSession&) = delete;

    bool Started() const { return script_ >= 0 && output_ >= 0; }

    // Sends the commands (one per line) and returns every line they printed. A command tavi does
    // not know marks the end: its one error line comes after everything sent before it.
    std::string Run(const std::string& commands) {
        std::string marker = "end-of-step-" + std::to_string(++steps_);
        std::string text = commands;
        if (!text.empty() && text.back() != '\n')
            text.push_back('\n');
        text += marker + "\n";
        if (!Write(text))
            return "(tavi is not running)";
        std::string printed;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBoundMs);
        const std::string end = "error: unknown command: " + marker + " (try help)";
        while (std::optional<std::string> line = ReadLine(output_, deadline)) {
            if (*line == end)
                return printed;
            printed += *line + "\n";
        }
        ADD_FAILURE() << "tavi did not finish the step in time:\n" << printed;
        return printed;
    }

    // Ends the session: quit, then the exit status.
    int Close() {
        if (pid_ <= 0)
            return exitStatus_;
        Write("quit\n");
        if (script_ >= 0)
            close(script_);
        script_ = -1;
        exitStatus_ = WaitForExit(pid_, kBoundMs);
        pid_ = -1;
        if (output_ >= 0)
            close(output_);
        output_ = -1;
        return exitStatus_;
    }

private:
    bool Write(const std::string& text) {
        if (script_ < 0)
            return false;
        std::size_t sent = 0;
        while (sent < text.size()) {
            ssize_t n = write(script_, text.data() + sent, text.size() - sent);
            if (n <= 0)
                return false;
            sent += static_cast<std::size_t>(n);
        }
        return true;
    }

    testenv::ScratchDir dir_{"panels-session"};
    pid_t pid_ = -1;
    int script_ = -1;
    int output_ = -1;
    int steps_ = 0;
    int exitStatus_ = -1;
};

// One control as tavi's screen command prints it.
struct ControlState {
    bool visible = false;
    bool enabled = false;
    std::string text; // UTF-8, as printed
};

// The last line of the printed screens that describes the control of that name.
inline std::optional<ControlState> FindControl(const std::string& printed, const std::string& name) {
    std::optional<ControlState> found;
    std::istringstream in(printed);
    const std::string key = " " + name + " visible=";
    for (std::string line; std::getline(in, line);) {
        std::size_t at = line.find(key);
        if (at == std::string::npos || line.find_first_not_of(' ') > at)
            continue;
        ControlState state;
        std::size_t v = at + key.size();
        state.visible = line.compare(v, 1, "1") == 0;
        std::size_t e = line.find(" enabled=", v);
        state.enabled = e != std::string::npos && line.compare(e + 9, 1, "1") == 0;
        std::size_t t = line.find(" text=\"", v);
        if (t != std::string::npos) {
            std::string quoted = line.substr(t + 7);
            if (!quoted.empty() && quoted.back() == '"')
                quoted.pop_back();
            std::string text;
            for (std::size_t i = 0; i < quoted.size(); ++i) {
                if (quoted[i] == '\\' && i + 1 < quoted.size())
                    ++i;
                text.push_back(quoted[i]);
            }
            state.text = text;
        }
        found = state;
    }
    return found;
}

// Whether the printed screen shows the container ("panel MicroBlogStartPanel", "window ...").
inline bool ShowsContainer(const std::string& printed, const std::string& kindAndName) {
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);)
        if (line.find_first_not_of(' ') != std::string::npos &&
            line.substr(line.find_first_not_of(' ')) == kindAndName)
            return true;
    return false;
}

struct PageLink {
    int number;
    std::string url;
    std::string text;
};

// The links tavi's links command printed ("3 tavi://comments/id=351 评论").
inline std::vector<PageLink> ParseLinks(const std::string& printed) {
    std::vector<PageLink> links;
    std::istringstream in(printed);
    for (std::string line; std::getline(in, line);) {
        std::size_t space = line.find(' ');
        if (space == std::string::npos || space == 0 || line.find_first_not_of("0123456789") != space)
            continue;
        std::size_t second = line.find(' ', space + 1);
        std::string url =
            line.substr(space + 1, second == std::string::npos ? std::string::npos : second - space - 1);
        std::string text = second == std::string::npos ? std::string() : line.substr(second + 1);
        links.push_back(PageLink{std::stoi(line.substr(0, space)), url, text});
    }
    return links;
}

// The first link whose address begins with the prefix.
inline std::optional<PageLink> FirstLink(const std::vector<PageLink>& links, const std::string& prefix) {
    for (const PageLink& link : links)
        if (link.url.rfind(prefix, 0) == 0)
            return link;
    return std::nullopt;
}

// A text of the plug-in's string table (zh-CN) with the account in its %s, as the panels show it.
inline std::string StringTableText(const std::string& id) {
    std::istringstream in(
        testenv::ReadFile(std::string(TAVI_SOURCE_DIR) + "/resources/microblog/stringid.ini"));
    bool chinese = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') {
            chinese = line == "[zh-CN]";
            continue;
        }
        std::size_t equals = line.find(" = ");
        if (chinese && equals != std::string::npos && line.substr(0, equals) == id)
            return line.substr(equals + 3);
    }
    ADD_FAILURE() << "no text " << id << " in the string table";
    return std::string();
}

inline std::string WithAccount(const std::string& format, const std::string& account) {
    std::string text = format;
    std::size_t at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, account);
    return text;
}

} // namespace panelstest
