#include "child/child-inbox.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <utility>
#include <vector>

namespace host {
namespace {

using Outcomes = std::vector<std::pair<int, std::optional<std::string>>>;
const std::string NOT_READING = "child-not-reading";
const std::string BROKEN_PIPE = std::strerror(EPIPE);
const std::optional<std::string> WRITTEN;

// Bytes that differ per message and per position, so a lost, repeated or reordered run shows.
std::string pattern(std::size_t size, int seed) {
    std::string bytes(size, '\0');
    for (std::size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((seed * 37 + k) % 251);
    return bytes;
}

// A pipe whose writing end belongs to the inbox, and whose reading end the test reads as the
// shell would.
class ChildInboxTest : public testing::Test {
protected:
    ChildInboxTest() {
        std::signal(SIGPIPE, SIG_IGN);  // as in the host, so a write nobody reads fails with EPIPE
        int ends[2];
        EXPECT_EQ(pipe2(ends, O_CLOEXEC), 0);
        readEnd_ = ends[0], writeEnd_ = ends[1];
        fcntl(readEnd_, F_SETFL, O_NONBLOCK);
        capacity_ = static_cast<std::size_t>(fcntl(writeEnd_, F_GETPIPE_SZ));
        inbox_ = std::make_unique<ChildInbox>(writeEnd_);
    }
    ~ChildInboxTest() override { closeReadEnd(); }
    void closeReadEnd() {
        if (readEnd_ >= 0) close(std::exchange(readEnd_, -1));
    }
    ChildInbox::Settled note(int id) {
        return [this, id](const std::optional<std::string>& reason) { outcomes_.emplace_back(id, reason); };
    }
    // Runs the loop until `done` holds, reading the pipe on every check as the shell would; false
    // when the safety deadline had to stop it, so a fault fails the test instead of hanging it.
    bool readUntil(const std::function<bool()>& done) {
        bool late = false;
        loop::Timer check, deadline;
        check.startRepeating(0.001, [&] {
            char buffer[65536];
            ssize_t count;
            while ((count = read(readEnd_, buffer, sizeof buffer)) > 0)
                received_.append(buffer, static_cast<std::size_t>(count));
            ended_ = count == 0;
            if (done()) loop::quitTheMainLoop();
        });
        deadline.startOnce(5.0, [&] {
            late = true;
            loop::quitTheMainLoop();
        });
        loop::runTheMainLoop();
        return !late;
    }

    int readEnd_ = -1, writeEnd_ = -1;
    std::size_t capacity_ = 0;
    Outcomes outcomes_;
    std::string received_;
    bool ended_ = false;
    std::unique_ptr<ChildInbox> inbox_;
};

// Nobody reads at first, so what the pipe cannot take stays held, a partly written message
// counting whole. A refused message leaves the inbox as it was.
TEST_F(ChildInboxTest, LimitRefusesOnlyWhatWouldGoOverAndTheInboxStaysUsable) {
    EXPECT_FALSE(inbox_->send(std::string(CHILD_INBOX_LIMIT + 1, 'x'), note(0)));
    EXPECT_EQ(inbox_->held(), 0u);
    ASSERT_GT(CHILD_INBOX_LIMIT - 100, capacity_);
    const std::string first = pattern(CHILD_INBOX_LIMIT - 100, 1), last(100, 'y');
    EXPECT_TRUE(inbox_->send(first, note(1)));
    EXPECT_EQ(inbox_->held(), CHILD_INBOX_LIMIT - 100);
    EXPECT_FALSE(inbox_->send(std::string(101, 'x'), note(2)));
    EXPECT_TRUE(inbox_->send(last, note(3)));
    EXPECT_EQ(inbox_->held(), CHILD_INBOX_LIMIT);
    EXPECT_FALSE(inbox_->send("z", note(4)));
    EXPECT_EQ(outcomes_, (Outcomes{{0, NOT_READING}, {2, NOT_READING}, {4, NOT_READING}}));
    EXPECT_FALSE(inbox_->failure());

    ASSERT_TRUE(readUntil([&] { return outcomes_.size() == 5 && received_.size() >= CHILD_INBOX_LIMIT; }));
    EXPECT_TRUE(received_ == first + last);
    EXPECT_EQ(outcomes_, (Outcomes{{0, NOT_READING}, {2, NOT_READING}, {4, NOT_READING}, {1, WRITTEN}, {3, WRITTEN}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

// Together the messages overflow the pipe. The callback of one that had to wait sends two more
// behind those queued; the first of them closes the inbox from its own callback, inside the write
// source's callback, which destroys that very source.
TEST_F(ChildInboxTest, PartlyWrittenMessagesFinishInOrderByteExactOnceAndCallbacksMaySendOrClose) {
    std::vector<std::string> messages;
    for (int id = 0; id < 4; ++id) messages.push_back(pattern(capacity_ * 3 / 4, id + 10));
    EXPECT_TRUE(inbox_->send(messages[0], note(0)));
    EXPECT_TRUE(inbox_->send(messages[1], [&](const std::optional<std::string>& reason) {
        outcomes_.emplace_back(1, reason);
        inbox_->send(messages[3], [&](const std::optional<std::string>& last) {
            outcomes_.emplace_back(3, last);
            inbox_->close();
        });
        inbox_->send("never\n", note(4));
    }));
    EXPECT_TRUE(inbox_->send(messages[2], note(2)));
    ASSERT_GT(inbox_->held(), 0u) << "the pipe never filled, so nothing waited for it";

    ASSERT_TRUE(readUntil([&] { return ended_; }));
    readUntil([turns = 0]() mutable { return ++turns == 50; });  // time for a second callback to show
    const std::string expected = messages[0] + messages[1] + messages[2] + messages[3];
    // The last message may have gone into the pipe with the one before it, before that one's
    // callback closed the inbox; unread at the close, it is given back all the same.
    EXPECT_TRUE(received_ == expected || received_ == expected + "never\n")
        << "got " << received_.size() << " of " << expected.size();
    EXPECT_EQ(outcomes_, (Outcomes{{0, WRITTEN}, {1, WRITTEN}, {2, WRITTEN}, {3, WRITTEN}, {4, "closed"}}));
    EXPECT_EQ(inbox_->held(), 0u);
}

TEST_F(ChildInboxTest, ClosedReaderFailsQueuedAndLaterSendsWithTheSystemText) {
    EXPECT_TRUE(inbox_->send(pattern(capacity_ * 2, 30), note(0)));
    EXPECT_TRUE(inbox_->send("queued\n", note(1)));
    closeReadEnd();
    ASSERT_TRUE(readUntil([&] { return outcomes_.size() == 2; }));
    EXPECT_EQ(outcomes_, (Outcomes{{0, BROKEN_PIPE}, {1, BROKEN_PIPE}}));
    EXPECT_EQ(inbox_->failure(), BROKEN_PIPE);
    EXPECT_EQ(inbox_->held(), 0u);

    EXPECT_FALSE(inbox_->send("late\n", note(2)));
    inbox_->close();
    EXPECT_FALSE(inbox_->send("later\n", note(3)));
    EXPECT_EQ(outcomes_, (Outcomes{{0, BROKEN_PIPE}, {1, BROKEN_PIPE}, {2, BROKEN_PIPE}, {3, "closed"}}));
}

TEST_F(ChildInboxTest, WriteToClosedReaderFailsTheSendAtOnce) {
    closeReadEnd();
    EXPECT_FALSE(inbox_->send("hello\n", note(0)));
    EXPECT_EQ(outcomes_, (Outcomes{{0, BROKEN_PIPE}}));
}

TEST_F(ChildInboxTest, CloseSettlesQueuedMessagesEndsThePipeAndRunsOnce) {
    const std::string first = pattern(capacity_ * 2, 40);
    EXPECT_TRUE(inbox_->send(first, note(0)));
    EXPECT_TRUE(inbox_->send("queued\n", note(1)));
    inbox_->close();
    EXPECT_EQ(inbox_->failure(), "closed");
    EXPECT_FALSE(inbox_->send("late\n", note(2)));
    EXPECT_EQ(outcomes_, (Outcomes{{0, "closed"}, {1, "closed"}, {2, "closed"}}));
    ASSERT_TRUE(readUntil([&] { return ended_; }));
    EXPECT_TRUE(received_ == first.substr(0, received_.size()));

    // Put a live descriptor at the old number: a second close must leave it alone.
    int other[2];
    ASSERT_EQ(pipe2(other, O_CLOEXEC), 0);
    ASSERT_EQ(dup2(other[1], writeEnd_), writeEnd_);
    inbox_->close();
    EXPECT_NE(fcntl(writeEnd_, F_GETFD), -1) << "the second close closed a descriptor it no longer owns";
    EXPECT_EQ(outcomes_.size(), 3u);
    for (int fd : {writeEnd_, other[0], other[1]}) close(fd);
}

// Bytes in the pipe are not delivered yet: a message counts once the reader has taken all of it
// out, and what it left there (a partly read message included) is given back at the close.
TEST_F(ChildInboxTest, OnlyWhatTheReaderTookOutIsDeliveredAndTheRestIsGivenBackAtTheClose) {
    for (int id = 0; id < 3; ++id) EXPECT_TRUE(inbox_->send("m" + std::to_string(id) + "\n", note(id)));
    EXPECT_EQ(inbox_->held(), 0u) << "all of it is in the pipe";
    loop::Timer idle;
    idle.startOnce(0.1, [] { loop::quitTheMainLoop(); });
    loop::runTheMainLoop();
    EXPECT_TRUE(outcomes_.empty()) << "nothing was read, so nothing is delivered";

    char taken[4];
    ASSERT_EQ(read(readEnd_, taken, 4), 4);  // "m0\n" and the first byte of "m1\n"
    bool late = false;
    loop::Timer patience;
    patience.startOnce(5, [&] { late = true; });
    loop::runTheLoopUntil([&] { return !outcomes_.empty() || late; });
    inbox_->close();
    EXPECT_EQ(outcomes_, (Outcomes{{0, WRITTEN}, {1, "closed"}, {2, "closed"}}));
}

// What a sender's callback keeps counts against the limit with the bytes, until it is told.
TEST_F(ChildInboxTest, WhatSendersKeepCountsAgainstTheLimitUntilTheyAreTold) {
    const std::size_t keeps = CHILD_INBOX_LIMIT / 4;
    for (int id = 0; id < 3; ++id) EXPECT_TRUE(inbox_->send("m\n", note(id), keeps));
    EXPECT_EQ(inbox_->held(), 0u) << "all of it is in the pipe";
    EXPECT_EQ(inbox_->kept(), 3 * keeps);
    EXPECT_FALSE(inbox_->send(std::string(keeps + 1, 'x'), note(3)));
    EXPECT_TRUE(inbox_->send("small\n", note(4)));
    ASSERT_TRUE(readUntil([&] { return outcomes_.size() == 5; }));
    EXPECT_EQ(inbox_->kept(), 0u);
    EXPECT_EQ(outcomes_, (Outcomes{{3, NOT_READING}, {0, WRITTEN}, {1, WRITTEN}, {2, WRITTEN}, {4, WRITTEN}}));
}

TEST_F(ChildInboxTest, DestroyingTheInboxClosesIt) {
    EXPECT_TRUE(inbox_->send(pattern(capacity_ * 2, 60), note(0)));
    inbox_.reset();
    EXPECT_EQ(outcomes_, (Outcomes{{0, "closed"}}));
    EXPECT_TRUE(readUntil([&] { return ended_; }));
}

}  // namespace
}  // namespace host
