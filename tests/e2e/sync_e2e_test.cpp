// Settings kept in step across two machines of one messenger user through the local messenger
// server: tavi programs on their own app folders, and a host runtime driven in-process where the
// service's own fields are checked.
#include <gtest/gtest.h>

#include <chrono>

#include "host/common.h"
#include "host/services.h"
#include "runtime/core/user_store.h"
#include "runtime/messenger/messenger_connection.h"
#include "service/microblog_service.h"
#include "service/packets.h"
#include "service/settings.h"
#include "tests/imserver/imserver_process.h"
#include "tests/imserver/wire_peer.h"
#include "tests/support/test_env.h"

namespace {

using namespace microblog;

constexpr const char* kUser = "demo@velmora.com";
constexpr const char* kUserPassword = "demo123";

// A copy of the staged app folder: one machine of the user.
class Machine {
public:
    Machine() {
        EXPECT_EQ(testenv::RunCommand("cp -r " + std::string(TAVI_APP_DIR) + "/. " + dir_.path()), 0);
    }
    const std::string& path() const { return dir_.path(); }

    // Runs a tavi script on this machine; serverArgs connect it to a messenger server.
    std::string Tavi(const std::string& script, const std::string& serverArgs, int* status = nullptr) {
        std::string file = dir_.path() + "/script-" + std::to_string(++runs_) + ".txt";
        testenv::WriteFile(file, script);
        std::string output;
        int code = testenv::RunCommand("timeout 120 " + std::string(TAVI_BIN_DIR) + "/tavi --app-dir " +
                                           dir_.path() + " --user " + kUser + " --password " + kUserPassword +
                                           " " + serverArgs + " --script " + file,
                                       &output);
        if (status)
            *status = code;
        else
            EXPECT_EQ(code, 0) << output;
        return output;
    }
    tavi::Property Stored() {
        tavi::runtime::UserStore store(dir_.path() + "/users/userdata.db");
        tavi::Property settings;
        store.Load(kSettingsName, kUser, settings);
        return settings;
    }
    std::uint32_t Tag(const std::string& name) {
        tavi::runtime::UserStore store(dir_.path() + "/users/userdata.db");
        return store.GetTimeTag(kUser, name).value_or(0);
    }

private:
    testenv::ScratchDir dir_{"tavi-machine"};
    int runs_ = 0;
};

// A machine whose host runtime runs in this process, with the plug-in's service loaded and the
// host connected to the messenger server.
class LiveMachine {
public:
    LiveMachine(const std::string& appDir, std::uint16_t port) : host_(kUser, kUserPassword, appDir) {
        service_ = new MicroBlogService(&host_.core());
        host_.core().RegisterService(service_);
        tavi::runtime::MessengerConnection::Options options;
        options.port = port;
        options.replyWaitLimitMs = 2000;
        link_ = tavi::runtime::ConnectMessenger(host_.core(), options);
    }
    ~LiveMachine() {
        host_.core().WaitIdle(10000);
        host_.core().UnregisterService(service_);
        service_->Release();
        link_->Close();
    }
    MicroBlogService& service() { return *service_; }
    testenv::HostRuntime& host() { return host_; }
    tavi::Property Stored() {
        tavi::Property settings;
        host_.core().LoadUserData(kSettingsName, kUser, settings);
        return settings;
    }
    std::uint32_t Tag(const std::string& name) {
        return static_cast<tavi::ITimeTagService*>(host_.core().GetService(tavi::kServiceTimeTags))
            ->GetTimeTag(name);
    }

private:
    testenv::HostRuntime host_;
    MicroBlogService* service_;
    std::shared_ptr<tavi::runtime::MessengerConnection> link_;
};

class SettingsSync : public ::testing::Test {
protected:
    void SetUp() override {
        tavi::SetSystemCodePage("GB18030");
        server_ = std::make_unique<imtest::ImServerProcess>(
            std::vector<std::string>{"--db", dir_.path() + "/im.db", "--user",
                                     std::string(kUser) + ":" + kUserPassword},
            dir_.path() + "/im.log");
        ASSERT_NE(server_->port(), 0);
        serverArgs_ = "--im-server 127.0.0.1:" + std::to_string(server_->port()) + " --im-wait 3";
    }
    std::string TagLine(const std::string& command, std::uint32_t tag) {
        return command + ": microblog time tag " + std::to_string(tag);
    }

    testenv::ScratchDir dir_{"sync-e2e"};
    std::unique_ptr<imtest::ImServerProcess> server_;
    std::string serverArgs_;
};

const std::uint32_t kSynced[] = {kKeyAccount, kKeyPassword, kKeyPromptEnabled, kKeyPromptInterval};

TEST_F(SettingsSync, AChangeOnOneMachineIsUploadedAndASyncBringsItToTheOther) {
    Machine first, second;
    // The second machine has settings of its own first, made while it was offline.
    second.Tavi("upload interval=20 prompt=1\n", "");
    ASSERT_EQ(second.Stored().GetInteger(kKeyPromptInterval), 20);

    std::string out =
        first.Tavi("upload account=bob@velmora.com password=bobpw prompt=0 interval=30\n", serverArgs_);
    std::uint32_t tag = first.Tag(kSettingsName);
    ASSERT_GT(tag, 0u) << out;
    EXPECT_NE(out.find(TagLine("upload", tag)), std::string::npos) << out;
    tavi::Property changed = first.Stored();
    EXPECT_EQ(changed.GetString(kKeyAccount), "bob@velmora.com");
    EXPECT_EQ(changed.GetString(kKeyPassword), tavi::GetMD5("bobpw"));
    EXPECT_EQ(changed.GetInteger(kKeyPromptEnabled), 0);
    EXPECT_EQ(changed.GetInteger(kKeyPromptInterval), 30);

    out = second.Tavi("sync\n", serverArgs_);
    EXPECT_NE(out.find(TagLine("sync", tag)), std::string::npos) << out;
    EXPECT_EQ(second.Tag(kSettingsName), tag);
    tavi::Property synced = second.Stored();
    for (std::uint32_t key : kSynced)
        EXPECT_EQ(synced.GetMap().at(key), changed.GetMap().at(key)) << std::hex << key;

    // A third app folder, run in-process, shows the service itself holding them after the sign-in.
    Machine third;
    LiveMachine live(third.path(), server_->port());
    ASSERT_TRUE(live.host().RunUntil(
        [&] { return live.Tag(kSettingsName) == tag && live.host().core().ActiveTasks() == 0; }));
    std::string account, password;
    live.service().GetAccount(account, password);
    EXPECT_EQ(account, "bob@velmora.com");
    EXPECT_EQ(password, tavi::GetMD5("bobpw"));
    EXPECT_EQ(live.service().GetPromptEnabled(), 0);
    EXPECT_EQ(live.service().GetPromptInterval(), 30);
    for (std::uint32_t key : kSynced)
        EXPECT_EQ(live.Stored().GetMap().at(key), changed.GetMap().at(key)) << std::hex << key;
}

TEST_F(SettingsSync, KeysTheServerCopyLacksStayAndANegativeIntervalBecomesFifteen) {
    // Another client of the user keeps only the four synced items, one of them out of range.
    tavi::runtime::MessengerConnection::Options options;
    options.port = server_->port();
    options.account = kUser;
    options.credential = tavi::GetMD5(kUserPassword);
    tavi::runtime::MessengerConnection other(options);
    other.Start();
    ASSERT_TRUE(other.WaitSignedIn(5000));
    tavi::Property partial;
    partial.SetString(kKeyAccount, tavi::utf8_to_CString("小明@velmora.com"));
    partial.SetString(kKeyPassword, tavi::GetMD5("xm"));
    partial.SetInteger(kKeyPromptEnabled, 0);
    partial.SetInteger(kKeyPromptInterval, -5);
    ASSERT_TRUE(other.SendAndWait(imtest::WirePeer::Marshal(MakeSettingsFrame(kCommandUploadSettings)),
                                  imtest::WirePeer::Marshal(partial), true, 5));
    other.Close();

    Machine machine;
    machine.Tavi("upload bound=1\n", "");
    tavi::Property before = machine.Stored();
    ASSERT_EQ(before.GetInteger(kKeyBound), 1);
    machine.Tavi("sync\n", serverArgs_);
    tavi::Property after = machine.Stored();
    EXPECT_EQ(after.GetString(kKeyAccount), tavi::utf8_to_CString("小明@velmora.com"));
    EXPECT_EQ(after.GetInteger(kKeyPromptEnabled), 0);
    EXPECT_EQ(after.GetInteger(kKeyPromptInterval), 15);
    for (std::uint32_t key : {kKeyBound, kKeyReserved6, kKeyReserved7, kKeyReserved8})
        EXPECT_EQ(after.GetMap().at(key), before.GetMap().at(key)) << std::hex << key;

    Machine fresh;
    LiveMachine live(fresh.path(), server_->port());
    ASSERT_TRUE(live.host().RunUntil(
        [&] { return live.Tag(kSettingsName) > 0 && live.host().core().ActiveTasks() == 0; }));
    EXPECT_EQ(live.service().GetPromptInterval(), 15);
    EXPECT_EQ(live.Stored().GetInteger(kKeyPromptInterval), 15);
    EXPECT_EQ(live.Stored().GetInteger(kKeyReserved6), 1) << "the defaults of the first load stay";
    EXPECT_EQ(live.Stored().Size(), 8u);
}

TEST_F(SettingsSync, AReplyNoNewerThanTheLocalCopyChangesNothing) {
    Machine first, second;
    first.Tavi("upload interval=30\n", serverArgs_);
    second.Tavi("sync\n", serverArgs_);
    std::uint32_t tag = second.Tag(kSettingsName);
    ASSERT_EQ(tag, first.Tag(kSettingsName));
    ASSERT_EQ(second.Stored().GetInteger(kKeyPromptInterval), 30);

    // Changed while offline: the upload finds no server, so the local tag stays that of the server.
    second.Tavi("upload interval=45\n", "");
    ASSERT_EQ(second.Tag(kSettingsName), tag);
    tavi::Property offline = second.Stored();

    std::string out = second.Tavi("sync\n", serverArgs_);
    EXPECT_NE(out.find(TagLine("sync", tag)), std::string::npos) << out;
    EXPECT_EQ(second.Stored(), offline);
    EXPECT_EQ(second.Stored().GetInteger(kKeyPromptInterval), 45);
    EXPECT_EQ(second.Tag(kSettingsName), tag);
}

TEST_F(SettingsSync, AServerThatDoesNotAnswerLeavesEverythingAsItWasAfterTheWait) {
    imtest::ScriptedServer silent([](imtest::WirePeer& connection, int) {
        // Signs the host in with a tag newer than anything local, then swallows every packet.
        if (!imtest::ScriptedServer::AcceptSignIn(connection, 4000000000u))
            return;
        while (connection.Receive(60000)) {
        }
    });
    Machine machine;
    machine.Tavi("upload interval=33\n", "");
    tavi::Property before = machine.Stored();
    std::uint32_t tagBefore = machine.Tag(kSettingsName);

    auto start = std::chrono::steady_clock::now();
    std::string out = machine.Tavi("sync\nupload\n",
                                   "--im-server 127.0.0.1:" + std::to_string(silent.port()) + " --im-wait 1");
    auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_NE(out.find("messenger: signed in"), std::string::npos) << out;
    EXPECT_NE(out.find("sync: microblog time tag " + std::to_string(tagBefore) + " (server 4000000000)"),
              std::string::npos)
        << out;
    EXPECT_GE(took.count(), 2000) << "the sync and the upload each waited";
    EXPECT_LT(took.count(), 30000);
    EXPECT_EQ(machine.Stored(), before);
    EXPECT_EQ(machine.Tag(kSettingsName), tagBefore);
}

} // namespace
