#include "root-watch/root-watch.h"

#include <chrono>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

#include "child/death-log.h"
#include "child/shell.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "quit-and-restart/quit-state.h"
#include "support/clock.h"
#include "support/event-loop.h"

namespace host {
namespace {

struct RootWatch {
    std::unique_ptr<platform::Process> root;
    std::unique_ptr<loop::FdSource> exit;
    std::unique_ptr<loop::Timer> poll;  // only when the kernel gives no pidfd
};

RootWatchSettings settings;
std::unique_ptr<RootWatch> rootWatch;
std::unique_ptr<loop::Timer> rootWait;
std::unique_ptr<loop::Timer> leaveTimer;

std::int32_t currentShellPid() { return shellPid().value_or(0); }

void logAboutTheRoot(Json record) {
    record["shell"] = currentShellPid();
    append(std::move(record), deathLog(currentShellPid()));
}

// Dropped from inside its own callback is fine: the loop layer allows it.
void stopWatchingTheRoot() { rootWatch.reset(); }

std::optional<std::int32_t> adoptingRoot() {
    std::ifstream in(settings.rootWaitFile, std::ios::binary);
    if (!in) return std::nullopt;
    auto answer = parsedJson(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    if (!answer || !answer->is_object()) return std::nullopt;
    auto pid = answer->find("pid");
    auto root = answer->find("root");
    if (pid == answer->end() || root == answer->end() || !pid->is_number_integer() || !root->is_number_integer()) {
        return std::nullopt;
    }
    if (pid->get<std::int64_t>() != platform::ownPid()) return std::nullopt;
    std::int64_t rootPid = root->get<std::int64_t>();
    if (rootPid < 2 || rootPid > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(rootPid);
}

void stopWaiting() {
    rootWait.reset();
    std::error_code ignored;
    std::filesystem::remove(settings.rootWaitFile, ignored);
}

void checkForAdoption(std::int32_t lost, std::chrono::steady_clock::time_point deadline) {
    if (auto root = adoptingRoot()) {
        stopWaiting();
        logAboutTheRoot({{"kind", "root-adopted"}, {"parent", *root}, {"lost", lost}});
        watchTheRoot(*root);
    } else if (std::chrono::steady_clock::now() >= deadline || terminating || quitting) {
        stopWaiting();
        logAboutTheRoot({{"kind", "root-never-came"}, {"parent", lost}, {"waitSeconds", settings.rootWaitSeconds}});
        leaveWithTheParent(lost);
    }
}

void killWhatIsLeft() {
    HeldProcesses targets = theQuitTargetsAndTheHostsFamily();
    killEach(targets);
    leaveTheHost(0);
}

}  // namespace

void configureTheRootWatch(RootWatchSettings newSettings) { settings = std::move(newSettings); }

void watchTheRoot(std::int32_t pid) {
    stopWatchingTheRoot();
    auto watch = std::make_unique<RootWatch>();
    watch->root = platform::holdProcess(pid);
    if (!watch->root) return rootGone(pid);  // ended before the watch began
    if (watch->root->exitFd() >= 0) {
        watch->exit = std::make_unique<loop::FdSource>(watch->root->exitFd(), loop::FdSource::Condition::readable,
                                                       [pid] { rootGone(pid); });
        watch->exit->resume();
    } else {
        watch->poll = std::make_unique<loop::Timer>();
        watch->poll->startRepeating(1.0, [pid] {
            if (!platform::processExists(pid)) rootGone(pid);
        });
    }
    rootWatch = std::move(watch);
}

void rootGone(std::int32_t pid) {
    stopWatchingTheRoot();
    if (quitting || rootWait) return;
    if (!terminating && settings.rootWaitSeconds > 0 && shellIsRunning()) {
        waitForTheNextRoot(pid);
    } else {
        leaveWithTheParent(pid);
    }
}

void leaveWithTheParent(std::int32_t pid) {
    if (quitting) return;
    stopWatchingTheRoot();
    quitting = true;
    bool running = shellIsRunning();
    quitTargets = running ? heldDescendantsOf(*shellPid()) : HeldProcesses{};
    logAboutTheRoot({{"kind", "parent-gone"}, {"parent", pid}, {"descendants", pidsOf(quitTargets)}});
    if (!running) return leaveTheHost(0);
    for (auto& target : quitTargets) target->signal(SIGTERM);
    signalTheShell(SIGTERM);
    leaveTimer = std::make_unique<loop::Timer>();
    leaveTimer->startOnce(settings.stuckShellGraceSeconds, killWhatIsLeft);
}

void waitForTheNextRoot(std::int32_t lost) {
    std::string error;
    platform::writeFileAtomically(settings.rootWaitFile,
                                  jsonLine({{"at", clockNow()}, {"lost", lost}, {"pid", platform::ownPid()}}), &error);
    logAboutTheRoot({{"kind", "root-lost"}, {"parent", lost}, {"waitSeconds", settings.rootWaitSeconds}});
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(settings.rootWaitSeconds));
    rootWait = std::make_unique<loop::Timer>();
    rootWait->startRepeating(1.0, [lost, deadline] { checkForAdoption(lost, deadline); });
}

}  // namespace host

