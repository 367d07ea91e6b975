#include "support/event-loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using host::loop::FdSource;
using host::loop::postToTheMainQueue;
using host::loop::quitTheMainLoop;
using host::loop::runTheMainLoop;
using host::loop::SignalSource;
using host::loop::Timer;

// Runs the loop until a test callback quits it; false when the safety deadline had to, so a
// broken loop fails the test instead of hanging the suite.
bool runUntilQuit() {
    bool deadlinePassed = false;
    Timer deadline;
    deadline.startOnce(5.0, [&] {
        deadlinePassed = true;
        quitTheMainLoop();
    });
    runTheMainLoop();
    return !deadlinePassed;
}

// Gives the loop a few turns, so anything wrongly ready has the chance to fire.
void runBriefly() {
    Timer stop;
    stop.startOnce(0.05, quitTheMainLoop);
    ASSERT_TRUE(runUntilQuit());
}

// Ignores a signal for the test, then restores the mask and the disposition. Unblocking while
// still ignored discards anything left pending, so the old disposition never sees it.
class IgnoredSignal {
public:
    explicit IgnoredSignal(int signalNumber) : signalNumber_(signalNumber) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(signalNumber_, &ignore, &previousAction_);
        pthread_sigmask(SIG_SETMASK, nullptr, &previousMask_);
    }
    ~IgnoredSignal() {
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        sigaction(signalNumber_, &previousAction_, nullptr);
    }
    IgnoredSignal(const IgnoredSignal&) = delete;
    IgnoredSignal& operator=(const IgnoredSignal&) = delete;

private:
    int signalNumber_;
    struct sigaction previousAction_ {};
    sigset_t previousMask_{};
};

struct Pipe {
    Pipe() { EXPECT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        closeWriteEnd();
        if (ends[0] >= 0) close(ends[0]);
    }
    void closeWriteEnd() {
        if (ends[1] >= 0) close(ends[1]);
        ends[1] = -1;
    }
    int readEnd() const { return ends[0]; }
    int writeEnd() const { return ends[1]; }
    int ends[2] = {-1, -1};
};

TEST(EventLoopQueue, QuitBeforeRunReturnsAtOnceThenRunsAgain) {
    quitTheMainLoop();
    ASSERT_TRUE(runUntilQuit());
    bool ran = false;
    postToTheMainQueue([&] {
        ran = true;
        quitTheMainLoop();
    });
    ASSERT_TRUE(runUntilQuit());
    EXPECT_TRUE(ran);
}

TEST(EventLoopQueue, PostsRunLaterInFifoOrder) {
    std::vector<int> order;
    postToTheMainQueue([&] {
        order.push_back(1);
        postToTheMainQueue([&] {
            order.push_back(4);
            quitTheMainLoop();
        });
        EXPECT_EQ(order, std::vector<int>{1}) << "a post from the loop ran inside the call";
    });
    postToTheMainQueue([&] { order.push_back(2); });
    postToTheMainQueue([&] { order.push_back(3); });
    EXPECT_TRUE(order.empty());
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(EventLoopQueue, PostsFromOtherThreadsArriveInEachThreadsOrder) {
    const int postsPerThread = 500;
    std::vector<int> seenFromFirst, seenFromSecond;
    int total = 0;
    auto postNumbers = [&](std::vector<int>* seen) {
        for (int i = 0; i < postsPerThread; ++i)
            postToTheMainQueue([&total, postsPerThread, seen, i] {
                seen->push_back(i);
                if (++total == 2 * postsPerThread) quitTheMainLoop();
            });
    };
    std::thread first(postNumbers, &seenFromFirst);
    std::thread second(postNumbers, &seenFromSecond);
    const bool quit = runUntilQuit();
    first.join();
    second.join();
    ASSERT_TRUE(quit);
    std::vector<int> expected;
    for (int i = 0; i < postsPerThread; ++i) expected.push_back(i);
    EXPECT_EQ(seenFromFirst, expected);
    EXPECT_EQ(seenFromSecond, expected);
}

TEST(EventLoopQueue, ThrowingCallbacksDoNotStopTheLoop) {
    bool laterWorkRan = false;
    postToTheMainQueue([] { throw std::runtime_error("posted"); });
    Timer throwing;
    throwing.startOnce(0.0, [&] {
        postToTheMainQueue([&] {
            laterWorkRan = true;
            quitTheMainLoop();
        });
        throw std::runtime_error("timer");
    });
    ASSERT_TRUE(runUntilQuit());
    EXPECT_TRUE(laterWorkRan);
}

TEST(EventLoopTimer, OneShotFiresOnceAndDisarms) {
    int fires = 0;
    Timer timer;
    timer.startOnce(0.0, [&] {
        ++fires;
        EXPECT_FALSE(timer.armed());
    });
    EXPECT_TRUE(timer.armed());
    runBriefly();
    EXPECT_EQ(fires, 1);
    EXPECT_FALSE(timer.armed());
}

TEST(EventLoopTimer, RepeatingFiresUntilCancelled) {
    int fires = 0;
    Timer repeating, stop;
    repeating.startRepeating(0.001, [&] {
        if (++fires < 3) return;
        repeating.cancel();
        stop.startOnce(0.05, quitTheMainLoop);
    });
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(fires, 3);
    EXPECT_FALSE(repeating.armed());
}

TEST(EventLoopTimer, CancelledOrRestartedTimerDropsItsCallback) {
    int cancelledFires = 0, replacedFires = 0, restartedFires = 0;
    Timer cancelled, restarted;
    cancelled.startOnce(0.0, [&] { ++cancelledFires; });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.armed());
    restarted.startOnce(0.0, [&] { ++replacedFires; });
    restarted.startOnce(0.01, [&] {
        ++restartedFires;
        quitTheMainLoop();
    });
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(cancelledFires, 0);
    EXPECT_EQ(replacedFires, 0);
    EXPECT_EQ(restartedFires, 1);
}

TEST(EventLoopTimer, CallbackMayRearmOrDestroyItsOwnTimer) {
    int rearmedFires = 0;
    Timer rearming;
    std::function<void()> fireAndRearm = [&] {
        if (++rearmedFires < 3) rearming.startOnce(0.0, fireAndRearm);
    };
    rearming.startOnce(0.0, fireAndRearm);

    int destroyedFires = 0;
    std::unique_ptr<Timer> destroyed = std::make_unique<Timer>();
    destroyed->startRepeating(0.001, [&] {
        ++destroyedFires;
        destroyed.reset();
    });
    runBriefly();
    EXPECT_EQ(rearmedFires, 3);
    EXPECT_FALSE(rearming.armed());
    EXPECT_EQ(destroyedFires, 1);
    EXPECT_EQ(destroyed, nullptr);
}

TEST(EventLoopSignal, HearsSignalsSentWhileTheLoopRuns) {
    IgnoredSignal ignored(SIGUSR1);
    int heard = 0;
    SignalSource source(SIGUSR1, [&] {
        ++heard;
        quitTheMainLoop();
    });
    ASSERT_TRUE(source.active());
    for (int expected = 1; expected <= 2; ++expected) {
        postToTheMainQueue([] { kill(getpid(), SIGUSR1); });
        ASSERT_TRUE(runUntilQuit());
        EXPECT_EQ(heard, expected);
    }
}

TEST(EventLoopSignal, SignalSentBeforeTheLoopRunsIsNotLost) {
    IgnoredSignal ignored(SIGUSR1);
    int heard = 0;
    SignalSource source(SIGUSR1, [&] {
        ++heard;
        quitTheMainLoop();
    });
    ASSERT_EQ(kill(getpid(), SIGUSR1), 0);
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(heard, 1);
}

TEST(EventLoopSignal, EachSourceHearsOnlyItsOwnSignal) {
    IgnoredSignal ignoredFirst(SIGUSR1), ignoredSecond(SIGUSR2);
    int heardFirst = 0, heardSecond = 0;
    auto quitOnceBothHeard = [&] {
        if (heardFirst > 0 && heardSecond > 0) quitTheMainLoop();
    };
    SignalSource first(SIGUSR1, [&] {
        ++heardFirst;
        quitOnceBothHeard();
    });
    SignalSource second(SIGUSR2, [&] {
        ++heardSecond;
        quitOnceBothHeard();
    });
    kill(getpid(), SIGUSR2);
    kill(getpid(), SIGUSR1);
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(heardFirst, 1);
    EXPECT_EQ(heardSecond, 1);
}

TEST(EventLoopSignal, CancelledSourceHearsNothing) {
    IgnoredSignal ignoredCancelled(SIGURG), ignoredControl(SIGUSR2);
    int heardCancelled = 0, heardControl = 0;
    SignalSource cancelled(SIGURG, [&] { ++heardCancelled; });
    SignalSource control(SIGUSR2, [&] {
        ++heardControl;
        quitTheMainLoop();
    });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.active());
    kill(getpid(), SIGURG);
    kill(getpid(), SIGUSR2);
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(heardCancelled, 0);
    EXPECT_EQ(heardControl, 1);
}

TEST(EventLoopFd, ReadableFiresOnlyWhileResumed) {
    Pipe pipe;
    int reads = 0;
    FdSource source(pipe.readEnd(), FdSource::Condition::readable, [&] {
        char byte;
        if (read(pipe.readEnd(), &byte, 1) == 1) ++reads;
        quitTheMainLoop();
    });
    ASSERT_EQ(write(pipe.writeEnd(), "a", 1), 1);
    runBriefly();
    EXPECT_EQ(reads, 0) << "a new source starts suspended";

    source.resume();
    EXPECT_TRUE(source.resumed());
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(reads, 1);

    source.suspend();
    EXPECT_FALSE(source.resumed());
    ASSERT_EQ(write(pipe.writeEnd(), "b", 1), 1);
    runBriefly();
    EXPECT_EQ(reads, 1);

    source.resume();
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(reads, 2);
}

TEST(EventLoopFd, ReadableFiresAtEndOfFile) {
    Pipe pipe;
    bool sawEndOfFile = false;
    FdSource source(pipe.readEnd(), FdSource::Condition::readable, [&] {
        char byte;
        sawEndOfFile = read(pipe.readEnd(), &byte, 1) == 0;
        source.suspend();
        quitTheMainLoop();
    });
    pipe.closeWriteEnd();
    source.resume();
    ASSERT_TRUE(runUntilQuit());
    EXPECT_TRUE(sawEndOfFile);
}

TEST(EventLoopFd, WritableWaitsForSpace) {
    Pipe pipe;
    char block[4096] = {};
    while (write(pipe.writeEnd(), block, sizeof block) > 0) {
    }
    int fires = 0;
    FdSource source(pipe.writeEnd(), FdSource::Condition::writable, [&] {
        ++fires;
        source.suspend();
        quitTheMainLoop();
    });
    source.resume();
    runBriefly();
    EXPECT_EQ(fires, 0) << "fired on a full pipe";

    while (read(pipe.readEnd(), block, sizeof block) > 0) {
    }
    ASSERT_TRUE(runUntilQuit());
    EXPECT_EQ(fires, 1);
}

TEST(EventLoopFd, CallbackMayDestroyItsOwnSource) {
    Pipe pipe;
    ASSERT_EQ(write(pipe.writeEnd(), "a", 1), 1);
    int fires = 0;
    std::unique_ptr<FdSource> source;
    source = std::make_unique<FdSource>(pipe.readEnd(), FdSource::Condition::readable, [&] {
        ++fires;  // leaves the byte unread, so a surviving watch would fire again
        source.reset();
    });
    source->resume();
    runBriefly();
    EXPECT_EQ(fires, 1);
}

TEST(EventLoopFd, InvalidDescriptorNeverResumes) {
    FdSource source(-1, FdSource::Condition::readable, [] {});
    source.resume();
    EXPECT_FALSE(source.resumed());
}

}  // namespace
