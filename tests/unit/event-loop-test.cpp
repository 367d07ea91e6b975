#include "support/event-loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <ranges>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using namespace host::loop;

// Runs the loop until `done` holds (checked every millisecond); false when the safety deadline
// had to stop it, so a broken loop fails the test instead of hanging the suite.
bool runLoopUntil(const std::function<bool()>& done) {
    bool late = false;
    Timer check, deadline;
    check.startRepeating(0.001, [&] { if (done()) quitTheMainLoop(); });
    deadline.startOnce(5.0, [&] {
        late = true;
        quitTheMainLoop();
    });
    runTheMainLoop();
    return !late;
}

// Gives the loop a few turns, so anything wrongly ready has the chance to fire.
void runBriefly() {
    Timer stop;
    stop.startOnce(0.05, quitTheMainLoop);
    runTheMainLoop();
}

// Ignores the test's signals, then restores the mask and the dispositions. Unblocking while
// still ignored discards anything left pending, so the old dispositions never see it.
struct IgnoredSignals {
    static constexpr int numbers[] = {SIGUSR1, SIGUSR2, SIGURG};
    struct sigaction previous[3] {};
    sigset_t previousMask{};
    IgnoredSignals() {
        pthread_sigmask(SIG_SETMASK, nullptr, &previousMask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (int i = 0; i < 3; ++i) sigaction(numbers[i], &ignore, &previous[i]);
    }
    ~IgnoredSignals() {
        pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
        for (int i = 0; i < 3; ++i) sigaction(numbers[i], &previous[i], nullptr);
    }
};

struct Pipe {
    int ends[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        for (int end : ends)
            if (end >= 0) close(end);
    }
};

TEST(EventLoopQueue, PostsRunLaterInFifoOrderAndThrowingCallbacksStopNothing) {
    quitTheMainLoop();
    ASSERT_TRUE(runLoopUntil([] { return false; })) << "a quit before the run did not end it at once";

    std::vector<int> order;
    postToTheMainQueue([&] {
        order.push_back(1);
        postToTheMainQueue([&] { order.push_back(4); });
        EXPECT_EQ(order, std::vector<int>{1}) << "a post from the loop ran inside the call";
        throw std::runtime_error("posted");
    });
    postToTheMainQueue([&] { order.push_back(2); });
    postToTheMainQueue([&] { order.push_back(3); });
    bool afterTheTimer = false;
    Timer throwing;
    throwing.startOnce(0.0, [&] {
        postToTheMainQueue([&] { afterTheTimer = true; });
        throw std::runtime_error("timer");
    });
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(runLoopUntil([&] { return order.size() >= 4 && afterTheTimer; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(EventLoopQueue, PostsFromOtherThreadsArriveInEachThreadsOrder) {
    const int postsPerThread = 500;
    std::vector<int> seen[2];
    auto postNumbers = [&](std::vector<int>* into) {
        for (int i = 0; i < postsPerThread; ++i) postToTheMainQueue([into, i] { into->push_back(i); });
    };
    std::thread first(postNumbers, &seen[0]), second(postNumbers, &seen[1]);
    const bool done = runLoopUntil([&] { return seen[0].size() + seen[1].size() >= 2 * postsPerThread; });
    first.join();
    second.join();
    ASSERT_TRUE(done);
    for (const auto& numbers : seen) EXPECT_TRUE(std::ranges::equal(numbers, std::views::iota(0, postsPerThread)));
}

TEST(EventLoopTimer, OneShotRepeatingCancelledAndRestartedTimers) {
    int once = 0, repeated = 0, cancelledFires = 0, replaced = 0, restartedFires = 0;
    Timer oneShot, repeating, cancelled, restarted;
    std::function<void()> fireAndRearm = [&] {
        EXPECT_FALSE(oneShot.armed()) << "still armed in its own callback";
        if (++once < 3) oneShot.startOnce(0.0, fireAndRearm);  // a callback may rearm its own timer
    };
    oneShot.startOnce(0.0, fireAndRearm);
    repeating.startRepeating(0.001, [&] {
        if (++repeated == 3) repeating.cancel();
    });
    cancelled.startOnce(0.0, [&] { ++cancelledFires; });
    cancelled.cancel();
    restarted.startOnce(0.0, [&] { ++replaced; });
    restarted.startOnce(0.01, [&] { ++restartedFires; });
    EXPECT_TRUE(oneShot.armed() && repeating.armed() && restarted.armed());
    EXPECT_FALSE(cancelled.armed());
    ASSERT_TRUE(runLoopUntil([&] { return once >= 3 && repeated >= 3 && restartedFires > 0; }));
    runBriefly();
    EXPECT_EQ(std::tuple(once, repeated, cancelledFires, replaced, restartedFires), std::tuple(3, 3, 0, 0, 1));
    EXPECT_FALSE(oneShot.armed() || repeating.armed() || restarted.armed());
}

TEST(EventLoop, CallbackMayDestroyItsOwnTimerOrSource) {
    int timerFires = 0, sourceFires = 0;
    auto timer = std::make_unique<Timer>();
    timer->startRepeating(0.001, [&] {
        ++timerFires;
        timer.reset();
    });
    Pipe pipe;
    ASSERT_EQ(write(pipe.ends[1], "a", 1), 1);  // left unread, so a surviving watch would fire again
    std::unique_ptr<FdSource> source;
    source = std::make_unique<FdSource>(pipe.ends[0], FdSource::Condition::readable, [&] {
        ++sourceFires;
        source.reset();
    });
    source->resume();
    runBriefly();
    EXPECT_EQ(timerFires, 1);
    EXPECT_EQ(sourceFires, 1);
}

// Each source hears its own signal, sent before the loop runs or while it runs, and no other; a
// cancelled one hears nothing.
TEST(EventLoopSignal, EachSourceHearsOnlyItsOwnSignalBeforeAndWhileTheLoopRuns) {
    IgnoredSignals ignored;
    int heard1 = 0, heard2 = 0, heardCancelled = 0;
    SignalSource first(SIGUSR1, [&] {
        if (++heard1 == 1) postToTheMainQueue([] { kill(getpid(), SIGUSR1); });  // again, while it runs
    });
    SignalSource second(SIGUSR2, [&] { ++heard2; });
    SignalSource cancelled(SIGURG, [&] { ++heardCancelled; });
    ASSERT_TRUE(first.active() && second.active());
    cancelled.cancel();
    EXPECT_FALSE(cancelled.active());

    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    ASSERT_EQ(kill(getpid(), SIGUSR2), 0);
    ASSERT_EQ(kill(getpid(), SIGURG), 0);
    ASSERT_TRUE(runLoopUntil([&] { return heard1 == 2 && heard2 == 1; }));
    runBriefly();
    EXPECT_EQ(std::tuple(heard1, heard2, heardCancelled), std::tuple(2, 1, 0));
}

TEST(EventLoopFd, ReadableFiresOnlyWhileResumedAndAtEndOfFile) {
    Pipe pipe;
    int reads = 0, ends = 0;
    FdSource source(pipe.ends[0], FdSource::Condition::readable, [&] {
        char byte;
        ssize_t count = read(pipe.ends[0], &byte, 1);
        reads += count == 1;
        ends += count == 0;
    });
    ASSERT_EQ(write(pipe.ends[1], "a", 1), 1);
    runBriefly();
    EXPECT_EQ(reads, 0) << "a new source starts suspended";

    source.resume();
    EXPECT_TRUE(source.resumed());
    ASSERT_TRUE(runLoopUntil([&] { return reads == 1; }));
    source.suspend();
    EXPECT_FALSE(source.resumed());
    ASSERT_EQ(write(pipe.ends[1], "b", 1), 1);
    runBriefly();
    EXPECT_EQ(reads, 1);

    source.resume();
    close(std::exchange(pipe.ends[1], -1));
    ASSERT_TRUE(runLoopUntil([&] { return reads == 2 && ends > 0; }));

    FdSource invalid(-1, FdSource::Condition::readable, [] {});
    invalid.resume();
    EXPECT_FALSE(invalid.resumed());
}

TEST(EventLoopFd, WritableWaitsForSpace) {
    Pipe pipe;
    char block[4096] = {};
    while (write(pipe.ends[1], block, sizeof block) > 0) continue;
    int fires = 0;
    FdSource source(pipe.ends[1], FdSource::Condition::writable, [&] { ++fires; });
    source.resume();
    runBriefly();
    EXPECT_EQ(fires, 0) << "fired on a full pipe";
    while (read(pipe.ends[0], block, sizeof block) > 0) continue;
    ASSERT_TRUE(runLoopUntil([&] { return fires > 0; }));
}

}  // namespace
