#include "app/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <signal.h>
#include <unistd.h>

// libedit's readline interface; its history functions are declared there too.
#include <editline/readline.h>
#include <langinfo.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>

#include "app/host_app.h"
#include "app/screen_text.h"

namespace tavi::app {

class TerminalOutput::Buffer : public std::streambuf {
public:
    void SetEditing(bool editing) {
        std::lock_guard<std::mutex> lock(mutex_);
        editing_ = editing;
    }
    std::string TakePending() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string pending;
        pending.swap(pending_);
        return pending;
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()))
            return traits_type::not_eof(c);
        char byte = traits_type::to_char_type(c);
        return xsputn(&byte, 1) == 1 ? c : traits_type::eof();
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (editing_)
            pending_.append(text, static_cast<std::size_t>(count));
        else
            std::fwrite(text, 1, static_cast<std::size_t>(count), stdout);
        return count;
    }
    int sync() override {
        std::fflush(stdout);
        return 0;
    }

private:
    std::mutex mutex_;
    bool editing_ = false;
    std::string pending_;
};

TerminalOutput::TerminalOutput() : buffer_(std::make_unique<Buffer>()), stream_(buffer_.get()) {}

TerminalOutput::~TerminalOutput() {
    stream_.flush();
}

void TerminalOutput::SetEditing(bool editing) {
    stream_.flush();
    buffer_->SetEditing(editing);
}

std::string TerminalOutput::TakePending() {
    return buffer_->TakePending();
}

bool UseUtf8Characters() {
    auto utf8 = [] { return std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0; };
    if (std::setlocale(LC_CTYPE, "") != nullptr && utf8())
        return true;
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
        if (std::setlocale(LC_CTYPE, name) != nullptr && utf8())
            return true;
    std::setlocale(LC_CTYPE, "C");
    return false;
}

std::string DefaultHistoryPath() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.tavi_history" : std::string();
}

namespace {

constexpr const char* kPrompt = "tavi> ";
constexpr int kHistoryLines = 1000;
// How long the terminal waits for a key before it lets the host's loop run again.
constexpr int kIdleMilliseconds = 50;

// What the line editor handed over: a line, or the end of input (Ctrl-D on an empty line).
std::deque<std::optional<std::string>> typedLines;
// Set by the Ctrl-C handler, which may run on any thread of the process (a worker's too), and
// read by the terminal's loop: an atomic, which is safe in a handler when it is lock-free.
std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnLineTyped(char* line) {
    if (line == nullptr) {
        typedLines.emplace_back(std::nullopt);
        return;
    }
    typedLines.emplace_back(std::string(line));
    std::free(line);
}

void OnInterrupt(int) {
    interrupted.store(true);
}

// The input line comes back below what was shown while the person typed.
void ShowPending(TerminalOutput& output) {
    std::string pending = output.TakePending();
    if (pending.empty())
        return;
    std::fputs("\r\033[K", stdout);
    std::fwrite(pending.data(), 1, pending.size(), stdout);
    std::fflush(stdout);
    rl_forced_update_display();
}

class Editing {
public:
    explicit Editing(TerminalOutput& output) : output_(output) {}
    ~Editing() { Stop(); }
    void Start() {
        if (active_)
            return;
        output_.SetEditing(true);
        rl_callback_handler_install(kPrompt, OnLineTyped);
        active_ = true;
    }
    // Starts a new input line, the typed one dropped: the line editor begins every input line
    // afresh when it is installed.
    void DropLine() {
        Stop();
        Start();
    }
    void Stop() {
        if (!active_)
            return;
        rl_callback_handler_remove();
        output_.SetEditing(false);
        std::string pending = output_.TakePending();
        std::fwrite(pending.data(), 1, pending.size(), stdout);
        std::fflush(stdout);
        active_ = false;
    }

private:
    TerminalOutput& output_;
    bool active_ = false;
};

} // namespace

void RunTerminal(HostApp& host, TerminalOutput& output, const std::string& historyPath) {
    using_history();
    stifle_history(kHistoryLines);
    if (!historyPath.empty())
        read_history(historyPath.c_str());

    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGINT, &action, &previous);

    // A message box asks on a line of its own, while the command that raised it runs.
    host.SetAsker([](const std::string& question, std::string& reply) {
        char* line = readline(TerminalSafe(question).c_str());
        if (line == nullptr)
            return false;
        reply = line;
        std::free(line);
        return true;
    });

    Editing editing(output);
    editing.Start();
    bool running = true;
    while (running) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&input, 1, kIdleMilliseconds);
        if (interrupted.exchange(false)) {
            // Ctrl-C drops the line being typed, as in a shell.
            std::fputs("^C\n", stdout);
            editing.DropLine();
        }
        if (ready > 0 && (input.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
            rl_callback_read_char();
        else if (ready < 0 && errno != EINTR)
            break;
        while (running && !typedLines.empty()) {
            std::optional<std::string> line = std::move(typedLines.front());
            typedLines.pop_front();
            editing.Stop();
            if (!line) {
                // Ctrl-D: the end of the session, on a line of its own.
                std::fputs("\n", stdout);
                running = false;
                break;
            }
            if (line->find_first_not_of(" \t") != std::string::npos)
                add_history(line->c_str());
            running = host.Execute(*line);
            if (running)
                editing.Start();
        }
        if (!running)
            break;
        host.Pump();
        ShowPending(output);
    }
    editing.Stop();
    host.SetAsker(nullptr);
    typedLines.clear();
    sigaction(SIGINT, &previous, nullptr);
    if (!historyPath.empty())
        write_history(historyPath.c_str());
}

bool ReadPasswordFile(const std::string& path, std::string& password) {
    std::ifstream file(path);
    if (!file)
        return false;
    std::getline(file, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return true;
}

bool AskPassword(const std::string& prompt, std::string& password) {
    int fd = open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios saved {};
    bool quiet = tcgetattr(fd, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        silent.c_lflag |= ICANON;
        quiet = tcsetattr(fd, TCSAFLUSH, &silent) == 0;
    }
    if (!quiet) {
        // Never read a password that would show as it is typed.
        close(fd);
        return false;
    }
    (void)!write(fd, prompt.data(), prompt.size());
    password.clear();
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        password.push_back(c);
    tcsetattr(fd, TCSAFLUSH, &saved);
    (void)!write(fd, "\n", 1);
    close(fd);
    return true;
}

} // namespace tavi::app
