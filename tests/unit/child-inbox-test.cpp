#include "child/child-inbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace host {
namespace {

using loop::FdSource;
using loop::quitTheMainLoop;
using loop::runTheMainLoop;
using loop::Timer;
using Outcome = std::pair<int, std::optional<std::string>>;

const std::string NOT_READING = "child-not-reading";
const std::string BROKEN_PIPE = std::strerror(EPIPE);

// Runs the loop until done() holds; false when the safety deadline had to stop it instead.
bool runUntil(const std::function<bool()>& done) {
    bool late = false;
    Timer check;
    Timer deadline;
    check.startRepeating(0.001, [&] {
        if (done()) quitTheMainLoop();
    });
    deadline.startOnce(5.0, [&] {
        late = true;
        quitTheMainLoop();
    });
    runTheMainLoop();
    return !late;
}

// Gives the loop a few turns, so a callback that would fire twice has the chance to.
void runBriefly() {
    Timer stop;
    stop.startOnce(0.05, quitTheMainLoop);
    runTheMainLoop();
}

// Bytes that differ per message and per position, so a lost, repeated or reordered run shows.
std::string pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((seed * 37 + k) % 251);
    return bytes;
}

// Reads the pipe on the loop as a shell reading its input would, until end of file.
struct Reader {
    explicit Reader(int readEnd) : fd(readEnd), source(readEnd, FdSource::Condition::readable, [this] { readAll(); }) {
        source.resume();
    }
    void readAll() {
        char buffer[65536];
        ssize_t count;
        while ((count = read(fd, buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(count));
        if (count == 0) {
            ended = true;
            source.suspend();
        }
    }
    int fd;
    std::string received;
    bool ended = false;
    FdSource source;
};

// A pipe whose writing end belongs to the inbox. SIGPIPE is ignored as in the host, so a write
// to a pipe nobody reads fails with EPIPE instead of killing the test.
class InboxFixture : public testing::Test {
protected:
    void SetUp() override {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &previousSigpipe_);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
        ASSERT_EQ(fcntl(readEnd_, F_SETFL, O_NONBLOCK), 0);
        capacity_ = static_cast<std::size_t>(fcntl(writeEnd_, F_GETPIPE_SZ));
        inbox_ = std::make_unique<ChildInbox>(writeEnd_);
    }
    void TearDown() override {
        inbox_.reset();
        closeReadEnd();
        sigaction(SIGPIPE, &previousSigpipe_, nullptr);
    }
    void closeReadEnd() {
        if (readEnd_ >= 0) close(readEnd_);
        readEnd_ = -1;
    }
    ChildInbox::Settled note(int id) {
        return [this, id](const std::optional<std::string>& reason) { outcomes_.emplace_back(id, reason); };
    }

    int readEnd_ = -1;
    int writeEnd_ = -1;
    std::size_t capacity_ = 0;
    std::vector<Outcome> outcomes_;
    std::unique_ptr<ChildInbox> inbox_;

private:
    struct sigaction previousSigpipe_ {};
};

class ChildInboxLimit : public InboxFixture {};
class ChildInboxWriting : public InboxFixture {};
class ChildInboxFailure : public InboxFixture {};

TEST_F(ChildInboxLimit, OversizeMessageIsRefusedAloneAndTheInboxStaysUsable) {
    EXPECT_FALSE(inbox_->send(std::string(CHILD_INBOX_LIMIT + 1, 'x'), note(0)));
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, NOT_READING}}));
    EXPECT_EQ(inbox_->held(), 0u);
    EXPECT_FALSE(inbox_->failure());

    EXPECT_TRUE(inbox_->send("{\"a\":1}\n", note(1)));
    EXPECT_EQ(outcomes_.back(), Outcome(1, std::nullopt));
    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return reader.received.size() >= 8; }));
    EXPECT_EQ(reader.received, "{\"a\":1}\n");
}

// Nobody reads, so what the pipe cannot take stays held, a partly written message counting whole.
TEST_F(ChildInboxLimit, HeldBytesReachExactlyTheLimitAndNoFurther) {
    ASSERT_GT(CHILD_INBOX_LIMIT - 100, capacity_);
    EXPECT_TRUE(inbox_->send(pattern(CHILD_INBOX_LIMIT - 100, 1), note(0)));
    EXPECT_EQ(inbox_->held(), CHILD_INBOX_LIMIT - 100);
    EXPECT_FALSE(inbox_->send(std::string(101, 'x'), note(1)));
    EXPECT_TRUE(inbox_->send(std::string(100, 'y'), note(2)));
    EXPECT_EQ(inbox_->held(), CHILD_INBOX_LIMIT);
    EXPECT_FALSE(inbox_->send("z", note(3)));
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{1, NOT_READING}, {3, NOT_READING}}));
    EXPECT_FALSE(inbox_->failure());
}

TEST_F(ChildInboxLimit, MessageOfExactlyTheLimitIsAcceptedAndDelivered) {
    const std::string message = pattern(CHILD_INBOX_LIMIT, 2);
    EXPECT_TRUE(inbox_->send(message, note(0)));
    EXPECT_EQ(inbox_->held(), CHILD_INBOX_LIMIT);
    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return !outcomes_.empty() && reader.received.size() >= message.size(); }));
    EXPECT_TRUE(reader.received == message);
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, std::nullopt}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

TEST_F(ChildInboxWriting, PartlyWrittenMessagesFinishInOrderByteExactOnce) {
    std::string expected;
    for (int id = 0; id < 3; ++id) {
        const std::string message = pattern(capacity_ * 3 / 4, id + 10);
        expected += message;
        EXPECT_TRUE(inbox_->send(message, note(id)));
    }
    ASSERT_GT(inbox_->held(), 0u) << "the pipe never filled, so nothing waited for it";

    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return outcomes_.size() == 3 && reader.received.size() >= expected.size(); }));
    runBriefly();
    EXPECT_TRUE(reader.received == expected) << "got " << reader.received.size() << " of " << expected.size() << " bytes";
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, std::nullopt}, {1, std::nullopt}, {2, std::nullopt}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

TEST_F(ChildInboxWriting, CallbackMaySendAgainAndOrderHolds) {
    const std::string first = pattern(capacity_ + 1000, 20);
    EXPECT_TRUE(inbox_->send(first, [&](const std::optional<std::string>& reason) {
        outcomes_.emplace_back(0, reason);
        EXPECT_TRUE(inbox_->send("third\n", note(2)));
    }));
    EXPECT_TRUE(inbox_->send("second\n", note(1)));

    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return outcomes_.size() == 3 && reader.received.size() >= first.size() + 13; }));
    EXPECT_TRUE(reader.received == first + "second\nthird\n");
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, std::nullopt}, {1, std::nullopt}, {2, std::nullopt}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

TEST_F(ChildInboxFailure, ClosedReaderFailsQueuedAndLaterSendsWithTheSystemText) {
    EXPECT_TRUE(inbox_->send(pattern(capacity_ * 2, 30), note(0)));
    EXPECT_TRUE(inbox_->send("queued\n", note(1)));
    closeReadEnd();

    ASSERT_TRUE(runUntil([&] { return outcomes_.size() == 2; }));
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, BROKEN_PIPE}, {1, BROKEN_PIPE}}));
    EXPECT_EQ(inbox_->failure(), BROKEN_PIPE);
    EXPECT_EQ(inbox_->held(), 0u);

    EXPECT_FALSE(inbox_->send("late\n", note(2)));
    EXPECT_EQ(outcomes_.back(), Outcome(2, BROKEN_PIPE));
    inbox_->close();
    EXPECT_FALSE(inbox_->send("later\n", note(3)));
    EXPECT_EQ(outcomes_.back(), Outcome(3, "closed"));
}

TEST_F(ChildInboxFailure, WriteToClosedReaderFailsTheSendAtOnce) {
    closeReadEnd();
    EXPECT_FALSE(inbox_->send("hello\n", note(0)));
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, BROKEN_PIPE}}));
}

TEST_F(ChildInboxFailure, CloseSettlesQueuedRowsEndsThePipeAndRunsOnce) {
    const std::string first = pattern(capacity_ * 2, 40);
    EXPECT_TRUE(inbox_->send(first, note(0)));
    EXPECT_TRUE(inbox_->send("queued\n", note(1)));
    inbox_->close();
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, "closed"}, {1, "closed"}}));
    EXPECT_EQ(inbox_->failure(), "closed");
    EXPECT_FALSE(inbox_->send("late\n", note(2)));
    EXPECT_EQ(outcomes_.back(), Outcome(2, "closed"));

    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return reader.ended; }));
    EXPECT_TRUE(reader.received == first.substr(0, reader.received.size()));

    // Put a live descriptor at the old number: a second close must leave it alone.
    int other[2];
    ASSERT_EQ(pipe2(other, O_CLOEXEC), 0);
    ASSERT_EQ(dup2(other[1], writeEnd_), writeEnd_);
    inbox_->close();
    EXPECT_NE(fcntl(writeEnd_, F_GETFD), -1) << "the second close closed a descriptor it no longer owns";
    EXPECT_EQ(outcomes_.size(), 3u);
    close(writeEnd_);
    close(other[0]);
    close(other[1]);
}

// The write source's own callback finishes a row whose callback closes the inbox, which
// destroys that very source.
TEST_F(ChildInboxFailure, CallbackMayCloseTheInboxWhileItDrains) {
    const std::string first = pattern(capacity_ + 1000, 50);
    EXPECT_TRUE(inbox_->send(first, [&](const std::optional<std::string>& reason) {
        outcomes_.emplace_back(0, reason);
        inbox_->close();
    }));
    EXPECT_TRUE(inbox_->send("never\n", note(1)));

    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return reader.ended; }));
    EXPECT_TRUE(reader.received == first);
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, std::nullopt}, {1, "closed"}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

TEST_F(ChildInboxFailure, DestroyingTheInboxClosesIt) {
    EXPECT_TRUE(inbox_->send(pattern(capacity_ * 2, 60), note(0)));
    inbox_.reset();
    EXPECT_EQ(outcomes_, (std::vector<Outcome>{{0, "closed"}}));
    Reader reader(readEnd_);
    ASSERT_TRUE(runUntil([&] { return reader.ended; }));
}

}  // namespace
}  // namespace host
