#include "desktop-peer.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace desktop {
namespace {

namespace fs = std::filesystem;

const std::string HELLO =
    R"({"state":"hello","version":1,"pid":4242,"identity":"org.example.host","bundlePath":"/Apps/Example.app"})"
    "\n";
constexpr double PATIENCE = 10;   // seconds; only a fault makes a wait this long
constexpr double MOMENT = 0.05;   // for waits that must come back empty

// A private directory under the temporary directory, removed with its contents.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern = (fs::temp_directory_path() / "desktop-peer-test.XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
        EXPECT_FALSE(path_.empty()) << "no scratch directory";
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The host's end of the connection in plain socket calls, so the peer is held to the protocol
// rather than to itself.
class HostEnd {
public:
    ~HostEnd() { close(); }
    bool connect(const std::string& path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval patience{static_cast<time_t>(PATIENCE), 0};  // a writer never outwaits a failed test
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    void write(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t count = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (count <= 0) return;
            done += static_cast<std::size_t>(count);
        }
    }
    // The next line the desktop sent, parsed; null when none came or the connection ended.
    Json readLine() {
        for (;;) {
            if (auto end = buffer_.find('\n'); end != std::string::npos) {
                std::string line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return Json::parse(line, nullptr, false);
            }
            pollfd entry{fd_, POLLIN, 0};
            if (poll(&entry, 1, static_cast<int>(PATIENCE * 1000)) <= 0) return nullptr;
            char chunk[4096];
            ssize_t count = recv(fd_, chunk, sizeof chunk, 0);
            if (count <= 0) return nullptr;
            buffer_.append(chunk, static_cast<std::size_t>(count));
        }
    }
    bool atEnd() {
        pollfd entry{fd_, POLLIN, 0};
        char byte;
        return poll(&entry, 1, static_cast<int>(PATIENCE * 1000)) == 1 && recv(fd_, &byte, 1, 0) == 0;
    }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

std::string line(const Json& value) {
    return value.dump() + "\n";
}

Predicate fieldIs(const std::string& name, const Json& value) {
    return [name, value](const Json& state) { return state.at(name) == value; };
}

TEST(DesktopPeerListen, ReplacesOnlyAStaleSocket) {
    ScratchDirectory scratch;
    std::string stale = scratch.file("stale.sock");
    {
        // Bound and closed without removing: the file outlives its socket.
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, stale.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }
    {
        Peer peer;
        EXPECT_EQ(peer.listen(stale), "");
        EXPECT_GE(peer.listenerFd(), 0);
        EXPECT_EQ(peer.listen(stale), "already listening on " + stale);
    }
    EXPECT_FALSE(fs::exists(stale)) << "the peer removes its socket when it goes";

    std::string regular = scratch.file("notes.txt");
    std::ofstream(regular) << "keep me";
    Peer peer;
    EXPECT_NE(peer.listen(regular).find("not a socket"), std::string::npos);
    EXPECT_EQ(peer.listenerFd(), -1);
    std::ifstream kept(regular);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
}

TEST(DesktopPeerListen, UnusablePathsAreReportedNotThrown) {
    ScratchDirectory scratch;
    Peer peer;
    EXPECT_NE(peer.listen(scratch.file(std::string(200, 'x'))), "");
    EXPECT_NE(peer.listen(scratch.file("missing/desktop.sock")), "");
    EXPECT_NE(peer.listen(""), "");
    EXPECT_NE(peer.lastError(), "");
    EXPECT_NE(peer.accept(MOMENT), "") << "accepting without listening";
}

class DesktopPeerTest : public testing::Test {
protected:
    DesktopPeerTest() { EXPECT_EQ(peer_.listen(socketPath()), ""); }
    std::string socketPath() const { return scratch_.file("desktop.sock"); }
    // The host connects and says hello; the peer takes it.
    void connectHost() {
        ASSERT_TRUE(host_.connect(socketPath()));
        host_.write(HELLO);
        ASSERT_EQ(peer_.accept(PATIENCE), "");
    }

    ScratchDirectory scratch_;
    Peer peer_;
    HostEnd host_;
};

TEST_F(DesktopPeerTest, AcceptTakesTheHostsHello) {
    ASSERT_TRUE(host_.connect(socketPath()));
    host_.write(HELLO.substr(0, 20));
    std::jthread rest([this] { host_.write(HELLO.substr(20)); });
    ASSERT_EQ(peer_.accept(PATIENCE), "");
    EXPECT_TRUE(peer_.connected());
    EXPECT_GE(peer_.fd(), 0);
    EXPECT_EQ(peer_.hello().at("pid"), 4242);
    EXPECT_EQ(peer_.hello().at("identity"), "org.example.host");
    EXPECT_EQ(peer_.latest("hello"), peer_.hello());
    EXPECT_EQ(peer_.waitFor("hello", MOMENT), std::nullopt) << "the hello is taken by accept";
}

TEST_F(DesktopPeerTest, AcceptRefusesAHostWithoutHello) {
    EXPECT_NE(peer_.accept(MOMENT).find("no host"), std::string::npos);

    ASSERT_TRUE(host_.connect(socketPath()));
    host_.write(line({{"state", "error"}, {"message", "too early"}}));
    EXPECT_NE(peer_.accept(PATIENCE).find("not a hello"), std::string::npos);
    EXPECT_FALSE(peer_.connected());
    EXPECT_TRUE(host_.atEnd());

    HostEnd silent;
    ASSERT_TRUE(silent.connect(socketPath()));
    silent.close();
    EXPECT_NE(peer_.accept(PATIENCE).find("left before its hello"), std::string::npos);
    EXPECT_FALSE(peer_.connected());
}

TEST_F(DesktopPeerTest, EventsGoOutOneLineEach) {
    connectHost();
    EXPECT_TRUE(peer_.send("launched", {{"pid", 5000001}, {"name", "Two\nlines"}}));
    EXPECT_TRUE(peer_.ready());
    EXPECT_TRUE(peer_.sendEvent(Json{{"event", "url"}, {"url", "example://a"}}));
    EXPECT_TRUE(peer_.send("reopen"));
    EXPECT_FALSE(peer_.sendEvent(Json::array({1, 2}))) << "an event is an object";
    EXPECT_FALSE(peer_.sendEvent(Json("\xff"))) << "nor a string, even one that is not UTF-8";

    EXPECT_EQ(host_.readLine(), (Json{{"event", "launched"}, {"pid", 5000001}, {"name", "Two\nlines"}}));
    EXPECT_EQ(host_.readLine(), (Json{{"event", "ready"}, {"version", 1}}));
    EXPECT_EQ(host_.readLine(), (Json{{"event", "url"}, {"url", "example://a"}}));
    EXPECT_EQ(host_.readLine(), (Json{{"event", "reopen"}}));
}

TEST_F(DesktopPeerTest, PartialAndMergedLinesSplitAtLineFeeds) {
    connectHost();
    host_.write(R"({"state":"badge","visible":tr)");
    EXPECT_TRUE(peer_.readAvailable());
    EXPECT_EQ(peer_.received().size(), 1u) << "only the hello";
    host_.write("ue}\n" + line({{"state", "error"}, {"message", "a"}}) +
                line({{"state", "badge"}, {"visible", false}}));

    auto error = peer_.waitFor("error", PATIENCE);
    ASSERT_TRUE(error);
    EXPECT_EQ(error->at("message"), "a");
    auto first = peer_.waitFor("badge", PATIENCE);
    auto second = peer_.waitFor("badge", PATIENCE);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->at("visible"), true);
    EXPECT_EQ(second->at("visible"), false);
    EXPECT_EQ(peer_.latest("badge"), second);
    ASSERT_EQ(peer_.received().size(), 4u);
    EXPECT_EQ(peer_.received()[1], *first);
    EXPECT_EQ(peer_.received()[2], *error);
    EXPECT_EQ(peer_.received()[3], *second);
    EXPECT_TRUE(peer_.dropped().empty());
}

TEST_F(DesktopPeerTest, WaitsReturnEachLineOnceInOrder) {
    connectHost();
    host_.write(line({{"state", "yield"}, {"pid", 1}}) + line({{"state", "yield"}, {"pid", 2}}) +
                line({{"state", "yield"}, {"pid", 3}}));
    auto second = peer_.waitFor("yield", fieldIs("pid", 2), PATIENCE);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->at("pid"), 2);
    EXPECT_EQ(peer_.waitFor("yield", PATIENCE)->at("pid"), 1) << "an earlier line no wait returned";
    EXPECT_EQ(peer_.waitFor("yield", PATIENCE)->at("pid"), 3);
    EXPECT_EQ(peer_.waitFor("yield", MOMENT), std::nullopt);
    EXPECT_TRUE(peer_.connected()) << "a wait that times out keeps the connection";
    EXPECT_EQ(peer_.waitFor("yield", fieldIs("no such field", 1), MOMENT), std::nullopt)
        << "a predicate that throws does not match";
}

TEST_F(DesktopPeerTest, AMarkHidesWhatCameBefore) {
    connectHost();
    host_.write(line({{"state", "open-url"}, {"url", "old"}}) + line({{"state", "error"}, {"message", "x"}}));
    ASSERT_TRUE(peer_.waitFor("error", PATIENCE));  // so the line before it was read as well
    peer_.mark();
    EXPECT_EQ(peer_.waitFor("open-url", MOMENT), std::nullopt);
    host_.write(line({{"state", "open-url"}, {"url", "new"}}));
    auto fresh = peer_.waitFor("open-url", PATIENCE);
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->at("url"), "new");
}

TEST_F(DesktopPeerTest, PingWaitsForItsOwnPong) {
    connectHost();
    std::jthread hostSide([this] {
        for (int round = 0; round < 2; ++round) {
            Json ping = host_.readLine();
            if (!ping.is_object() || ping.value("event", "") != "ping") return;
            host_.write(line({{"state", "pong"}, {"id", "someone else's"}}));
            host_.write(line({{"state", "hot-keys"}, {"registered", Json::array()}}) + R"({"state":"po)");
            host_.write("ng\",\"id\":" + ping.at("id").dump() + "}\n");
        }
    });
    EXPECT_TRUE(peer_.ping(PATIENCE));
    EXPECT_TRUE(peer_.latest("hot-keys")) << "what came before the pong was read too";
    EXPECT_TRUE(peer_.ping(PATIENCE)) << "a second ping has a fresh id";
    hostSide.join();
    auto other = peer_.waitFor("pong", PATIENCE);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->at("id"), "someone else's") << "pings take only their own pongs";
}

TEST_F(DesktopPeerTest, AHostThatLeavesIsReported) {
    connectHost();
    host_.write(line({{"state", "error"}, {"message", "last words"}}) + R"({"state":"cut)");
    host_.close();
    EXPECT_FALSE(peer_.ping(PATIENCE));
    EXPECT_FALSE(peer_.connected());
    EXPECT_EQ(peer_.fd(), -1);
    EXPECT_NE(peer_.lastError(), "");
    EXPECT_TRUE(peer_.waitFor("error", PATIENCE)) << "lines before the end are kept";
    ASSERT_EQ(peer_.dropped().size(), 1u);
    EXPECT_NE(peer_.dropped()[0].find("unfinished"), std::string::npos);
    EXPECT_EQ(peer_.waitFor("error", PATIENCE), std::nullopt);
    EXPECT_FALSE(peer_.send("reopen"));
    EXPECT_FALSE(peer_.readAvailable());
}

TEST_F(DesktopPeerTest, WritingToAGoneHostFailsWithoutASignal) {
    auto previous = std::signal(SIGPIPE, SIG_DFL);  // a write that raised it would end the test
    connectHost();
    host_.close();
    EXPECT_TRUE(peer_.connected()) << "not noticed before the write";
    EXPECT_FALSE(peer_.send("reopen"));
    EXPECT_FALSE(peer_.connected());
    std::signal(SIGPIPE, previous);
}

TEST_F(DesktopPeerTest, DisconnectEndsTheHostsConnection) {
    connectHost();
    peer_.disconnect();
    EXPECT_FALSE(peer_.connected());
    EXPECT_TRUE(host_.atEnd());
    EXPECT_GE(peer_.listenerFd(), 0) << "still listening";
}

TEST_F(DesktopPeerTest, LinesThatAreNotStateAreDropped) {
    connectHost();
    host_.write("not json\n[1,2]\n{\"event\":\"ready\"}\n{\"state\":7}\n\n" +
                line({{"state", "error"}, {"message", "after"}}));
    auto after = peer_.waitFor("error", PATIENCE);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->at("message"), "after");
    EXPECT_EQ(peer_.dropped().size(), 5u);
    EXPECT_EQ(peer_.received().size(), 2u);
}

TEST_F(DesktopPeerTest, LongLinesUpToTheLimit) {
    connectHost();
    std::string title(MAX_LINE_BYTES - 100, 'a');
    std::string overlong(MAX_LINE_BYTES + 1, 'z');
    std::jthread hostSide([&] {
        host_.write(line({{"state", "open-url"}, {"url", title}}));
        host_.write(overlong + "\n" + line({{"state", "open-url"}, {"url", "short"}}));
    });
    auto longest = peer_.waitFor("open-url", PATIENCE);
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->at("url"), title);
    auto next = peer_.waitFor("open-url", PATIENCE);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->at("url"), "short") << "the overlong line is skipped to its end";
    ASSERT_EQ(peer_.dropped().size(), 1u);
    EXPECT_NE(peer_.dropped()[0].find("longer than"), std::string::npos);
}

TEST_F(DesktopPeerTest, ForgetKeepsTheLatestOfEachKind) {
    connectHost();
    host_.write(line({{"state", "badge"}, {"visible", true}}) + "junk\n" +
                line({{"state", "error"}, {"message", "x"}}));
    ASSERT_TRUE(peer_.waitFor("error", PATIENCE));
    peer_.forget();
    EXPECT_TRUE(peer_.received().empty());
    EXPECT_TRUE(peer_.dropped().empty());
    EXPECT_EQ(peer_.waitFor("badge", MOMENT), std::nullopt);
    ASSERT_TRUE(peer_.latest("badge"));
    EXPECT_EQ(peer_.latest("badge")->at("visible"), true);
    EXPECT_EQ(peer_.latest("alert"), std::nullopt);

    host_.write(line({{"state", "badge"}, {"visible", false}}));
    auto hidden = peer_.waitFor("badge", PATIENCE);
    ASSERT_TRUE(hidden) << "waits go on after a forget";
    EXPECT_EQ(hidden->at("visible"), false);
    EXPECT_EQ(peer_.latest("badge"), hidden);
}

// Two status items; the second has a submenu with a title that also appears later at the top.
const Json STATUS_ITEMS = Json::parse(R"({"state": "status-items", "items": [
    {"statusItem": 1, "autosaveName": null, "menu": null,
     "button": {"image": null, "title": "", "toolTip": "", "accessibilityLabel": ""}},
    {"statusItem": 2, "autosaveName": "main", "button": {"image": {"symbol": "gear",
      "description": "", "width": 16, "height": 16, "template": true}, "title": "Demo",
      "toolTip": "The demo", "accessibilityLabel": "Demo"},
     "menu": {"title": "", "items": [
      {"item": 10, "title": "Open", "enabled": true, "key": "o", "modifiers": 1179648, "action": true},
      {"item": 11, "title": "", "enabled": false, "separator": true},
      {"item": 12, "title": "More", "enabled": true, "submenu": {"title": "More", "items": [
        {"item": 13, "title": "Settings", "enabled": false},
        {"item": 14, "title": "Deeper", "enabled": true, "submenu": {"title": "", "items": [
          {"item": 15, "title": "Reset", "enabled": true, "key": "\r", "modifiers": 524288}]}}]}},
      {"item": 16, "title": "Settings", "enabled": true},
      {"item": 17, "title": "Quit", "enabled": true, "key": "q", "modifiers": 1048576}]}}]})");

TEST_F(DesktopPeerTest, MenusOfTheLatestStatusItems) {
    EXPECT_EQ(peer_.itemNumber("Quit"), std::nullopt);
    EXPECT_EQ(peer_.renderStatusItems(), "no status items\n");
    connectHost();
    host_.write(line(STATUS_ITEMS));
    ASSERT_TRUE(peer_.waitFor("status-items", PATIENCE));

    EXPECT_EQ(peer_.itemNumber("Settings"), 13) << "depth first";
    EXPECT_EQ(peer_.itemNumber("Reset"), 15);
    EXPECT_EQ(peer_.itemNumber("Quit"), 17);
    EXPECT_EQ(peer_.itemNumber(""), std::nullopt) << "separators have no title to find";
    EXPECT_EQ(peer_.itemNumber("quit"), std::nullopt);
    EXPECT_EQ(peer_.renderStatusItems(),
              "status item 1: (empty)\n"
              "  (no menu)\n"
              "status item 2: \"Demo\" image \"gear\" tip \"The demo\"\n"
              "  [10] Open  shift+cmd+o\n"
              "  ----------------\n"
              "  [12] More\n"
              "    [13] Settings  (disabled)\n"
              "    [14] Deeper\n"
              "      [15] Reset  opt+U+000D\n"
              "  [16] Settings\n"
              "  [17] Quit  cmd+q\n");
}

TEST(DesktopMenuText, ToleratesMalformedMenus) {
    Json odd = Json::parse(R"({"items": [{"title": 5, "item": "x", "enabled": "no"},
        {"item": 3, "title": "Sub", "submenu": [1]}, 7, null]})");
    EXPECT_EQ(renderMenu(odd, 1), " [?] \n [3] Sub\n [?] \n [?] \n");
    EXPECT_EQ(findItem(odd, "Sub"), 3);
    EXPECT_EQ(renderMenu(Json("menu"), 0), "");
    EXPECT_EQ(renderStatusItem(Json::array()), "status item ?: (no button)\n  (no menu)\n");
    EXPECT_EQ(menuModifierNames(0x1c0000 | 0x1), "ctrl+opt+cmd+0x1");
    EXPECT_EQ(hotKeyModifierNames(0x100 | 0x200), "shift+cmd");
    EXPECT_EQ(integerOf(Json{{"n", 1.5}}, "n"), std::nullopt);
    EXPECT_EQ(integerOf(Json{{"n", UINT64_MAX}}, "n"), std::nullopt);
    EXPECT_EQ(textOf(Json{{"t", 1}}, "t"), "");
}

}  // namespace
}  // namespace desktop
