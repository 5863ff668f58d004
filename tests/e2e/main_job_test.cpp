// The main job as a newcomer meets it in a terminal: scripts/run --terminal starts the servers and
// tavi in its terminal mode as the demo user. Once with its input from a pipe, as a person would
// type the commands, over HTTPS (--tls), and once under tmux, at a real terminal with line editing.
// Both times the servers must be gone at the end.
#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/e2e/harness.h"

namespace e2e {
namespace {

constexpr int kRunBoundMs = 180000;

std::string RunScript() {
    return std::string(TAVI_SOURCE_DIR) + "/scripts/run";
}

// The folder scripts/run made for this run, from its first line ("... app folder: DIR/app").
std::string WorkFolder(const std::string& output) {
    std::string line = LineWith(output, {"app folder: "});
    std::size_t at = line.find("app folder: ");
    if (at == std::string::npos)
        return std::string();
    std::string app = line.substr(at + 12);
    while (!app.empty() && (app.back() == ' ' || app.back() == '\r'))
        app.pop_back();
    return app.size() > 4 ? app.substr(0, app.size() - 4) : std::string();
}

// Processes whose command line names the folder (the servers get their databases there).
std::vector<std::string> ProcessesUsing(const std::string& folder) {
    std::vector<std::string> found;
    DIR* proc = opendir("/proc");
    if (proc == nullptr || folder.empty())
        return found;
    while (dirent* entry = readdir(proc)) {
        std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::string command = testenv::ReadFile("/proc/" + pid + "/cmdline");
        for (char& c : command)
            if (c == '\0')
                c = ' ';
        if (command.find(folder) != std::string::npos)
            found.push_back(pid + ": " + command);
    }
    closedir(proc);
    return found;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// The lines of the timeline's first page as scripts/run printed it, up to the next echo line.
std::string FirstPage(const std::string& output) {
    std::size_t start = output.find("\n-> page ");
    if (start == std::string::npos)
        return std::string();
    start = output.find('\n', start + 1);
    std::size_t end = output.find("\n-> ", start);
    return output.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

TEST(MainJob, SignsInShowsTheTimelinePostsAndStopsItsServers) {
    std::string text = "posted through scripts/run " + std::to_string(getpid());
    ChildProcess run(
        {"/usr/bin/env", "TAVI_BUILD_DIR=" + std::string(TAVI_BUILD_DIR), "bash", RunScript(), "--terminal", "--tls"},
        true);
    ASSERT_TRUE(run.Started());
    ASSERT_TRUE(run.Write("click BtnPublish\ntype EdtContent \"" + text +
                          "\"\nclick ButtonSend\nwait\npage\nquit\n"));
    int status = -1;
    std::string output = run.Finish(kRunBoundMs, &status);
    EXPECT_EQ(status, 0) << output;

    EXPECT_NE(output.find("microblog service: https://127.0.0.1:"), std::string::npos) << output;
    // Signed in and bound as the start panel offered, then the timeline.
    EXPECT_NE(output.find("-> showing MicroBlogStartPanel"), std::string::npos) << output;
    EXPECT_NE(output.find("-> showing MicroBlogListPanel"), std::string::npos) << output;
    std::string page = FirstPage(output);
    EXPECT_GE(Occurrences(page, " | 评论 ["), 10) << "ten statuses with their actions\n" << output;
    EXPECT_EQ(page.find(text), std::string::npos);

    // The post went out and came back in the reloaded timeline.
    std::size_t closed = output.find("-> form MicroBlogPublishForm closed");
    ASSERT_NE(closed, std::string::npos) << output;
    EXPECT_NE(output.find(text, closed), std::string::npos) << output;
    EXPECT_EQ(output.find("error:"), std::string::npos) << output;

    std::string work = WorkFolder(output);
    ASSERT_FALSE(work.empty()) << output;
    EXPECT_EQ(ProcessesUsing(work), std::vector<std::string>{}) << "servers left behind";
    EXPECT_FALSE(Exists(work)) << "the run's folder stays";
}

// tmux on a server of the test's own, with one window running scripts/run.
class TmuxSession {
public:
    TmuxSession(const std::string& home, const std::string& exitFile) {
        socket_ = "tavi-test-" + std::to_string(getpid());
        std::string command = "env LANG=C.UTF-8 HOME=" + home +
                              " TAVI_BUILD_DIR=" + std::string(TAVI_BUILD_DIR) + " bash " + RunScript() +
                              " --terminal; echo $? > " + exitFile + "; sleep 60";
        started_ = testenv::RunCommand("tmux -L " + socket_ + " new-session -d -x 200 -y 60 '" + command + "'") == 0;
    }
    ~TmuxSession() { testenv::RunCommand("tmux -L " + socket_ + " kill-server 2>/dev/null"); }

    bool Started() const { return started_; }
    void Keys(const std::string& keys) {
        testenv::RunCommand("tmux -L " + socket_ + " send-keys -t 0 " + keys);
    }
    // The screen and what scrolled off it.
    std::string Screen() {
        std::string out;
        testenv::RunCommand("tmux -L " + socket_ + " capture-pane -p -S -3000 -t 0 2>/dev/null", &out);
        return out;
    }
    // Waits until the screen shows the text the given number of times.
    bool WaitFor(const std::string& text, int times = 1, int boundMs = 60000) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Occurrences(Screen(), text) >= times)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }

private:
    std::string socket_;
    bool started_ = false;
};

TEST(MainJob, AtATerminalItAnswersHelpShowsTheTimelineAndAFormAndEndsOnCtrlD) {
    if (testenv::RunCommand("command -v tmux >/dev/null") != 0)
        GTEST_SKIP() << "tmux is not installed (scripts/setup installs it)";
    testenv::ScratchDir home("tavi-home");
    std::string exitFile = home.path() + "/exit-status";
    TmuxSession tmux(home.path(), exitFile);
    ASSERT_TRUE(tmux.Started());
    // The sign-in, the timeline, then the prompt (the screen keeps no blank after it).
    ASSERT_TRUE(tmux.WaitFor("tavi>", 1, kRunBoundMs)) << tmux.Screen();
    std::string screen = tmux.Screen();
    EXPECT_GE(Occurrences(FirstPage(screen), " | 评论 ["), 10) << screen;
    std::string work = WorkFolder(screen);

    tmux.Keys("help Enter");
    EXPECT_TRUE(tmux.WaitFor("advance SECONDS")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("tavi>", 2)) << tmux.Screen();

    // Line editing: a word typed, taken back with the backspace key, and the right one typed.
    tmux.Keys("'click BtnPublisX' BSpace h Enter");
    EXPECT_TRUE(tmux.WaitFor("-> form MicroBlogPublishForm open")) << tmux.Screen();
    tmux.Keys("'type EdtContent \"from the terminal\"' Enter screen Enter");
    EXPECT_TRUE(tmux.WaitFor("text=\"from the terminal\"")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("label LabelNumberLeft visible=1 enabled=1 checked=- text=\"133\"")) << tmux.Screen();

    // Ctrl-C drops the line being typed; the history brings back an earlier one.
    tmux.Keys("'click BtnNowhere'");
    EXPECT_TRUE(tmux.WaitFor("tavi> click BtnNowhere")) << tmux.Screen();
    tmux.Keys("C-c");
    EXPECT_TRUE(tmux.WaitFor("BtnNowhere^C")) << tmux.Screen();
    tmux.Keys("toolbar Enter");
    EXPECT_TRUE(tmux.WaitFor("ToolbarMicroBlog text=")) << tmux.Screen();
    EXPECT_EQ(tmux.Screen().find("BtnNowheretoolbar"), std::string::npos) << tmux.Screen();
    tmux.Keys("Up Up Enter");
    EXPECT_TRUE(tmux.WaitFor("label LabelNumberLeft visible=1 enabled=1 checked=- text=\"133\"", 2))
        << "the second line back is screen\n"
        << tmux.Screen();

    // Chinese and an emoji typed at the prompt reach the form and, sent, come back from the service.
    tmux.Keys("'type EdtContent \"好看 👍\"' Enter screen Enter");
    EXPECT_TRUE(tmux.WaitFor("text=\"好看 👍\"")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("label LabelNumberLeft visible=1 enabled=1 checked=- text=\"145\""))
        << tmux.Screen();
    tmux.Keys("'click ButtonSend' Enter wait Enter page Enter");
    EXPECT_TRUE(tmux.WaitFor("-> form MicroBlogPublishForm closed")) << tmux.Screen();
    EXPECT_TRUE(tmux.WaitFor("\n好看 👍", 1)) << "the new status heads the reloaded page\n" << tmux.Screen();

    tmux.Keys("C-d");
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Exists(exitFile) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(Exists(exitFile)) << tmux.Screen();
    std::string status = testenv::ReadFile(exitFile);
    EXPECT_EQ(status, "0\n") << tmux.Screen();
    EXPECT_NE(tmux.Screen().find("unloaded "), std::string::npos) << tmux.Screen();
    ASSERT_FALSE(work.empty()) << screen;
    EXPECT_EQ(ProcessesUsing(work), std::vector<std::string>{}) << "servers left behind";
    // The commands typed are kept for the next session (the history file writes blanks as \040).
    EXPECT_NE(testenv::ReadFile(home.path() + "/.tavi_history").find("BtnPublish"), std::string::npos);
}

} // namespace
} // namespace e2e
