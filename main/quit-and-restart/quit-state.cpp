#include "quit-and-restart/quit-state.h"

#include <csignal>

#include "platform/process.h"

namespace host {

HeldProcesses heldDescendantsOf(std::int32_t pid) {
    HeldProcesses held;
    for (std::int32_t descendant : platform::descendantsOf(pid)) {
        if (auto process = platform::holdProcess(descendant)) held.push_back(std::move(process));
    }
    return held;
}

std::vector<std::int32_t> pidsOf(const HeldProcesses& processes) {
    std::vector<std::int32_t> pids;
    for (const auto& process : processes) pids.push_back(process->pid());
    return pids;
}

HeldProcesses theQuitTargetsAndTheHostsFamily() {
    HeldProcesses targets = std::move(quitTargets);
    quitTargets.clear();
    for (auto& process : heldDescendantsOf(platform::ownPid())) targets.push_back(std::move(process));
    return targets;
}

void killEach(HeldProcesses& processes) {
    for (auto& process : processes) process->signal(SIGKILL);
}

}  // namespace host
