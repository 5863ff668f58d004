// The windowed client as a screen reader finds it: the accessibility tree of the running program,
// read from outside through the accessibility bus (AT-SPI), the way an assistive technology reads
// it. Needs a display and a session bus (scripts/test runs these under Xvfb and dbus-run-session,
// which starts the accessibility bus on demand). The timeline page's statuses live in WebKit's web
// process, whose tree this toolkit does not join to the window's; the test reads them in the page.
#include <gtest/gtest.h>

#include <atspi/atspi.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/harness.h"

#if defined(__SANITIZE_ADDRESS__)
#define TAVI_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVI_LEAK_CHECKED 1
#endif
#endif
#ifdef TAVI_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using e2e::AppFolder;
using e2e::MbService;
using e2e::TaviSession;

// What the AT-SPI client library allocates while this test reads through it is left out of the
// leak check of the test program (the client under test, tavi, is still checked in full): once in
// a while the library loses a few bytes of its own, through GLib's allocator, whose stack ends in
// GLib and so cannot be suppressed by the library's name.
class AtspiAllocationsUnchecked {
public:
    AtspiAllocationsUnchecked() {
#ifdef TAVI_LEAK_CHECKED
        __lsan_disable();
#endif
    }
    ~AtspiAllocationsUnchecked() {
#ifdef TAVI_LEAK_CHECKED
        __lsan_enable();
#endif
    }
    AtspiAllocationsUnchecked(const AtspiAllocationsUnchecked&) = delete;
    AtspiAllocationsUnchecked& operator=(const AtspiAllocationsUnchecked&) = delete;
};

// One node of the tree as a screen reader announces it.
struct Node {
    int depth = 0;
    std::string role;
    std::string name;
};

std::string Take(gchar* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}

// The application the process put on the accessibility bus, or null when it is not there within the
// bound. Takes a reference.
AtspiAccessible* FindApplication(pid_t pid, int boundMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    do {
        AtspiAccessible* desktop = atspi_get_desktop(0);
        int count = desktop ? atspi_accessible_get_child_count(desktop, nullptr) : 0;
        for (int i = 0; i < count; ++i) {
            AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
            if (app && atspi_accessible_get_process_id(app, nullptr) == static_cast<guint>(pid)) {
                g_object_unref(desktop);
                return app;
            }
            if (app)
                g_object_unref(app);
        }
        if (desktop)
            g_object_unref(desktop);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < deadline);
    return nullptr;
}

// The application's tree, depth first, bounded in size.
std::vector<Node> ReadTree(AtspiAccessible* app) {
    std::vector<Node> nodes;
    std::vector<std::pair<AtspiAccessible*, int>> pending{
        {static_cast<AtspiAccessible*>(g_object_ref(app)), 0}};
    while (!pending.empty()) {
        auto [node, depth] = pending.back();
        pending.pop_back();
        if (nodes.size() < 5000) {
            nodes.push_back(Node{depth, Take(atspi_accessible_get_role_name(node, nullptr)),
                                 Take(atspi_accessible_get_name(node, nullptr))});
            int count = atspi_accessible_get_child_count(node, nullptr);
            for (int i = count - 1; i >= 0; --i)
                if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr))
                    pending.emplace_back(child, depth + 1);
        }
        g_object_unref(node);
    }
    return nodes;
}

std::string Show(const std::vector<Node>& nodes) {
    std::ostringstream out;
    for (const Node& node : nodes)
        out << std::string(static_cast<std::size_t>(node.depth) * 2, ' ') << node.role << " \"" << node.name
            << "\"\n";
    return out.str();
}

bool Has(const std::vector<Node>& nodes, const std::string& role, const std::string& name) {
    for (const Node& node : nodes)
        if (node.role == role && node.name == name)
            return true;
    return false;
}

// The controls a screen reader can only announce by a name of their own; without one the toolkit
// offers its widget type's name ("GtkButton").
// Only the skin windows' controls count (they stand on the toolkit's fixed layout); the toolkit's
// own title bar is its own.
std::vector<std::string> Nameless(const std::vector<Node>& nodes) {
    std::vector<std::string> nameless;
    int layout = -1;
    for (const Node& node : nodes) {
        if (layout >= 0 && node.depth <= layout)
            layout = -1;
        if (node.role == "filler" && node.name == "GtkFixed")
            layout = node.depth;
        if (layout >= 0 &&
            (node.role == "push button" || node.role == "check box" || node.role == "text" ||
             node.role == "image" || node.role == "panel") &&
            (node.name.empty() || node.name.rfind("Gtk", 0) == 0))
            nameless.push_back(node.role + " \"" + node.name + "\"");
    }
    return nameless;
}

// The number of elements the inspect command counted, or -1 when it gave none.
int Counted(const std::string& answer) {
    std::size_t at = answer.find(" elements");
    std::size_t start = at == std::string::npos ? at : answer.find_last_not_of("0123456789", at - 1);
    start = start == std::string::npos ? 0 : start + 1;
    return at == std::string::npos || start == at ? -1 : std::atoi(answer.substr(start, at - start).c_str());
}

TEST(Accessibility, ScreenReaderFindsTheControlsByNameAndRoleAndThePageStatusesByAuthor) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0')
        GTEST_SKIP() << "no display: the windowed host's tests run under xvfb-run";
    const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0')
        GTEST_SKIP() << "no session bus to find the accessibility bus on: run under dbus-run-session";
    int init = 0;
    {
        AtspiAllocationsUnchecked unchecked;
        init = atspi_init();
    }
    if (init > 1)
        GTEST_SKIP() << "the accessibility bus is not reachable (atspi_init gave " << init << ")";
    // The toolkit's accessibility stays on for the client whatever the calling shell chose.
    unsetenv("GTK_A11Y");

    MbService service{{"--activity", "0"}};
    ASSERT_TRUE(service.Started());
    AppFolder app{service};
    TaviSession session(app, "demo@velmora.com", "demo123", std::vector<std::string>{"--gui"});
    ASSERT_TRUE(session.Started());
    e2e::SignIn(session);

    // Every status of the page is an article a screen reader announces by its author and time, and
    // one the host can move the focus to.
    int statuses = Counted(session.Run("inspect .status"));
    EXPECT_GT(statuses, 0);
    EXPECT_EQ(Counted(session.Run("inspect \".status[role=article][tabindex='-1'][aria-label]\"")), statuses);
    EXPECT_GT(Counted(session.Run("inspect \".status[aria-label^='Emma_Li ']\"")), 0);

    // The settings form, open beside the main window, has the edits and the check boxes.
    session.Run("settings");

    std::vector<Node> tree;
    {
        AtspiAllocationsUnchecked unchecked;
        AtspiAccessible* client = FindApplication(session.Pid(), 10000);
        ASSERT_NE(client, nullptr) << "tavi is not on the accessibility bus";
        tree = ReadTree(client);
        g_object_unref(client);
    }
    std::string shown = Show(tree);

    EXPECT_TRUE(Has(tree, "frame", "Tavi - demo@velmora.com")) << shown;
    // The tool strip: a group called by its id, its buttons by their captions; the toolbar's button
    // that shows only a picture by its tip.
    EXPECT_TRUE(Has(tree, "panel", "MicroBlogToolPanel")) << shown;
    EXPECT_TRUE(Has(tree, "push button", "写微博")) << shown;
    EXPECT_TRUE(Has(tree, "push button", "刷新")) << shown;
    EXPECT_TRUE(Has(tree, "push button", "开始我的微生活")) << shown;
    // The web view by its page's title.
    EXPECT_TRUE(Has(tree, "document text", "微博")) << shown;
    // The settings form: an edit called by the label that says what it is for, a check box by its
    // caption.
    EXPECT_TRUE(Has(tree, "frame", "微博设置")) << shown;
    EXPECT_TRUE(Has(tree, "text", "账号：")) << shown;
    EXPECT_TRUE(Has(tree, "check box", "有新微博时提醒我")) << shown;
    EXPECT_EQ(Nameless(tree), std::vector<std::string>{}) << shown;

    EXPECT_EQ(session.Close(), 0) << session.Log();
}

} // namespace
