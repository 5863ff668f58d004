// The host program at a terminal: a person types commands with line editing and history, while
// the host's loop goes on between keystrokes, so that the results of requests, reminders, notices
// and balloons show as they come, above the line being typed.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace tavi::app {

class HostApp;

// The stream the host program writes to in terminal mode. While the person is typing, what is
// written waits and is shown above the input line at the next chance; otherwise it goes straight
// to standard output.
class TerminalOutput {
public:
    TerminalOutput();
    ~TerminalOutput();
    TerminalOutput(const TerminalOutput&) = delete;
    TerminalOutput& operator=(const TerminalOutput&) = delete;

    std::ostream& Stream() { return stream_; }
    // While editing, output waits for TakePending.
    void SetEditing(bool editing);
    std::string TakePending();

private:
    class Buffer;
    std::unique_ptr<Buffer> buffer_;
    std::ostream stream_;
};

// Reads commands from the terminal until quit or Ctrl-D, running the host's loop while it waits.
// The history is kept in historyPath (none when empty).
void RunTerminal(HostApp& host, TerminalOutput& output, const std::string& historyPath);

// Takes the character type of the user's environment (LC_CTYPE only, numbers stay in the C locale)
// when it is UTF-8, else C.UTF-8: the line editor reads what a person types as characters of that
// locale, and the terminal speaks UTF-8. False when no UTF-8 locale is available.
bool UseUtf8Characters();

// The history file of the person at the terminal: ~/.tavi_history, or empty without a home folder.
std::string DefaultHistoryPath();

// The first line of the file, as the password; false when the file cannot be read.
bool ReadPasswordFile(const std::string& path, std::string& password);
// Asks for a password at the terminal without echoing it; false when there is no terminal.
bool AskPassword(const std::string& prompt, std::string& password);

} // namespace tavi::app
