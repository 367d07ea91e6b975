// The control socket of a hosted host that draws its shell's menu: opened at the first draw,
// every request answered in order on any number of connections, and no client (one that never
// reads, one that sends an endless line, one that vanishes) able to stall or end the host.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "running-host.h"
#include "socket-client.h"

using namespace testing_support;

namespace {

const Json rows = Json::parse(R"([
    {"kind": "header", "title": "Demo"},
    {"id": "hello", "title": "Say hello", "enabled": true},
    {"id": "line", "kind": "separator"}
])");

// A socket bound at `path`, listening or not; -1 when it could not be bound.
int boundSocketAt(const fs::path& path, bool listening) {
    fs::create_directories(path.parent_path());
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || (listening && listen(fd, 8) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

std::size_t descriptorsOf(pid_t pid) {
    std::error_code error;
    auto entries = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
    return error ? 0 : static_cast<std::size_t>(std::distance(entries, fs::directory_iterator()));
}

class ControlSocket : public ::testing::Test {
protected:
    ControlSocket() {
        writeShellScript(fixture,
                         "printf '%s\\n' '" + Json({{"menu", rows}, {"publication", rows}}).dump() + "'\n"
                         "exec cat > received\n",
                         {{"menu", "child"}});
    }

    // A hosted host; `dataHome` replaces the fixture's XDG_DATA_HOME when given.
    std::unique_ptr<RunningHost> startTheHost(const std::optional<fs::path>& dataHome = std::nullopt) {
        std::map<std::string, std::string> extra{{"MENU_BAR_HOSTED", "1"}};
        if (dataHome) extra["XDG_DATA_HOME"] = dataHome->string();
        return std::make_unique<RunningHost>(fixture, std::vector<std::string>{}, extra);
    }
    fs::path support(const std::optional<fs::path>& dataHome = std::nullopt) const {
        return dataHome ? *dataHome / "app.example.demo" : supportFolder(fixture);
    }
    fs::path socketPath() const { return support() / "menu.sock"; }
    // The "host-listening" records of that host, once there is one.
    std::optional<Json> listeningRecord(const RunningHost& host, const std::optional<fs::path>& dataHome = std::nullopt) const {
        std::vector<Json> records;
        RunningHost::eventually([&] {
            records = recordsOf(support(dataHome) / "shell.jsonl", "host-listening");
            std::erase_if(records, [&](const Json& record) { return record["pid"] != host.pid(); });
            return !records.empty();
        });
        if (records.size() != 1) return std::nullopt;
        return records[0];
    }
    std::unique_ptr<RunningHost> startAListeningHost() {
        auto host = startTheHost();
        auto record = listeningRecord(*host);
        EXPECT_TRUE(record && (*record)["listening"] == true) << (record ? record->dump() : "no record");
        return host;
    }
    bool shellReceived(const Json& message) const {
        return RunningHost::eventually([&] {
            std::istringstream lines(readText(fixture.root() / "received"));
            for (std::string line; std::getline(lines, line);) {
                if (Json::parse(line, nullptr, false) == message) return true;
            }
            return false;
        });
    }

    BundleFixture fixture;
};

const Json rowGone = {{"error", "invoke-row-changed"}, {"id", "gone"}, {"title", nullptr}};
const std::string askForAGoneRow = "{\"invoke\":\"gone\"}\n";

TEST_F(ControlSocket, TheFirstDrawOpensTheSocketAndEveryRequestIsAnswered) {
    auto host = startTheHost();
    auto record = listeningRecord(*host);
    ASSERT_TRUE(record) << "the record goes to the host's own log";
    EXPECT_EQ((*record)["socket"], socketPath().string());
    EXPECT_EQ((*record)["listening"], true);
    auto drawn = recordsOf(support() / "shell.jsonl", "menu-drawn");
    ASSERT_EQ(drawn.size(), 1u);
    const Json shell = drawn[0]["shell"];

    SocketClient client(socketPath());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.ask("not json"), Json({{"error", "not-json"}}));
    EXPECT_EQ(client.ask(Json::object()), Json({{"error", "unknown-request"}}));
    fs::remove(support() / "menu.json");
    EXPECT_EQ(client.ask({{"refresh", true}}), Json({{"refreshed", true}}));
    EXPECT_EQ(Json::parse(readText(support() / "menu.json")), rows);
    EXPECT_EQ(client.ask({{"url", "Demo://open/1"}}), Json({{"delivered", "Demo://open/1"}, {"shell", shell}}));
    EXPECT_EQ(client.ask({{"url", "https://example.com"}}),
              Json({{"error", "url-scheme-not-mine"}, {"url", "https://example.com"}}));
    EXPECT_EQ(client.ask({{"invoke", "hello"}, {"title", "Say hello"}}), Json({{"invoked", "hello"}, {"title", "Say hello"}}));
    EXPECT_EQ(client.ask({{"invoke", "hello"}, {"title", "Say Hello"}}),
              Json({{"error", "invoke-row-changed"}, {"id", "hello"}, {"title", "Say hello"}}));
    EXPECT_EQ(client.ask({{"invoke", "line"}, {"title", ""}}),
              Json({{"error", "invoke-row-changed"}, {"id", "line"}, {"title", nullptr}}));
    EXPECT_TRUE(shellReceived({{"url", "Demo://open/1"}}));
    EXPECT_TRUE(shellReceived({{"menu", "hello"}, {"title", "Say hello"}}));
}

TEST_F(ControlSocket, RequestsMayShareAWriteOrSpanSeveral) {
    auto host = startAListeningHost();
    SocketClient client(socketPath());
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send("{\"refresh\":true}\n\n" + askForAGoneRow));
    EXPECT_EQ(client.line(), R"({"refreshed":true})");
    EXPECT_EQ(client.line(), R"({"error":"not-json"})") << "an empty line is not JSON";
    EXPECT_EQ(Json::parse(client.line().value_or("")), rowGone);

    for (const char* part : {"{\"inv", "oke\":\"go", "ne\"}"}) {
        ASSERT_TRUE(client.send(part));
        EXPECT_FALSE(client.line(std::chrono::milliseconds(100))) << "answered before its line feed";
    }
    ASSERT_TRUE(client.send("\n"));
    EXPECT_EQ(Json::parse(client.line().value_or("")), rowGone);
}

TEST_F(ControlSocket, AClientThatNeverReadsHoldsUpNobodyElse) {
    constexpr std::size_t requests = 100000;
    auto host = startAListeningHost();
    SocketClient flood(socketPath());
    ASSERT_TRUE(flood.connected());
    std::string all;
    for (std::size_t n = 0; n < requests; ++n) all += askForAGoneRow;
    std::size_t sent = 0;
    auto sendMore = [&] {
        long n = flood.sendWhatFits(all.substr(sent, 1 << 16));
        if (n > 0) sent += static_cast<std::size_t>(n);
        return n;
    };
    // Writes until the host has stopped taking requests from it for a while.
    while (sent < all.size() &&
           RunningHost::eventually([&] { return sendMore() != 0; }, std::chrono::milliseconds(300))) {
    }
    EXPECT_LT(sent, all.size()) << "the host took every request while the client read no reply";

    SocketClient other(socketPath());
    ASSERT_TRUE(other.connected());
    EXPECT_EQ(other.ask({{"refresh", true}}), Json({{"refreshed", true}})) << "sent " << sent << " bytes";

    std::size_t replies = 0;
    std::string last;
    ASSERT_TRUE(RunningHost::eventually([&] {
        if (sent < all.size()) sendMore();
        flood.readWhatArrived();
        replies += flood.takeCompleteLines(&last);
        return replies == requests;
    }, std::chrono::seconds(60))) << replies << " replies";
    EXPECT_EQ(Json::parse(last), rowGone);
    EXPECT_TRUE(flood.buffered().empty());
    EXPECT_FALSE(hasEnded(host->pid()));
}

TEST_F(ControlSocket, AnEndlessLineGetsOneErrorAndItsClientIsDropped) {
    auto host = startAListeningHost();
    SocketClient endless(socketPath());
    ASSERT_TRUE(endless.connected());
    const std::string chunk(1 << 16, 'x');
    std::size_t sent = 0;
    // Far more than the bound on a request line; the host must stop taking it long before.
    while (sent < (64u << 20) && endless.send(chunk, std::chrono::seconds(5))) sent += chunk.size();
    EXPECT_LT(sent, 64u << 20) << "the host kept reading the line";
    EXPECT_EQ(endless.line(), R"({"error":"request-too-long"})");
    EXPECT_TRUE(endless.endsWithin(std::chrono::seconds(20)));

    SocketClient next(socketPath());
    EXPECT_EQ(next.ask({{"refresh", true}}), Json({{"refreshed", true}}));
}

TEST_F(ControlSocket, ClientsThatVanishMidReplyLeaveTheHostServing) {
    auto host = startAListeningHost();
    ASSERT_TRUE(RunningHost::eventually([&] { return descriptorsOf(host->pid()) > 0; }));
    const std::size_t idle = descriptorsOf(host->pid());
    std::string many;
    for (int n = 0; n < 2000; ++n) many += askForAGoneRow;
    for (int round = 0; round < 20; ++round) {
        SocketClient vanishing(socketPath());
        ASSERT_TRUE(vanishing.connected());
        vanishing.sendWhatFits(round % 2 ? many : many + "{\"half");
    }
    SocketClient silent(socketPath());
    SocketClient survivor(socketPath());
    silent.close();
    EXPECT_EQ(survivor.ask({{"refresh", true}}), Json({{"refreshed", true}}));
    survivor.close();
    EXPECT_TRUE(RunningHost::eventually([&] { return descriptorsOf(host->pid()) == idle; }))
        << "every connection closed: " << descriptorsOf(host->pid()) << " descriptors, " << idle << " when idle";
    EXPECT_FALSE(hasEnded(host->pid()));
}

TEST_F(ControlSocket, ADeadSocketIsReplacedButALiveOneIsLeftAlone) {
    int dead = boundSocketAt(socketPath(), false);  // the file a killed host leaves behind
    ASSERT_GE(dead, 0);
    close(dead);
    {
        auto host = startAListeningHost();
        SocketClient client(socketPath());
        EXPECT_EQ(client.ask({{"refresh", true}}), Json({{"refreshed", true}}));
    }
    fs::remove(socketPath());
    int live = boundSocketAt(socketPath(), true);
    ASSERT_GE(live, 0);
    auto host = startTheHost();
    auto record = listeningRecord(*host);
    ASSERT_TRUE(record);
    EXPECT_EQ((*record)["listening"], false);
    SocketClient client(socketPath());
    EXPECT_TRUE(client.connected()) << "the other process's socket is still there";
    int accepted = accept(live, nullptr, nullptr);
    EXPECT_GE(accepted, 0);
    if (accepted >= 0) close(accepted);
    close(live);
}

// A live listener that takes no more connections: probing it must not wait for room.
TEST_F(ControlSocket, ABusyLiveSocketIsLeftAloneWithoutWaiting) {
    int busy = boundSocketAt(socketPath(), false);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(listen(busy, 0), 0);
    std::vector<int> waiting;
    bool full = false;
    for (int attempt = 0; attempt < 64 && !full; ++attempt) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath().c_str(), sizeof address.sun_path - 1);
        waiting.push_back(fd);
        full = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EAGAIN;
    }
    ASSERT_TRUE(full) << "the listener's backlog never filled";
    auto host = startTheHost();
    auto record = listeningRecord(*host);
    ASSERT_TRUE(record) << "the host never got to listen";
    EXPECT_EQ((*record)["listening"], false);
    EXPECT_TRUE(fs::exists(socketPath()));
    host->signal(SIGTERM);
    EXPECT_TRUE(host->waitForTheEnd(10s));
    for (int fd : waiting) close(fd);
    close(busy);
}

TEST_F(ControlSocket, APathThatDoesNotFitASocketAddressIsNotListenedOn) {
    const std::string tail = "/app.example.demo/menu.sock";
    for (std::size_t length : {sizeof(sockaddr_un::sun_path) - 1, sizeof(sockaddr_un::sun_path)}) {
        fs::path dataHome = fixture.root() / "d";
        dataHome += std::string(length - dataHome.string().size() - tail.size(), 'd');
        const fs::path socket = dataHome / "app.example.demo" / "menu.sock";
        ASSERT_EQ(socket.string().size(), length);
        auto host = startTheHost(dataHome);
        auto record = listeningRecord(*host, dataHome);
        ASSERT_TRUE(record);
        EXPECT_EQ((*record)["socket"], socket.string());
        const bool fits = length < sizeof(sockaddr_un::sun_path);
        EXPECT_EQ((*record)["listening"], fits) << length;
        EXPECT_EQ(fs::exists(socket), fits);
    }
}

}  // namespace
