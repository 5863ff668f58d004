// The Debian package of this build, unpacked as dpkg installs it but into a scratch root: the
// installed tavi finds its library, plug-in and data files from its own place, signs in against the
// local services with the user's data in the XDG data folder, and writes nothing into the
// installation.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "tests/e2e/harness.h"
#include "tests/imserver/imserver_process.h"
#include "tests/support/test_env.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "demo@velmora.com";

// Every entry below root with what a write there would change.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> entries;
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
        struct stat info {};
        if (lstat(it->path().c_str(), &info) != 0)
            continue;
        entries[it->path().lexically_relative(root).string()] =
            std::to_string(info.st_mode) + " " + std::to_string(info.st_size) + " " +
            std::to_string(info.st_mtim.tv_sec) + "." + std::to_string(info.st_mtim.tv_nsec);
    }
    return entries;
}

TEST(InstalledPackage, RunsFromItsOwnPlaceWithTheUserDataInTheDataFolder) {
    testenv::ScratchDir scratch("tavi-package");
    const std::string& dir = scratch.path();
    std::string output;
    // The package of this build's files: CPack installs them into its staging folder, nothing is
    // compiled again.
    ASSERT_EQ(testenv::RunCommand(std::string(TAVI_CPACK) + " -G DEB -B " + dir + "/packages --config " +
                                      TAVI_BUILD_DIR + "/CPackConfig.cmake 2>&1",
                                  &output),
              0)
        << output;
    std::string deb;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir + "/packages"))
        if (entry.path().extension() == ".deb")
            deb = entry.path().string();
    ASSERT_FALSE(deb.empty()) << output;
    ASSERT_EQ(testenv::RunCommand("dpkg-deb -f " + deb + " Section Depends", &output), 0) << output;
    EXPECT_NE(output.find("Section: net"), std::string::npos) << output;
    EXPECT_NE(output.find("libsqlite3-0"), std::string::npos) << "the libraries it links\n" << output;

    std::string root = dir + "/root";
    ASSERT_EQ(testenv::RunCommand("dpkg -x " + deb + " " + root + " 2>&1", &output), 0) << output;
    ASSERT_EQ(testenv::RunCommand(root + "/usr/bin/tavi --help", &output), 0) << output;
    EXPECT_EQ(output.rfind("usage: tavi", 0), 0u) << output;

    e2e::MbService service;
    ASSERT_TRUE(service.Started());
    imtest::ImServerProcess messenger({"--db", dir + "/im.db", "--user", std::string(kUser) + ":demo123"},
                                      dir + "/im.log");
    ASSERT_NE(messenger.port(), 0);

    // The user's own deploy.ini in place of the link to the installed one: the local service's
    // addresses.
    std::string home = dir + "/home";
    std::string data = dir + "/data";
    std::string plugin = data + "/tavi/plugin/microblog";
    fs::create_directories(home);
    fs::create_directories(plugin);
    std::string api = service.ApiRoot();
    testenv::WriteFile(plugin + "/deploy.ini",
                       "api_root=" + api + "\nweb_root=" + api + "web\npicture_prefix=" + api + "p/\n");
    testenv::WriteFile(dir + "/password", "demo123\n");
    testenv::WriteFile(dir + "/sign-in.txt",
                       "show\nwait\nwhen LabelUseThisAccount click LabelUseThisAccount\nwait\npage\n");
    auto tavi = [&](const std::string& program, const std::string& script) {
        return "env HOME=" + home + " XDG_DATA_HOME=" + data + " timeout 120 " + program + " --user " +
               kUser + " --password-file " + dir +
               "/password --im-server 127.0.0.1:" + std::to_string(messenger.port()) + " --script " + script +
               " 2>&1";
    };
    std::map<std::string, std::string> installed = Snapshot(root);

    int status = testenv::RunCommand(tavi(root + "/usr/bin/tavi", dir + "/sign-in.txt"), &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("messenger: signed in to 127.0.0.1:"), std::string::npos) << output;
    // The timeline: the page's reload link, then the first status's retweet link.
    EXPECT_NE(output.find("刷新 [1]"), std::string::npos) << output;
    EXPECT_NE(output.find("转发 [4]"), std::string::npos) << output;
    EXPECT_TRUE(fs::exists(data + "/tavi/users/userdata.db"));
    EXPECT_TRUE(fs::exists(data + "/tavi/users/" + kUser + "/microblog/home.xml"));
    EXPECT_FALSE(fs::exists(home + "/.local/share/tavi")) << "XDG_DATA_HOME decides";
    EXPECT_EQ(fs::read_symlink(plugin + "/libmicroblog.so"),
              root + "/usr/lib/tavi/plugin/microblog/libmicroblog.so");
    EXPECT_EQ(fs::read_symlink(plugin + "/skin/microblog.png"),
              root + "/usr/share/tavi/plugin/microblog/skin/microblog.png");
    EXPECT_FALSE(fs::is_symlink(plugin + "/deploy.ini"));
    EXPECT_EQ(Snapshot(root), installed) << "nothing is written into the installation";

    // The installation moved: the links follow it on the next start; the user's file stays.
    std::string moved = dir + "/moved";
    fs::rename(root, moved);
    testenv::WriteFile(dir + "/quit.txt", "quit\n");
    status = testenv::RunCommand(tavi(moved + "/usr/bin/tavi", dir + "/quit.txt"), &output);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("loaded 微博插件 (8010)"), std::string::npos) << output;
    EXPECT_EQ(fs::read_symlink(plugin + "/stringid.ini"),
              moved + "/usr/share/tavi/plugin/microblog/stringid.ini");
    EXPECT_FALSE(fs::is_symlink(plugin + "/deploy.ini"));
}

} // namespace
