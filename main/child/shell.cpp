#include "child/shell.h"

#include <atomic>
#include <chrono>
#include <csignal>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "links/delivery-queue.h"
#include "platform/descriptors.h"
#include "platform/desktop.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "platform/sockets.h"
#include "quit-and-restart/quit-state.h"
#include "quit-and-restart/restart.h"
#include "start-up/signals.h"
#include "support/event-loop.h"

namespace host {
namespace {

constexpr double outputGraceSeconds = 2;

struct Shell {
    std::uint64_t generation = 0;
    int childStdin = -1;   // the shell's ends, until launch
    int childStdout = -1;
    int outputFd = -1;     // the host's reading end, until listen
    std::optional<std::string> brokenBecause;
    bool watched = false;
    std::unique_ptr<platform::Process> process;
    std::unique_ptr<loop::FdSource> exitWatch;
    std::unique_ptr<loop::Timer> exitPoll;  // only when the kernel gives no pidfd
    bool seenEnded = false;
    std::optional<std::uint64_t> seenRunningIn;  // the callback that last saw it running
};

ShellSettings settings;
std::unique_ptr<Shell> child;
std::unique_ptr<ChildInbox> inbox;
std::uint64_t generations = 0;
std::chrono::steady_clock::time_point childStartedAt = std::chrono::steady_clock::now();
std::unique_ptr<loop::Timer> shellExitTimer;

// Outputs still being read, and the exit waiting for them.
std::atomic<int> outputsOpen{0};
std::optional<int> leavingWith;
std::unique_ptr<loop::Timer> leavingTimer;

double shellExitGraceSeconds() { return settings.hostedByItsParent ? 2.8 : 5.0; }

void closeIfOpen(int& fd) {
    if (fd >= 0) platform::closeDescriptor(fd);
    fd = -1;
}

void removeTheShellsDeadSocket() {
    if (settings.socketPath) platform::removeDeadSocket(*settings.socketPath);
}

void outputFinished() {
    if (--outputsOpen == 0 && leavingWith) platform::exitNow(*leavingWith);
}

int exitStatusOf(const platform::ExitStatus& status) {
    return status.signaled ? 128 + status.code : status.code;
}

double secondsSinceTheLaunch() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - childStartedAt).count();
}

void swapInAFreshShell(std::int32_t oldPid, bool diedOfTheSwapSignal);
void followTheShellOut(const platform::ExitStatus& status);

void decideAfterTheShellEnded(std::int32_t pid, platform::ExitStatus status) {
    if (settings.ended) settings.ended();
    if (leavingTheHost()) return;
    bool diedOfTheSwapSignal = status.signaled && status.code == SHELL_SWAP_SIGNAL;
    bool swapWanted = swapping || diedOfTheSwapSignal;
    // A host that is quitting has nothing to swap in a shell for.
    if (swapWanted && !terminating && !settingsQuitAwaitingReply && !quitting) {
        swapInAFreshShell(pid, diedOfTheSwapSignal);
    } else {
        followTheShellOut(status);
    }
}

void recordTheEnd(std::int32_t pid, const platform::ExitStatus& status) {
    Json record = {{"kind", "child-exit"}, {"shell", pid}, {"reason", status.signaled ? "signal" : "exit"},
                   {"status", status.code}};
    if (status.signaled) {
        if (auto description = platform::signalDescription(status.code)) record["signal"] = *description;
    }
    const std::filesystem::path log = deathLog(pid);
    if (!append(record, log) || !writeTheLogNow(log)) {
        platform::say("death log unavailable\n");
    }
}

void shellMayHaveEnded(Shell* shell) {
    auto status = shell->process->reap();
    if (!status) return;
    if (shell->exitWatch) shell->exitWatch->suspend();
    if (shell->exitPoll) shell->exitPoll->cancel();
    std::int32_t pid = shell->process->pid();
    recordTheEnd(pid, *status);
    loop::postToTheMainQueue([pid, status = *status] { decideAfterTheShellEnded(pid, status); });
}

void followTheEnd(Shell* shell) {
    int fd = shell->process->exitFd();
    if (fd >= 0) {
        shell->exitWatch = std::make_unique<loop::FdSource>(fd, loop::FdSource::Condition::readable,
                                                            [shell] { shellMayHaveEnded(shell); });
        shell->exitWatch->resume();
    } else {
        shell->exitPoll = std::make_unique<loop::Timer>();
        shell->exitPoll->startRepeating(0.1, [shell] { shellMayHaveEnded(shell); });
    }
}

void swapInAFreshShell(std::int32_t oldPid, bool diedOfTheSwapSignal) {
    swapping = true;
    auto aside = takeTheWaitingDeliveries();
    if (inbox) inbox->close();  // unfinished deliveries come back into the queue first
    queueTheDeliveries(std::move(aside));
    removeTheShellsDeadSocket();
    makeChild();
    childHearsReopen = false;
    listen();
    watch();
    std::string error;
    if (!run(&error)) {
        platform::say(error + "\n");
        leaveTheHost(71);
        return;
    }
    childStartedAt = std::chrono::steady_clock::now();
    swapping = false;
    tellTheChildTheFront(platform::desktop().frontApplicationIdentifier());
    std::int32_t newPid = *shellPid();
    append({{"kind", "shell-swapped"}, {"from", oldPid}, {"to", newPid}, {"waiting", waitingDeliveries()},
            {"asked", diedOfTheSwapSignal ? "shell-sighup" : "launcher-sighup"}},
           deathLog(newPid));
    writeTheWaitingDeliveries();
}

void followTheShellOut(const platform::ExitStatus& status) {
    swapping = false;  // no swap follows: what the inbox still holds fails rather than waits
    cancelTheEndingSignalSources();
    if (inbox) inbox->close();
    failTheWaitingDeliveries("closed");  // no shell will come for them: say so, do not drop them
    removeTheShellsDeadSocket();
    if (quitting || settingsQuitAwaitingReply) {
        if (settingsQuitAwaitingReply) platform::desktop().replyToApplicationShouldTerminate(true);
        HeldProcesses targets = theQuitTargetsAndTheHostsFamily();
        killEach(targets);
        return leaveTheHost(0);
    }
    if (terminating) return leaveTheHost(exitStatusOf(status));
    if (status.signaled) {
        if (!settings.hostedByItsParent && secondsSinceTheLaunch() >= CRASH_LOOP_SECONDS) restart();
        return leaveTheHost(exitStatusOf(status));
    }
    if (status.code == RESTART_STATUS) restart();
    leaveTheHost(status.code);
}

}  // namespace

void configureTheShell(ShellSettings newSettings) { settings = std::move(newSettings); }

// Asked for every URL and message: a shell seen ended stays so, and one seen running in a
// callback is taken as running for the rest of it, as if it ended just after.
bool shellIsRunning() {
    if (!child || !child->process || child->seenEnded) return false;
    const bool asked = loop::insideACallback() && child->seenRunningIn == loop::callbackNumber();
    if (asked) return true;
    child->seenEnded = !child->process->running();
    if (!child->seenEnded && loop::insideACallback()) child->seenRunningIn = loop::callbackNumber();
    return !child->seenEnded;
}

std::optional<std::int32_t> shellPid() {
    if (!child || !child->process) return std::nullopt;
    return child->process->pid();
}

ChildInbox* shellInbox() { return inbox.get(); }

// What was sent to the shell before a signal is in its pipe before the signal.
bool signalTheShell(int signalNumber) {
    if (inbox) inbox->flush();
    return shellIsRunning() && child->process->signal(signalNumber);
}

void makeChild() {
    auto shell = std::make_unique<Shell>();
    shell->generation = ++generations;
    inbox.reset();
    if (settings.piped) {
        int in[2], out[2];
        if (!platform::makePipe(in)) {
            shell->brokenBecause = "the shell's input pipe cannot be made";
        } else if (!platform::makePipe(out)) {
            platform::closeDescriptor(in[0]);
            platform::closeDescriptor(in[1]);
            shell->brokenBecause = "the shell's output pipe cannot be made";
        } else {
            inbox = std::make_unique<ChildInbox>(in[1]);
            shell->childStdin = in[0];
            shell->childStdout = out[1];
            shell->outputFd = out[0];
        }
    }
    child = std::move(shell);
}

void listen() {
    if (!child || child->outputFd < 0) return;
    std::uint64_t generation = child->generation;
    auto isCurrent = [generation] { return child && child->generation == generation; };
    auto output = std::make_unique<ChildOutput>(settings.recognised, settings.handlers, isCurrent,
                                                loop::postToTheMainQueue);
    ++outputsOpen;
    listenOnItsOwnThread(child->outputFd, std::move(output), platform::standardOutput,
                         [] { loop::postToTheMainQueue(outputFinished); });
    child->outputFd = -1;
}

void watch() {
    if (child) child->watched = true;
}

bool run(std::string* error) {
    Shell& shell = *child;
    if (shell.brokenBecause) return *error = *shell.brokenBecause, false;
    platform::SpawnRequest request;
    request.program = settings.executable;
    request.arguments.push_back(settings.executable);
    request.arguments.insert(request.arguments.end(), settings.arguments.begin(), settings.arguments.end());
    request.environment = settings.environment;
    request.stdinFd = shell.childStdin;
    request.stdoutFd = shell.childStdout;
    shell.process = platform::spawnProcess(request, error);
    closeIfOpen(shell.childStdin);
    closeIfOpen(shell.childStdout);
    if (!shell.process) return false;
    if (shell.watched) followTheEnd(&shell);
    return true;
}

void endTheShell(const std::string& reason) {
    if (!shellIsRunning()) return;
    std::int32_t pid = *shellPid();
    signalTheShell(SIGTERM);
    signalTheShell(SIGCONT);
    armTheShellExit(reason, pid);
}

void armTheShellExit(const std::string& reason, std::int32_t pid) {
    if (shellExitTimer) return;
    shellExitTimer = std::make_unique<loop::Timer>();
    shellExitTimer->startOnce(shellExitGraceSeconds(), [reason, pid] {
        if (leavingTheHost()) return;
        HeldProcesses targets = theQuitTargetsAndTheHostsFamily();
        append({{"kind", "shell-stuck"}, {"asked", reason}, {"shell", pid}, {"graceSeconds", shellExitGraceSeconds()},
                {"killed", pidsOf(targets)}},
               deathLog(pid));
        killEach(targets);
        removeTheShellsDeadSocket();
        if (settingsQuitAwaitingReply) platform::desktop().replyToApplicationShouldTerminate(true);
        leaveTheHost(0);
    });
}

void askForAShellSwap() {
    if (swapping || terminating || quitting || leavingTheHost() || !shellIsRunning()) return;
    swapping = true;
    if (inbox) inbox->hold();  // what the old shell has not got yet goes to the new one
    signalTheShell(SIGTERM);
}

bool leavingTheHost() { return leavingWith.has_value(); }

void leaveTheHost(int status) {
    if (leavingWith) return;
    leavingWith = status;
    if (child && !child->process) {  // never launched: its output can end now
        closeIfOpen(child->childStdin);
        closeIfOpen(child->childStdout);
    }
    if (outputsOpen == 0) platform::exitNow(status);
    leavingTimer = std::make_unique<loop::Timer>();
    leavingTimer->startOnce(outputGraceSeconds, [] { platform::exitNow(*leavingWith); });
}

}  // namespace host
