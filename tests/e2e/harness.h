// What the end-to-end tests share: mbservice on a loopback port
// (stopped and started again on the same port and database when a test needs the service gone or
// its clock wrong), app folders copied from the staged one and pointed at it, and tavi sessions
// driven one command at a time, so that a test can act between the commands of a session.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "host/common.h"
#include "host/marshal.h"
#include "runtime/core/user_store.h"
#include "service/settings.h"
#include "tests/support/test_env.h"

namespace e2e {

constexpr int kStepBoundMs = 120000;

// A child process with its stdout (and stderr, unless redirected) read through a pipe and, when
// asked, its stdin written through one.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> argv, bool withInput, const std::string& errorLog = std::string()) {
        int out[2] = {-1, -1};
        int in[2] = {-1, -1};
        if (pipe2(out, O_CLOEXEC) != 0 || (withInput && pipe2(in, O_CLOEXEC) != 0))
            return;
        std::vector<char*> raw;
        for (std::string& arg : argv)
            raw.push_back(arg.data());
        raw.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            int err = errorLog.empty() ? out[1] : open(errorLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(err >= 0 ? err : out[1], STDERR_FILENO);
            if (withInput)
                dup2(in[0], STDIN_FILENO);
            execv(raw[0], raw.data());
            _exit(127);
        }
        close(out[1]);
        output_ = out[0];
        if (withInput) {
            close(in[0]);
            input_ = in[1];
        }
    }
    ~ChildProcess() { Stop(SIGKILL, 10000); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    bool Write(const std::string& text) {
        std::size_t done = 0;
        while (input_ >= 0 && done < text.size()) {
            ssize_t n = write(input_, text.data() + done, text.size() - done);
            if (n <= 0)
                return false;
            done += static_cast<std::size_t>(n);
        }
        return done == text.size();
    }
    void CloseInput() {
        if (input_ >= 0)
            close(input_);
        input_ = -1;
    }

    // Reads until the buffered output holds a line that begins with the text: gives everything
    // before that line and the line itself (both taken from the buffer). False when the output ends
    // or the bound passes first; before then holds what came.
    bool ReadUntil(const std::string& text, std::string& before, int boundMs, std::string* line = nullptr) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        for (;;) {
            for (std::size_t start = 0; start < buffer_.size();) {
                std::size_t end = buffer_.find('\n', start);
                if (end == std::string::npos)
                    break;
                if (buffer_.compare(start, text.size(), text) == 0) {
                    before = buffer_.substr(0, start);
                    if (line)
                        *line = buffer_.substr(start, end - start);
                    buffer_.erase(0, end + 1);
                    return true;
                }
                start = end + 1;
            }
            if (!Fill(deadline)) {
                before = buffer_;
                buffer_.clear();
                return false;
            }
        }
    }
    // Everything until the output ends (bounded).
    std::string ReadToEnd(int boundMs) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (Fill(deadline)) {
        }
        std::string all;
        all.swap(buffer_);
        return all;
    }

    // Sends the signal and waits (bounded) until the process ends, then reaps it; a process still
    // there after the bound is killed. The exit status, or -1.
    int Stop(int signal, int boundMs) {
        if (pid_ <= 0)
            return status_;
        CloseInput();
        kill(pid_, signal);
        ReadToEnd(boundMs);
        int status = 0;
        if (!WaitExit(boundMs, status)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            status = -1;
        }
        pid_ = -1;
        if (output_ >= 0)
            close(output_);
        output_ = -1;
        status_ = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }
    // Closes the input and waits (bounded) for the process to end by itself: what it printed on
    // the way, with its exit status in *status.
    std::string Finish(int boundMs, int* status) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        CloseInput();
        std::string rest = ReadToEnd(boundMs);
        // One bound for both waits: output that ends early leaves the rest for the exit.
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        int raw = 0;
        if (pid_ > 0 && WaitExit(std::max<int>(0, static_cast<int>(left.count())), raw)) {
            pid_ = -1;
            close(output_);
            output_ = -1;
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        }
        *status = Stop(SIGKILL, 1000);
        return rest;
    }

private:
    // Waits for the end of the process through a process descriptor, so the wait has a bound.
    bool WaitExit(int boundMs, int& status) {
        int descriptor = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        if (descriptor >= 0) {
            pollfd fd{descriptor, POLLIN, 0};
            poll(&fd, 1, boundMs);
            close(descriptor);
        }
        return waitpid(pid_, &status, WNOHANG) == pid_;
    }
    // Appends what arrives; false when the output ended or the deadline passed.
    bool Fill(std::chrono::steady_clock::time_point deadline) {
        if (output_ < 0)
            return false;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd fd{output_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return false;
        char chunk[4096];
        ssize_t n = read(output_, chunk, sizeof(chunk));
        if (n <= 0)
            return false;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    int input_ = -1;
    int status_ = -1;
    std::string buffer_;
};

// mbservice with a database file, so that it can be stopped and started again on the same port with
// its data (accounts, tokens, statuses) kept. Given a certificate (--tls-cert) it serves HTTPS.
class MbService {
public:
    explicit MbService(std::vector<std::string> extra = {}) : extra_(std::move(extra)) {
        for (const std::string& option : extra_)
            secure_ = secure_ || option == "--tls-cert";
        dbPath_ = dir_.path() + "/mbservice.db";
        logPath_ = dir_.path() + "/requests.log";
        Start(0, {"--seed", "demo"});
    }
    ~MbService() { Stop(); }

    bool Started() const { return port_ > 0 && process_ && process_->Started(); }
    int Port() const { return port_; }
    std::string ApiRoot() const {
        return (secure_ ? "https" : "http") + std::string("://127.0.0.1:") + std::to_string(port_) + "/";
    }
    std::string WebRoot() const { return ApiRoot() + "web"; }

    void Stop() {
        if (process_)
            process_->Stop(SIGTERM, 10000);
        process_.reset();
    }
    // Starts it again on the same port and database, with these options added.
    bool Restart(const std::vector<std::string>& options = {}) {
        Stop();
        return Start(port_, options);
    }

    // What it logged: one line per request ("GET /path 200") among its other lines; the request
    // lines alone; and how many of them start with the prefix.
    std::string Log() const { return testenv::ReadFile(logPath_); }
    std::vector<std::string> Requests() const {
        std::vector<std::string> lines;
        std::string log = Log();
        for (std::size_t at = 0; at < log.size();) {
            std::size_t end = log.find('\n', at);
            std::string line = log.substr(at, end == std::string::npos ? std::string::npos : end - at);
            if (line.rfind("GET /", 0) == 0 || line.rfind("POST /", 0) == 0)
                lines.push_back(line);
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
        return lines;
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& line : Requests())
            n += line.rfind(prefix, 0) == 0 ? 1 : 0;
        return n;
    }

private:
    bool Start(int port, const std::vector<std::string>& options) {
        std::vector<std::string> argv = {std::string(TAVI_BIN_DIR) + "/mbservice", "--port",
                                         std::to_string(port), "--db", dbPath_};
        argv.insert(argv.end(), extra_.begin(), extra_.end());
        argv.insert(argv.end(), options.begin(), options.end());
        process_ = std::make_unique<ChildProcess>(argv, false, logPath_);
        std::string before;
        std::string line;
        if (!process_->ReadUntil("port ", before, 20000, &line))
            return false;
        port_ = std::atoi(line.c_str() + 5);
        return port_ > 0 && (port == 0 || port_ == port);
    }

    testenv::ScratchDir dir_{"forms-mbservice"};
    std::vector<std::string> extra_;
    bool secure_ = false;
    std::string dbPath_;
    std::string logPath_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

// A copy of the staged app folder, one machine of a messenger user, pointed at the service (and
// trusting the authority of caFile for it, when one is given).
class AppFolder {
public:
    explicit AppFolder(const MbService& service, const std::string& caFile = std::string()) {
        EXPECT_EQ(testenv::RunCommand("cp -r " + std::string(TAVI_APP_DIR) + "/. " + dir_.path()), 0);
        std::string root = service.ApiRoot();
        testenv::WriteFile(dir_.path() + "/plugin/microblog/deploy.ini",
                           "api_root=" + root + "\nweb_root=" + root + "web\npicture_prefix=" + root +
                               "p/\n" + (caFile.empty() ? std::string() : "ca_file=" + caFile + "\n"));
    }
    const std::string& path() const { return dir_.path(); }

    // The plug-in's stored settings of the user.
    tavi::Property Stored(const std::string& account) const {
        tavi::runtime::UserStore store(dir_.path() + "/users/userdata.db");
        tavi::Property settings;
        store.Load(microblog::kSettingsName, account, settings);
        return settings;
    }
    bool Store(const std::string& account, const tavi::Property& settings) const {
        std::filesystem::create_directories(dir_.path() + "/users");
        tavi::runtime::UserStore store(dir_.path() + "/users/userdata.db");
        return store.Save(microblog::kSettingsName, account, settings);
    }
    // The timeline page the list panel shows.
    std::string HomePage(const std::string& account) const {
        return dir_.path() + "/users/" + account + "/microblog/home.xml";
    }

private:
    testenv::ScratchDir dir_{"forms-app"};
};

// tavi reading its commands from a pipe: each Run hands it lines and returns what they printed,
// so that the test can act (on the service, in another session) between the commands.
class TaviSession {
public:
    TaviSession(const AppFolder& app, const std::string& account, const std::string& password,
                const std::vector<std::string>& options = {})
        : process_(Command(app, account, password, options), true) {}
    ~TaviSession() { Quit(); }

    bool Started() const { return process_.Started(); }
    // The tavi process (-1 once it ended), as other programs on the machine see it.
    pid_t Pid() const { return process_.Pid(); }

    // Runs the command lines and returns their output. A marker command after them (which tavi
    // answers as an unknown command) shows where their output ends.
    std::string Run(const std::string& commands) {
        if (stuck_) {
            ADD_FAILURE() << "tavi stopped answering earlier; not run:\n" << commands;
            return std::string();
        }
        std::string marker = "sync-" + std::to_string(++runs_);
        std::string text = commands;
        if (!text.empty() && text.back() != '\n')
            text.push_back('\n');
        std::string output;
        if (!process_.Write(text + marker + "\n") ||
            !process_.ReadUntil("error: unknown command: " + marker, output, kStepBoundMs)) {
            ADD_FAILURE() << "tavi did not finish the commands in time:\n"
                          << commands << "\noutput:\n"
                          << output;
            stuck_ = true;
        }
        log_ += output;
        return output;
    }
    // Ends the session as the end of input does (the plug-ins unload); what was printed on the way.
    std::string Quit() {
        if (quit_)
            return std::string();
        std::size_t before = log_.size();
        int status = Close();
        std::string output = log_.substr(before);
        EXPECT_EQ(status, 0) << output;
        return output;
    }
    // The same, giving the exit status (-1 when it did not end by itself).
    int Close() {
        if (quit_)
            return status_;
        quit_ = true;
        log_ += process_.Finish(stuck_ ? 0 : kStepBoundMs, &status_);
        return status_;
    }
    // Everything the session printed so far.
    const std::string& Log() const { return log_; }

private:
    static std::vector<std::string> Command(const AppFolder& app, const std::string& account,
                                            const std::string& password,
                                            const std::vector<std::string>& options) {
        // Without a password the windowed host asks for it in its sign-in window.
        std::vector<std::string> argv = {std::string(TAVI_BIN_DIR) + "/tavi", "--app-dir", app.path(),
                                         "--user", account};
        if (!password.empty())
            argv.insert(argv.end(), {"--password", password});
        argv.insert(argv.end(), options.begin(), options.end());
        return argv;
    }

    ChildProcess process_;
    int runs_ = 0;
    int status_ = -1;
    bool quit_ = false;
    bool stuck_ = false;
    std::string log_;
};

// The plug-in's settings of a bound account with its stored password credential and this reminder
// interval, as the settings form stores them.
inline tavi::Property BoundSettings(const std::string& account, const std::string& password, int interval) {
    tavi::Property settings;
    settings.SetInteger(microblog::kKeyBound, 1);
    settings.SetString(microblog::kKeyAccount, account);
    settings.SetString(microblog::kKeyPassword, tavi::GetMD5(password));
    settings.SetInteger(microblog::kKeyPromptEnabled, 1);
    settings.SetInteger(microblog::kKeyPromptInterval, interval);
    settings.SetInteger(microblog::kKeyReserved6, 1);
    settings.SetInteger(microblog::kKeyReserved7, 0);
    settings.SetInteger(microblog::kKeyReserved8, 0);
    return settings;
}

// Shows the plug-in and signs in; an account that is not bound yet is bound from the start panel,
// which signs in again and ends in the timeline. Two plug-ins that begin their token exchange in the
// same second send the same first nonces, which the service refuses as replays; as a user would,
// the session then signs in again with the retry link, whose exchange carries the next nonce.
inline std::string SignIn(TaviSession& session) {
    std::string screen = session.Run("show\nwait\nscreen");
    std::string output = screen;
    for (int step = 0; step < 5; ++step) {
        if (screen.find("LabelRetry visible=1") != std::string::npos)
            screen = session.Run("click LabelRetry\nwait\nscreen");
        else if (screen.find("LabelUseThisAccount visible=1") != std::string::npos)
            screen = session.Run("click LabelUseThisAccount\nwait\nscreen");
        else
            break;
        output += screen;
    }
    return output;
}

// The first line of the output that contains every one of the pieces, or empty.
inline std::string LineWith(const std::string& output, const std::vector<std::string>& pieces) {
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        std::string line = output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        bool all = true;
        for (const std::string& piece : pieces)
            all = all && line.find(piece) != std::string::npos;
        if (all)
            return line;
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
    return std::string();
}

// How often the piece occurs in the text.
inline int Occurrences(const std::string& text, const std::string& piece) {
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++n;
    return n;
}

} // namespace e2e
