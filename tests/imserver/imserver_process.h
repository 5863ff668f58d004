// Runs bin/imserver on a free loopback port for a test, and stops it with SIGTERM at the end.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace imtest {

class ImServerProcess {
public:
    // Starts the server with the arguments given after "--port 0"; stderr goes to logPath.
    explicit ImServerProcess(const std::vector<std::string>& args, const std::string& logPath = "/dev/null") {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> argv = {std::string(TAVI_BIN_DIR) + "/imserver", "--port", "0"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> raw;
        for (std::string& arg : argv)
            raw.push_back(arg.data());
        raw.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log >= 0)
                dup2(log, STDERR_FILENO);
            execv(raw[0], raw.data());
            _exit(127);
        }
        close(out[1]);
        stdout_ = out[0];
        ReadPortLine();
    }
    ~ImServerProcess() { Stop(); }
    ImServerProcess(const ImServerProcess&) = delete;
    ImServerProcess& operator=(const ImServerProcess&) = delete;

    std::uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool Running() {
        if (pid_ <= 0 || exited_)
            return false;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            exited_ = true;
            status_ = status;
            return false;
        }
        return true;
    }
    // SIGTERM, then waits at most the bound; the exit status, or -1 (killed after the bound).
    int Stop(int boundMilliseconds = 10000) {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGTERM);
            auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
            while (Running() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (!exited_) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status_, 0);
                exited_ = true;
                status_ = -1;
            }
        }
        if (stdout_ >= 0) {
            close(stdout_);
            stdout_ = -1;
        }
        return status_ >= 0 && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

private:
    void ReadPortLine() {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (line.find('\n') == std::string::npos) {
            int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now())
                                            .count());
            pollfd fd{stdout_, POLLIN, 0};
            if (left <= 0 || poll(&fd, 1, left) <= 0)
                return;
            char c;
            if (read(stdout_, &c, 1) != 1)
                return;
            line.push_back(c);
        }
        if (line.rfind("port ", 0) == 0)
            port_ = static_cast<std::uint16_t>(std::stoi(line.substr(5)));
    }

    pid_t pid_ = -1;
    int stdout_ = -1;
    std::uint16_t port_ = 0;
    bool exited_ = false;
    int status_ = -1;
};

} // namespace imtest
