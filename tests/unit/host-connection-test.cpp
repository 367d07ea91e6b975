// One control-socket connection over a socket pair, with a stand-in for the requests: the bounds
// that keep a misbehaving client from stalling the host or growing its memory, and the order of
// replies a slow client still gets.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "control-socket/host-connection.h"

using namespace host;

namespace {

class HostConnectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        int pair[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
        client = pair[1];
        fcntl(client, F_SETFL, fcntl(client, F_GETFL) | O_NONBLOCK);
        connection = std::make_shared<HostConnection>(pair[0], [this](std::string_view line) {
            asked.emplace_back(line);
            return reply ? reply(line) : Json{{"echo", line}};
        });
        connection->start([this] { ended = true; });
    }
    void TearDown() override {
        if (client >= 0) close(client);
    }

    // Turns the loop while the client writes what it has and reads what comes, until `done`
    // holds; false when the safety deadline stopped it.
    bool runUntil(const std::function<bool()>& done) {
        bool late = false;
        loop::Timer check, deadline;
        check.startRepeating(0.001, [&] {
            pump();
            if (done()) loop::quitTheMainLoop();
        });
        deadline.startOnce(20, [&] {
            late = true;
            loop::quitTheMainLoop();
        });
        loop::runTheMainLoop();
        return !late;
    }
    // Gives the loop a few turns.
    void runBriefly() {
        loop::Timer stop;
        stop.startOnce(0.05, loop::quitTheMainLoop);
        loop::runTheMainLoop();
    }
    void pump() {
        while (sent < outgoing.size()) {
            ssize_t n = ::send(client, outgoing.data() + sent, outgoing.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<std::size_t>(n);
        }
        if (!reading) return;
        char buffer[65536];
        for (;;) {
            ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
            if (n == 0) clientSawTheEnd = true;
            if (n <= 0) break;
        }
    }
    void say(const std::string& bytes) { outgoing += bytes; }
    bool everythingSent() const { return sent == outgoing.size(); }
    std::vector<std::string> replyLines() const {
        std::vector<std::string> lines;
        for (std::size_t start = 0, end; (end = received.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(received.substr(start, end - start));
        return lines;
    }
    bool repliesReached(std::size_t count) { return replyLines().size() >= count; }

    int client = -1;
    std::shared_ptr<HostConnection> connection;
    std::function<Json(std::string_view)> reply;
    std::vector<std::string> asked;
    bool ended = false;
    std::string outgoing;
    std::size_t sent = 0;
    bool reading = true;
    std::string received;
    bool clientSawTheEnd = false;
};

std::string echoed(const std::string& line) { return Json({{"echo", line}}).dump(); }

TEST_F(HostConnectionTest, ALineAtTheBoundIsAnsweredAndOneOverItEndsTheConnection) {
    reply = [](std::string_view line) { return Json{{"length", line.size()}}; };
    say(std::string(HostConnection::LONGEST_REQUEST, 'a') + "\n");
    ASSERT_TRUE(runUntil([&] { return repliesReached(1); }));
    EXPECT_EQ(replyLines()[0], R"({"length":262144})");

    say("{}\n" + std::string(HostConnection::LONGEST_REQUEST + 1, 'b'));
    ASSERT_TRUE(runUntil([&] { return ended && clientSawTheEnd; }));
    EXPECT_EQ(replyLines(), (std::vector<std::string>{R"({"length":262144})", R"({"length":2})",
                                                      R"({"error":"request-too-long"})"}));
    EXPECT_EQ(asked.size(), 2u) << "the long line is never answered";
}

TEST_F(HostConnectionTest, AClientThatDoesNotReadIsHeldBackAndLaterGetsEveryReply) {
    constexpr int requests = 100000;
    reading = false;
    for (int n = 0; n < requests; ++n) say(std::to_string(n) + "\n");
    // Stop once the client has been unable to write for a while: the connection stopped reading.
    std::size_t lastSent = 0;
    int stillChecks = 0;
    ASSERT_TRUE(runUntil([&] {
        stillChecks = sent == lastSent ? stillChecks + 1 : 0;
        lastSent = sent;
        return stillChecks >= 50;
    }));
    EXPECT_FALSE(everythingSent()) << "the requests should outgrow what the sockets hold";
    EXPECT_FALSE(ended);
    EXPECT_LT(connection->unsent(), HostConnection::QUEUE_PAUSE + 64) << "replies waiting for the client are bounded";

    reading = true;
    ASSERT_TRUE(runUntil([&] { return repliesReached(requests); }));
    auto lines = replyLines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(requests));
    std::size_t outOfOrder = 0;
    for (int n = 0; n < requests; ++n) outOfOrder += lines[static_cast<std::size_t>(n)] != echoed(std::to_string(n));
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_FALSE(ended);
}

TEST_F(HostConnectionTest, LargeRepliesWaitTheirTurnAndOneOverTheBoundEndsTheConnection) {
    reading = false;
    reply = [](std::string_view line) { return Json{{"title", std::string(line == "big" ? 2 << 20 : 300 << 10, 't')}}; };
    say("a\nb\nc\nd\ne\nf\ng\n");
    ASSERT_TRUE(runUntil([&] { return everythingSent() && !asked.empty(); }));
    EXPECT_LT(asked.size(), 7u) << "lines wait while a large reply does";
    EXPECT_LT(connection->unsent(), HostConnection::QUEUE_PAUSE + (300 << 10) + 64);
    reading = true;
    ASSERT_TRUE(runUntil([&] { return repliesReached(7); }));
    EXPECT_FALSE(ended);

    say("big\n");
    ASSERT_TRUE(runUntil([&] { return ended && clientSawTheEnd; }));
    EXPECT_EQ(replyLines().size(), 7u);
}

TEST_F(HostConnectionTest, AClientThatVanishesMidReplyOnlyEndsItsConnection) {
    // Other tests ignore SIGPIPE; here a write that raised it ends the test binary.
    struct DefaultBrokenPipe {
        void (*previous)(int) = std::signal(SIGPIPE, SIG_DFL);
        ~DefaultBrokenPipe() { std::signal(SIGPIPE, previous); }
    } brokenPipe;
    reading = false;
    reply = [](std::string_view line) { return Json{{"echo", line}, {"padding", std::string(4096, 'p')}}; };
    for (int n = 0; n < 2000; ++n) say(std::to_string(n) + "\n");
    ASSERT_TRUE(runUntil([&] { return connection->unsent() > 0; }));
    close(client);
    client = -1;
    ASSERT_TRUE(runUntil([&] { return ended; }));
    EXPECT_FALSE(connection->open());
}

TEST_F(HostConnectionTest, AClientThatStopsSendingStillGetsItsReplies) {
    // A small socket buffer, so that most replies still wait in the host when the end arrives.
    int small = 4096;
    ASSERT_EQ(setsockopt(connection->fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    reading = false;
    reply = [](std::string_view line) { return Json{{"echo", line}, {"padding", std::string(1024, 'p')}}; };
    for (int n = 0; n < 30; ++n) say(std::to_string(n) + "\n");
    ASSERT_TRUE(runUntil([&] { return asked.size() == 30; }));
    shutdown(client, SHUT_WR);
    runBriefly();
    EXPECT_FALSE(ended) << "replies still wait for the client";
    reading = true;
    ASSERT_TRUE(runUntil([&] { return clientSawTheEnd; }));
    EXPECT_EQ(replyLines().size(), 30u);
    EXPECT_TRUE(ended);
}

}  // namespace
