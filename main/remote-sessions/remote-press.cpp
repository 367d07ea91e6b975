// The press on the remote machine: the bridge's command, started and left to run. The host only
// reaps it when it ends, so no zombie outlives the press.
#include <list>
#include <memory>

#include "platform/descriptors.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "remote-sessions/remote-machines.h"
#include "support/event-loop.h"

namespace host {
namespace {

struct RunningPress {
    std::unique_ptr<platform::Process> process;
    std::unique_ptr<loop::FdSource> exitWatch;
};

std::list<RunningPress> runningPresses;

void reapWhenItEnds(std::unique_ptr<platform::Process> process) {
    const int exitFd = process->exitFd();
    if (exitFd < 0) return;  // without a pidfd the process stays unreaped until the host ends
    auto& press = runningPresses.emplace_back(RunningPress{std::move(process), nullptr});
    auto at = std::prev(runningPresses.end());
    press.exitWatch = std::make_unique<loop::FdSource>(exitFd, loop::FdSource::Condition::readable, [at] {
        at->process->reap();
        // Erasing destroys the running source's owner; the loop keeps the callback alive.
        runningPresses.erase(at);
    });
    press.exitWatch->resume();
}

}  // namespace

void pressOnTheRemote(const RemoteBridge& bridge, std::string_view key) {
    platform::SpawnRequest request;
    request.program = bridge.press.front();
    request.arguments = pressArgumentsOf(bridge.press, key);
    request.environment = platform::ownEnvironment();
    // Output and errors are the host's; input is /dev/null, so a press never reads the host's.
    std::string error;
    auto process = platform::spawnProcess(request, &error);
    if (!process) {
        platform::say("remote press failed: " + error + "\n");
        return;
    }
    reapWhenItEnds(std::move(process));
}

}  // namespace host
