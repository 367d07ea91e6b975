// Remote machines: the configuration, bridge and route readings, the press command's arguments,
// and the live-connection check against a real loopback connection.
#include <gtest/gtest.h>

#include <unistd.h>

#include "bundle-fixture.h"
#include "fake-desktop.h"
#include "loopback-connection.h"
#include "hot-keys/child-hot-keys.h"
#include "platform/processes.h"
#include "remote-sessions/remote-machines.h"

using namespace host;
using testing_support::FakeDesktop;
using testing_support::InstalledFakeDesktop;
using testing_support::TemporaryFolder;
using testing_support::writeText;

TEST(RemoteMachines, TheInfoValueNamesClientsAndAFileBelowHome) {
    const Json value = {{"bundles", {"com.remote.a", 7, "com.remote.b"}},
                        {"session", {"com.remote.b"}},
                        {"config", ".config/remote/config.json"},
                        {"key", "forward"}};
    const RemoteMachines machines = remoteMachinesOf(value, "/home/someone");
    EXPECT_EQ(machines.remoteBundles, (std::set<std::string>{"com.remote.a", "com.remote.b"}));
    EXPECT_EQ(machines.sessionBundles, (std::set<std::string>{"com.remote.b"}));
    EXPECT_EQ(machines.remoteConfig, std::filesystem::path("/home/someone/.config/remote/config.json"));
    EXPECT_EQ(machines.remoteKey, "forward");

    using Path = std::optional<std::filesystem::path>;
    for (const auto& [config, file] : {std::pair<const char*, Path>{"/etc/remote.json", "/home/someone/etc/remote.json"},
                                       {"//srv/../remote.json", "/home/someone/remote.json"},
                                       {"a/../../etc/remote.json", std::nullopt},
                                       {"..", std::nullopt},
                                       {"/", std::nullopt}}) {
        EXPECT_EQ(remoteMachinesOf({{"config", config}}, "/home/someone").remoteConfig, file) << config;
    }

    const RemoteMachines none = remoteMachinesOf(Json::array({"com.remote.a"}), "/home/someone");
    EXPECT_TRUE(none.remoteBundles.empty());
    EXPECT_FALSE(none.remoteConfig);
    EXPECT_FALSE(none.remoteKey);
}

TEST(RemoteMachines, ForwardingIsOnOnlyForTheStringOne) {
    EXPECT_TRUE(forwardingIsOnIn(R"({"forward":"1"})", "forward"));
    EXPECT_FALSE(forwardingIsOnIn(R"({"forward":1})", "forward"));
    EXPECT_FALSE(forwardingIsOnIn(R"({"forward":true})", "forward"));
    EXPECT_FALSE(forwardingIsOnIn(R"({"forward":"0"})", "forward"));
    EXPECT_FALSE(forwardingIsOnIn(R"({"other":"1"})", "forward"));
    EXPECT_FALSE(forwardingIsOnIn(R"(["1"])", "forward"));
    EXPECT_FALSE(forwardingIsOnIn("{not json", "forward"));
}

TEST(RemoteMachines, ABridgeNeedsStringRoutesAndAPressCommand) {
    auto bridge = remoteBridgeOf(R"({"routes":{"⌘⇧K":"köprü","key:⌥1":"burada"},"press":["/bin/press","{key}"]})");
    ASSERT_TRUE(bridge);
    EXPECT_EQ(bridge->press, (std::vector<std::string>{"/bin/press", "{key}"}));
    EXPECT_EQ(routeIn(*bridge, "⌘⇧K"), "köprü");
    EXPECT_EQ(routeIn(*bridge, "key:⌘⇧K"), "köprü") << "the published key finds the plain chord";
    EXPECT_EQ(routeIn(*bridge, "⌘⇧J"), std::nullopt);

    EXPECT_FALSE(remoteBridgeOf(R"({"routes":{},"press":[]})")) << "an empty press";
    EXPECT_FALSE(remoteBridgeOf(R"({"routes":{}})")) << "no press";
    EXPECT_FALSE(remoteBridgeOf(R"({"routes":{},"press":["/bin/press",3]})"));
    EXPECT_FALSE(remoteBridgeOf(R"({"routes":{"⌘K":1},"press":["/bin/press"]})"));
    EXPECT_FALSE(remoteBridgeOf(R"({"routes":[],"press":["/bin/press"]})"));
    EXPECT_FALSE(remoteBridgeOf("[]"));
}

TEST(RemoteMachines, OnlyAnArgumentThatIsExactlyTheKeyPlaceholderIsReplaced) {
    EXPECT_EQ(pressArgumentsOf({"/bin/press", "{key}", "x{key}", "--", "{key}"}, "⌘⇧K"),
              (std::vector<std::string>{"/bin/press", "key:⌘⇧K", "x{key}", "--", "key:⌘⇧K"}));
    EXPECT_EQ(pressArgumentsOf({"/bin/press"}, "⌘⇧K"), (std::vector<std::string>{"/bin/press"}));
    EXPECT_EQ(pressArgumentsOf({"{key}", "{key}"}, "key:⌥1"), (std::vector<std::string>{"{key}", "key:⌥1"}))
        << "the executable is never replaced; a published key keeps its one prefix";
}

TEST(ProcessSockets, TheTablesEstablishedEntriesAreFound) {
    const std::string table =
        "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
        "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000  1000        0 5001 1 0 100 0 0 10 0\n"
        "   1: 0100007F:A1B2 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000        0 5002 1 0 20 4 30 10 -1\n"
        "   2: 0100007F:A1B3 0100007F:1F90 06 00000000:00000000 03:00000ABC 00000000     0        0 0 3 0\n"
        "   3: garbage\n";
    EXPECT_EQ(platform::establishedSocketInodesOf(table), (std::set<std::uint64_t>{5002}));
    EXPECT_TRUE(platform::establishedSocketInodesOf("").empty());
}

// The process under test opens and closes a real connection to itself.
TEST(ProcessSockets, ALoopbackConnectionIsSeenWhileItLasts) {
    const std::int32_t self = static_cast<std::int32_t>(getpid());
    EXPECT_FALSE(platform::hasAnEstablishedTCPConnection(self));
    testing_support::LoopbackConnection connection;
    ASSERT_TRUE(connection.established());
    EXPECT_TRUE(platform::hasAnEstablishedTCPConnection(self));
    connection.close();
    EXPECT_FALSE(platform::hasAnEstablishedTCPConnection(self));
    EXPECT_FALSE(platform::hasAnEstablishedTCPConnection(0));
}

// The decisions that read the files and the front application.
class RemoteRoutes : public ::testing::Test {
protected:
    // Beyond any pid the kernel hands out, so no real process answers for them.
    static constexpr std::int32_t CLIENT = 2000000001, SESSION_CLIENT = 2000000002;

    RemoteRoutes() {
        configureTheRemoteMachines({{"com.remote.client", "com.remote.session"}, {"com.remote.session"},
                                    folder.path() / "config.json", "forward"});
        desktop->applications = {testing_support::application(CLIENT, "com.remote.client"),
                                 testing_support::application(SESSION_CLIENT, "com.remote.session")};
        writeText(folder.path() / "remote-bridge.json", R"({"routes":{"⌘⇧K":"köprü"},"press":["/bin/true"]})");
    }
    ~RemoteRoutes() override {
        refreshTheSession(std::nullopt);
        configureTheRemoteMachines({});
    }
    void forward(const std::string& value) { writeText(folder.path() / "config.json", Json{{"forward", value}}.dump()); }

    TemporaryFolder folder;
    InstalledFakeDesktop desktop;
};

TEST_F(RemoteRoutes, AClientYieldsOnlyWhileForwardingIsOn) {
    const std::optional<std::string> client = "com.remote.client";
    EXPECT_FALSE(yieldsToTheRemote(client)) << "no configuration file";
    EXPECT_EQ(remoteRouteOf("⌘⇧K", client), std::nullopt);
    forward("1");
    EXPECT_TRUE(yieldsToTheRemote(client));
    EXPECT_EQ(remoteRouteOf("key:⌘⇧K", client), "köprü");
    EXPECT_EQ(remoteRouteOf("⌘J", client), std::nullopt);
    EXPECT_FALSE(yieldsToTheRemote(std::string("com.example.editor")));
    EXPECT_FALSE(yieldsToTheRemote(std::nullopt));
    EXPECT_EQ(remoteRouteOf("⌘⇧K", std::string("com.example.editor")), std::nullopt);
    forward("0");
    EXPECT_FALSE(yieldsToTheRemote(client)) << "the file is read afresh";

    forward("1");
    refreshTheSession(client);
    EXPECT_FALSE(sessionIsWatched()) << "a client without sessions needs no check";
}

TEST_F(RemoteRoutes, ASessionClientIsWatchedUntilAnotherApplicationIsInFront) {
    forward("1");
    const std::optional<std::string> sessionClient = "com.remote.session";
    refreshTheSession(sessionClient);
    EXPECT_TRUE(sessionIsWatched());
    EXPECT_FALSE(sessionIsLive()) << "its pid holds no connection";
    EXPECT_FALSE(yieldsToTheRemote(sessionClient));
    EXPECT_EQ(remoteRouteOf("⌘⇧K", sessionClient), std::nullopt);

    refreshTheSession(std::string("com.remote.client"));
    EXPECT_FALSE(sessionIsWatched());
    refreshTheSession(sessionClient);
    forward("0");
    refreshTheSession(sessionClient);
    EXPECT_FALSE(sessionIsWatched()) << "forwarding off stops the check";
}

TEST(ChildHotKeyRows, RowsThatCannotBeRegisteredAreLeftOut) {
    const Json rows = Json::parse(R"([
        {"key": "a", "url": "demo://a", "code": 0, "modifiers": 256},
        {"key": "b", "url": "demo://b", "code": 4294967295, "modifiers": 0, "options": 2},
        {"key": "c", "url": "demo://c", "code": 4294967296, "modifiers": 0},
        {"key": "d", "url": "demo://d", "code": 1, "modifiers": -256},
        {"key": "e", "url": "demo://e", "code": 1.5, "modifiers": 0},
        {"key": "f", "url": "demo://f", "code": 1, "modifiers": 0, "options": -1},
        {"key": "g", "url": "demo://g", "code": 1, "modifiers": 0, "options": "fast"},
        {"key": 7, "url": "demo://h", "code": 1, "modifiers": 0},
        "not a row"
    ])");
    EXPECT_EQ(childHotKeyRowsOf(rows), (std::vector<ChildHotKeyRow>{{"a", 0, 256, 0, "demo://a"},
                                                                    {"b", 4294967295u, 0, 2, "demo://b"},
                                                                    {"g", 1, 0, 0, "demo://g"}}))
        << "options that are not an integer count as absent; an integer that does not fit drops the row";
}
