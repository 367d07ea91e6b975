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

using namespace host::platform;

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_TRUE(makePipe(fds)); }
    ~Pipe() { closeDescriptor(fds[0]), closeWriter(); }
    void closeWriter() { closeDescriptor(std::exchange(fds[1], -1)); }
};

// Polls until `done` holds or 20 s pass, so a broken implementation fails instead of hanging.
template <typename Predicate>
bool eventually(Predicate done) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return done();
}

// Reads until end of file, or up to the first newline when `oneLine`.
std::string readFrom(int fd, bool oneLine = false) {
    std::string text;
    char c;
    pollfd poller{fd, POLLIN, 0};
    while (eventually([&] { return poll(&poller, 1, 0) == 1; }) && read(fd, &c, 1) == 1) {
        text += c;
        if (oneLine && c == '\n') break;
    }
    return text;
}

std::string shown(const std::optional<ExitStatus>& status) {
    return !status ? "running" : (status->signaled ? "signal " : "exit ") + std::to_string(status->code);
}

std::optional<ExitStatus> reaped(Process& child) {
    return eventually([&] { return child.reap().has_value(); }) ? child.reap() : std::nullopt;
}

// Kills and reaps a started process and its descendants, whether the test passed or not. The
// descendants are looked up only while it runs (a reaped pid may name another process); the
// shells here reap them once killed.
struct Ender {
    void operator()(Process* process) const {
        for (auto pid : process->running() ? descendantsOf(process->pid()) : std::vector<std::int32_t>{})
            if (auto held = holdProcess(pid)) held->signal(SIGKILL);
        eventually([&] { return !process->running() || descendantsOf(process->pid()).empty(); });
        process->signal(SIGKILL);
        reaped(*process);
        delete process;
    }
};
using Started = std::unique_ptr<Process, Ender>;

Started start(const SpawnRequest& request) {
    std::string error;
    Started started(spawnProcess(request, &error).release());
    EXPECT_TRUE(started) << error;
    return started;
}

SpawnRequest command(std::vector<std::string> argv, int stdinFd = -1,
                     std::map<std::string, std::string> environment = {{"PATH", "/usr/bin:/bin"}}) {
    return {.program = argv[0], .arguments = argv, .environment = std::move(environment), .stdinFd = stdinFd};
}
SpawnRequest shell(const std::string& script, int stdinFd = -1) { return command({"/bin/sh", "-c", script}, stdinFd); }

// What the process writes to its standard output, and how it ended.
std::pair<std::string, std::optional<ExitStatus>> run(SpawnRequest request) {
    Pipe output;
    request.stdoutFd = output.fds[1];
    auto child = start(request);
    output.closeWriter();
    if (!child) return {};
    std::string text = readFrom(output.fds[0]);
    return {text, reaped(*child)};
}

TEST(ProcessSpawn, ReportsHowTheChildEnded) {
    EXPECT_EQ(shown(run(shell("exit 3")).second), "exit 3");
    EXPECT_EQ(shown(run(shell("ulimit -c 0; kill -SEGV $$")).second), shown(ExitStatus{true, SIGSEGV}));
}

// The child gets exactly what it is given: not the signals the host ignores and blocks (SIGUSR1
// stands for them here), nor the host's environment.
TEST(ProcessSpawn, ChildStartsWithCleanSignalsAndExactlyTheGivenEnvironment) {
    struct sigaction ignore {}, previous {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGUSR1, &ignore, &previous);
    sigset_t usr1, previousMask;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &usr1, &previousMask);
    auto output = run(command({"/bin/grep", "-E", "^Sig(Blk|Ign):", "/proc/self/status"})).first;
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    sigaction(SIGUSR1, &previous, nullptr);
    EXPECT_EQ(output, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\n");

    auto env = command({"/usr/bin/env"}, -1, {{"B", "two words"}, {"A", "1"}, {"EMPTY", ""}});
    EXPECT_EQ(run(env).first, "A=1\nB=two words\nEMPTY=\n");
}

TEST(ProcessSpawn, StandardInputIsTheGivenPipeElseDevNull) {
    Pipe input;
    ASSERT_EQ(write(input.fds[1], "hello\n", 6), 6);
    input.closeWriter();
    EXPECT_EQ(run(shell("cat", input.fds[0])).first, "hello\n");

    // The host's own standard input (a pipe here) would show if inherited. It is also the
    // output descriptor, which opening /dev/null onto 0 must not overwrite before it is used.
    Pipe output;
    auto request = shell("readlink /proc/self/fd/0; cat; echo end");
    request.stdoutFd = STDIN_FILENO;
    const int saved = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    ASSERT_EQ(dup2(output.fds[1], STDIN_FILENO), STDIN_FILENO);
    auto child = start(request);
    ASSERT_EQ(dup2(saved, STDIN_FILENO), STDIN_FILENO);
    closeDescriptor(saved);
    output.closeWriter();
    EXPECT_EQ(readFrom(output.fds[0]), "/dev/null\nend\n");
}

TEST(ProcessSpawn, ProgramThatCannotRunIsAnErrorWithItsReason) {
    for (auto [program, reason] : {std::pair{"/no-such-directory/x", "No such file or directory"},
                                   {"/dev/null", "Permission denied"}, {"sh", "No such file or directory"}}) {
        std::string error;  // "sh": PATH is not searched
        EXPECT_FALSE(spawnProcess(command({program}), &error)) << program;
        EXPECT_EQ(error, program + std::string(": ") + reason);
    }
}

TEST(ProcessSpawn, NewSessionDetachesTheChild) {
    Pipe input;  // never written, so the shells wait
    for (bool newSession : {false, true}) {
        auto request = shell("read line", input.fds[0]);
        request.newSession = newSession;
        auto child = start(request);
        ASSERT_TRUE(child);
        EXPECT_EQ(getsid(child->pid()), newSession ? child->pid() : getsid(0));
    }
}

TEST(ProcessSignal, ReachesTheProcessUntilItIsReaped) {
    Pipe input, output;
    auto request = shell("trap 'echo caught' USR1; echo ready; read line; read line", input.fds[0]);
    request.stdoutFd = output.fds[1];
    auto child = start(request);
    output.closeWriter();
    ASSERT_TRUE(child);
    ASSERT_EQ(readFrom(output.fds[0], true), "ready\n");
    const std::int32_t pid = child->pid();
    auto held = holdProcess(pid);
    ASSERT_TRUE(held);
    EXPECT_TRUE(child->running() && held->running());
    EXPECT_EQ(shown(child->reap()), "running");

    // The caught-signal mask is read from the process table.
    EXPECT_TRUE(catchesSignal(SIGUSR1, pid));
    for (int other : {SIGUSR2, 0, 65}) EXPECT_FALSE(catchesSignal(other, pid)) << other;
    EXPECT_TRUE(held->signal(SIGUSR1));
    EXPECT_EQ(readFrom(output.fds[0], true), "caught\n");

    EXPECT_TRUE(child->signal(SIGTERM));
    EXPECT_TRUE(eventually([&] { return !child->running(); })) << "ended, though not yet reaped";
    EXPECT_FALSE(held->reap()) << "only its parent reaps it";
    EXPECT_EQ(shown(reaped(*child)), shown(ExitStatus{true, SIGTERM}));
    EXPECT_EQ(shown(child->reap()), shown(ExitStatus{true, SIGTERM})) << "reaping again repeats the status";
    EXPECT_FALSE(child->signal(SIGTERM) || held->signal(SIGTERM)) << "the pid may name another process now";
    EXPECT_FALSE(held->running());
    EXPECT_FALSE(holdProcess(pid) || processExists(pid) || catchesSignal(SIGTERM, pid));
}

TEST(ProcessTree, DescendantsReachGrandchildrenAndNothingElse) {
    Pipe input;
    auto sibling = start(shell("read line", input.fds[0]));
    auto tree = start(shell("exec 2>/dev/null; sleep 30 & sleep 30; wait"));
    ASSERT_TRUE(sibling && tree);

    std::vector<std::int32_t> below;
    eventually([&] { return (below = descendantsOf(tree->pid())).size() >= 2; });
    ASSERT_EQ(below.size(), 2U) << "the two sleeps";
    for (auto pid : {tree->pid(), sibling->pid(), getpid()}) EXPECT_EQ(std::ranges::count(below, pid), 0) << pid;
    EXPECT_TRUE(descendantsOf(sibling->pid()).empty());

    auto ours = descendantsOf(getpid());
    auto at = [&](std::int32_t pid) { return std::ranges::find(ours, pid) - ours.begin(); };
    EXPECT_LT(at(sibling->pid()), std::ssize(ours));
    for (auto grandchild : below) {
        EXPECT_LT(at(grandchild), std::ssize(ours));
        EXPECT_GT(at(grandchild), at(tree->pid())) << "a parent comes before its children";
    }
}

// kill() with 0 or -1 reaches whole groups, so those must never count as one process.
TEST(ProcessFacts, PidsThatNameNoProcessAndSignalNames) {
    for (int pid : {0, -1}) EXPECT_FALSE(processExists(pid) || holdProcess(pid)) << pid;
    auto self = holdProcess(getpid());
    ASSERT_TRUE(self && processExists(1));
    EXPECT_TRUE(self->running());
    EXPECT_FALSE(self->reap());
    EXPECT_EQ(signalDescription(SIGTERM), "Terminated");
    EXPECT_FALSE(signalDescription(0) || signalDescription(NSIG));
}

TEST(ProcessServiceName, OnlyServicesBelowTheUserManagerCount) {
    const std::string user = "0::/user.slice/user-1000.slice/user@1000.service";
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {user + "/app.slice/menu-host.service\n", "menu-host.service"},
        {user + "/app.slice/app-gnome-term-4242.scope\n", std::nullopt},
        {user + "\n", std::nullopt},  // the user manager itself
        {"0::/system.slice/ssh.service\n", std::nullopt},
        {"0::/user.slice/user-1000.slice/user@me.service/app.slice/x.service\n", std::nullopt},
        {user + "/.service\n", std::nullopt},
        {"0::/\n", std::nullopt},
        {"", std::nullopt},
        {"12:pids:/user.slice\n1:name=systemd:/user.slice/user-1000.slice/user@1000.service/"
         "app.slice/legacy.service\n0::/\n",
         "legacy.service"},  // the named systemd line wins, wherever it is
        {"0::/\n1:name=systemd:" + user.substr(3) + "/app.slice/legacy.service\n", "legacy.service"},
    };
    for (const auto& [cgroup, name] : cases) EXPECT_EQ(userServiceNameOfCgroup(cgroup), name) << cgroup;
}

}  // namespace
