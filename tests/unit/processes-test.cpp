#include "platform/processes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <thread>
#include <utility>

namespace {

using host::platform::catchesSignal;
using host::platform::closeDescriptor;
using host::platform::descendantsOf;
using host::platform::ExitStatus;
using host::platform::holdProcess;
using host::platform::makePipe;
using host::platform::Process;
using host::platform::processExists;
using host::platform::signalDescription;
using host::platform::spawnProcess;
using host::platform::SpawnRequest;
using host::platform::userServiceNameOfCgroup;

// Caps every wait, so a broken implementation fails a test instead of hanging the suite.
constexpr auto kPatience = std::chrono::seconds(20);

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_TRUE(makePipe(fds)); }
    ~Pipe() { closeBoth(); }
    int reader() const { return fds[0]; }
    int writer() const { return fds[1]; }
    void closeReader() { closeDescriptor(std::exchange(fds[0], -1)); }
    void closeWriter() { closeDescriptor(std::exchange(fds[1], -1)); }
    void closeBoth() { closeReader(), closeWriter(); }
};

bool waitReadable(int fd, std::chrono::steady_clock::time_point deadline) {
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, 100) == 1) return true;
    }
    return false;
}

// Polls until `done` holds or patience runs out; its last answer.
template <typename Predicate>
bool eventually(Predicate done) {
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Reads until end of file, or up to the first newline when `oneLine`.
std::string readFrom(int fd, bool oneLine = false) {
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    char c;
    while (waitReadable(fd, deadline) && read(fd, &c, 1) == 1) {
        text += c;
        if (oneLine && c == '\n') break;
    }
    return text;
}

// Owns a started process. On the way out its descendants and then the process itself are
// killed and reaped, whether the test passed or not.
class Started {
public:
    explicit Started(std::unique_ptr<Process> process) : process_(std::move(process)) {}
    ~Started() {
        if (!process_) return;
        if (process_->running()) killDescendants();
        process_->signal(SIGKILL);
        waitForExit();
    }
    Started(Started&&) = default;
    Started(const Started&) = delete;
    Started& operator=(const Started&) = delete;

    Process& operator*() const { return *process_; }
    Process* operator->() const { return process_.get(); }
    explicit operator bool() const { return process_ != nullptr; }

    std::optional<ExitStatus> waitForExit() {
        if (process_->exitFd() >= 0)
            waitReadable(process_->exitFd(), std::chrono::steady_clock::now() + kPatience);
        eventually([&] { return process_->reap().has_value(); });
        return process_->reap();
    }

private:
    // The shells in these tests wait for their children, so killed ones are reaped there.
    void killDescendants() {
        for (auto pid : descendantsOf(process_->pid()))
            if (auto held = holdProcess(pid)) held->signal(SIGKILL);
        eventually([&] { return descendantsOf(process_->pid()).empty(); });
    }

    std::unique_ptr<Process> process_;
};

SpawnRequest shell(const std::string& script) {
    SpawnRequest request;
    request.program = "/bin/sh";
    request.arguments = {"sh", "-c", script};
    request.environment = {{"PATH", "/usr/bin:/bin"}};
    return request;
}

Started start(const SpawnRequest& request) {
    std::string error;
    auto process = spawnProcess(request, &error);
    EXPECT_TRUE(process) << error;
    return Started(std::move(process));
}

// Puts `fd` in place of this test process's own standard input for a while.
class ReplacedStandardInput {
public:
    explicit ReplacedStandardInput(int fd) : saved_(fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3)) {
        EXPECT_EQ(dup2(fd, STDIN_FILENO), STDIN_FILENO);
    }
    ~ReplacedStandardInput() {
        if (saved_ < 0) {
            closeDescriptor(STDIN_FILENO);
            return;
        }
        dup2(saved_, STDIN_FILENO);
        closeDescriptor(saved_);
    }
    ReplacedStandardInput(const ReplacedStandardInput&) = delete;
    ReplacedStandardInput& operator=(const ReplacedStandardInput&) = delete;

private:
    int saved_;
};

TEST(ProcessSpawn, ReportsHowTheChildEnded) {
    auto exited = start(shell("exit 3"));
    ASSERT_TRUE(exited);
    ASSERT_TRUE(waitReadable(exited->exitFd(), std::chrono::steady_clock::now() + kPatience));
    EXPECT_FALSE(exited->running()) << "ended but not yet reaped";
    auto status = exited.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_FALSE(status->signaled);
    EXPECT_EQ(status->code, 3);

    auto crashed = start(shell("ulimit -c 0; kill -SEGV $$"));
    ASSERT_TRUE(crashed);
    status = crashed.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->signaled);
    EXPECT_EQ(status->code, SIGSEGV);
}

TEST(ProcessSpawn, ChildStartsWithNoBlockedOrIgnoredSignals) {
    struct sigaction ignore {};
    struct sigaction previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &previous);
    sigset_t usr1;
    sigset_t previousMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &previousMask);

    Pipe output;
    SpawnRequest request;
    request.program = "/bin/grep";
    request.arguments = {"grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"};
    request.stdoutFd = output.writer();
    auto child = start(request);
    output.closeWriter();
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGUSR1, &previous, nullptr);

    ASSERT_TRUE(child);
    EXPECT_EQ(readFrom(output.reader()), "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");
}

TEST(ProcessSpawn, EnvironmentIsExactlyTheGivenOne) {
    Pipe output;
    SpawnRequest request;
    request.program = "/usr/bin/env";
    request.arguments = {"env"};
    request.environment = {{"B", "two words"}, {"A", "1"}, {"EMPTY", ""}};
    request.stdoutFd = output.writer();
    auto child = start(request);
    output.closeWriter();
    ASSERT_TRUE(child);
    EXPECT_EQ(readFrom(output.reader()), "A=1\nB=two words\nEMPTY=\n");
}

TEST(ProcessSpawn, StandardInputComesFromTheGivenPipe) {
    Pipe input;
    Pipe output;
    SpawnRequest request;
    request.program = "/bin/cat";
    request.arguments = {"cat"};
    request.stdinFd = input.reader();
    request.stdoutFd = output.writer();
    auto child = start(request);
    input.closeReader();
    output.closeWriter();
    ASSERT_TRUE(child);
    ASSERT_EQ(write(input.writer(), "hello\n", 6), 6);
    input.closeWriter();
    EXPECT_EQ(readFrom(output.reader()), "hello\n");
    auto status = child.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->code, 0);
}

// The host's own standard input is a pipe here, so inheriting it would show (and block cat).
TEST(ProcessSpawn, StandardInputDefaultsToDevNull) {
    Pipe hostInput;
    Pipe output;
    std::optional<Started> child;
    {
        ReplacedStandardInput replaced(hostInput.reader());
        auto request = shell("readlink /proc/self/fd/0; cat; echo end");
        request.stdoutFd = output.writer();
        child.emplace(start(request));
    }
    output.closeWriter();
    ASSERT_TRUE(*child);
    EXPECT_EQ(readFrom(output.reader()), "/dev/null\nend\n");
}

// When the output descriptor is 0 itself, opening /dev/null onto 0 must not overwrite it first.
TEST(ProcessSpawn, OutputDescriptorMayBeStandardInput) {
    Pipe output;
    std::optional<Started> child;
    {
        ReplacedStandardInput replaced(output.writer());
        auto request = shell("echo out");
        request.stdoutFd = STDIN_FILENO;
        child.emplace(start(request));
    }
    output.closeWriter();
    ASSERT_TRUE(*child);
    EXPECT_EQ(readFrom(output.reader()), "out\n");
}

TEST(ProcessSpawn, ProgramThatCannotRunIsAnError) {
    SpawnRequest request;
    request.program = "/nonexistent-directory/no-such-program";
    request.arguments = {"no-such-program"};
    std::string error;
    EXPECT_FALSE(spawnProcess(request, &error));
    EXPECT_EQ(error, "/nonexistent-directory/no-such-program: No such file or directory");

    request.program = "/dev/null";
    EXPECT_FALSE(spawnProcess(request, &error));
    EXPECT_EQ(error, "/dev/null: Permission denied");

    request.program = "sh";  // no search of PATH
    request.environment = {{"PATH", "/usr/bin:/bin"}};
    EXPECT_FALSE(spawnProcess(request, &error));
}

TEST(ProcessSpawn, NewSessionDetachesTheChild) {
    for (bool newSession : {false, true}) {
        Pipe input;
        auto request = shell("read line");
        request.stdinFd = input.reader();
        request.newSession = newSession;
        auto child = start(request);
        ASSERT_TRUE(child);
        if (newSession) {
            EXPECT_EQ(getsid(child->pid()), child->pid());
            EXPECT_NE(getsid(child->pid()), getsid(0));
        } else {
            EXPECT_EQ(getsid(child->pid()), getsid(0));
        }
    }
}

TEST(ProcessSignal, ReachesTheChildUntilItIsReaped) {
    Pipe input;
    auto request = shell("read line");
    request.stdinFd = input.reader();
    auto child = start(request);
    ASSERT_TRUE(child);
    std::int32_t pid = child->pid();
    auto held = holdProcess(pid);
    ASSERT_TRUE(held);
    EXPECT_TRUE(child->running());
    EXPECT_TRUE(held->running());
    EXPECT_FALSE(child->reap()) << "still running";

    EXPECT_TRUE(child->signal(SIGTERM));
    auto status = child.waitForExit();
    ASSERT_TRUE(status);
    EXPECT_TRUE(status->signaled);
    EXPECT_EQ(status->code, SIGTERM);

    EXPECT_FALSE(child->running());
    EXPECT_FALSE(child->signal(SIGTERM));
    auto again = child->reap();
    ASSERT_TRUE(again);
    EXPECT_EQ(again->code, SIGTERM);

    EXPECT_FALSE(held->running());
    EXPECT_FALSE(held->signal(SIGTERM));
    EXPECT_FALSE(held->reap()) << "a held process is never reaped";

    EXPECT_FALSE(holdProcess(pid));
    EXPECT_FALSE(processExists(pid));
    EXPECT_FALSE(catchesSignal(SIGTERM, pid));
}

TEST(ProcessSignal, CaughtSignalsComeFromTheProcessTable) {
    Pipe input;
    Pipe output;
    auto request = shell("trap 'echo caught' USR1; echo ready; read line; read line");
    request.stdinFd = input.reader();
    request.stdoutFd = output.writer();
    auto child = start(request);
    output.closeWriter();
    ASSERT_TRUE(child);
    ASSERT_EQ(readFrom(output.reader(), true), "ready\n");

    EXPECT_TRUE(catchesSignal(SIGUSR1, child->pid()));
    EXPECT_FALSE(catchesSignal(SIGUSR2, child->pid()));
    EXPECT_FALSE(catchesSignal(0, child->pid()));
    EXPECT_FALSE(catchesSignal(65, child->pid()));

    EXPECT_TRUE(child->signal(SIGUSR1));
    EXPECT_EQ(readFrom(output.reader(), true), "caught\n");
}

TEST(ProcessHold, NoneForPidsThatNameNoProcess) {
    EXPECT_FALSE(holdProcess(0));
    EXPECT_FALSE(holdProcess(-1));
    auto self = holdProcess(getpid());
    ASSERT_TRUE(self);
    EXPECT_TRUE(self->running());
    EXPECT_FALSE(self->reap());
}

TEST(ProcessTree, DescendantsReachGrandchildrenAndNothingElse) {
    Pipe input;
    auto siblingRequest = shell("read line");
    siblingRequest.stdinFd = input.reader();
    auto sibling = start(siblingRequest);
    auto tree = start(shell("exec 2>/dev/null; sleep 30 & sleep 30; wait"));
    ASSERT_TRUE(sibling);
    ASSERT_TRUE(tree);

    std::vector<std::int32_t> below;
    eventually([&] { return (below = descendantsOf(tree->pid())).size() >= 2; });
    ASSERT_EQ(below.size(), 2U) << "the two sleeps";
    for (auto pid : {tree->pid(), sibling->pid(), getpid()})
        EXPECT_EQ(std::count(below.begin(), below.end(), pid), 0) << pid;
    EXPECT_TRUE(descendantsOf(sibling->pid()).empty());

    auto ours = descendantsOf(getpid());
    auto at = [&](std::int32_t pid) {
        return std::find(ours.begin(), ours.end(), pid) - ours.begin();
    };
    const auto missing = std::ssize(ours);
    ASSERT_LT(at(tree->pid()), missing);
    ASSERT_LT(at(sibling->pid()), missing);
    for (auto grandchild : below) {
        ASSERT_LT(at(grandchild), missing);
        EXPECT_GT(at(grandchild), at(tree->pid())) << "a parent comes before its children";
    }
}

TEST(ProcessFacts, ExistenceAndSignalNames) {
    EXPECT_TRUE(processExists(getpid()));
    EXPECT_TRUE(processExists(1));
    EXPECT_FALSE(processExists(0));
    EXPECT_FALSE(processExists(-1));

    EXPECT_EQ(signalDescription(SIGTERM), "Terminated");
    EXPECT_EQ(signalDescription(SIGUSR1), "User defined signal 1");
    EXPECT_FALSE(signalDescription(0));
    EXPECT_FALSE(signalDescription(NSIG));
}

TEST(ProcessServiceName, OnlyServicesBelowTheUserManagerCount) {
    struct Case {
        std::string cgroup;
        std::optional<std::string> name;
    };
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service";
    const Case cases[] = {
        {user + "/app.slice/menu-host.service\n", "menu-host.service"},
        {user + "/app.slice/app-host@work.service\n", "app-host@work.service"},
        {user + "/app.slice/app-gnome-term-4242.scope\n", std::nullopt},
        {user + "/init.scope\n", std::nullopt},
        {user + "\n", std::nullopt},
        {"0::/system.slice/ssh.service\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/session-2.scope\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/user@me.service/app.slice/x.service\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/user@1000.service/.service\n", std::nullopt},
        {"0::/\n", std::nullopt},
        {"", std::nullopt},
        {"12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
         "app.slice/legacy.service\n0::/\n",
         "legacy.service"},
    };
    for (const auto& c : cases) EXPECT_EQ(userServiceNameOfCgroup(c.cgroup), c.name) << c.cgroup;
}

}  // namespace
