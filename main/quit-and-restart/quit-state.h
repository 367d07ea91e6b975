// What quitting leaves for the shell's end to act on. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace host {

// The shell has been asked to end for good; set once, never cleared.
inline bool quitting = false;
// A settings quit waits for the shell's answer; set once, never cleared.
inline bool settingsQuitAwaitingReply = false;

// The applications whose quit the current shell settles itself, as it announced them.
struct QuitListener {
    std::int32_t shell = 0;
    std::set<std::string> senders;
};
inline std::optional<QuitListener> setupQuitListener;

using HeldProcesses = std::vector<std::unique_ptr<platform::Process>>;

// The shell's descendants when it was asked to end, held so that a later kill reaches only
// those very processes, never one that reused a pid.
inline HeldProcesses quitTargets;

// Every process below `pid`, held; those already gone are left out.
HeldProcesses heldDescendantsOf(std::int32_t pid);

// The pids of the held processes, in order.
std::vector<std::int32_t> pidsOf(const HeldProcesses& processes);

// The quit targets (taken), then every process below the host, held now.
HeldProcesses theQuitTargetsAndTheHostsFamily();

// SIGKILL to each held process that has not ended.
void killEach(HeldProcesses& processes);

}  // namespace host
