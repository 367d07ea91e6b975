// The signals the host handles. Each is set to be ignored, then blocked and read through the
// event loop, so its default action never runs and none is lost before the loop turns.
#pragma once

#include <csignal>

#include "support/event-loop.h"

namespace host {

// Linux has no SIGINFO; SIGURG is ignored by default in the same way.
inline constexpr int UPDATE_CHECK_SIGNAL = SIGURG;
inline constexpr int SHELL_SWAP_SIGNAL = SIGHUP;
inline constexpr int REOPEN_READY_SIGNAL = SIGUSR2;
inline constexpr int MENU_ASKED_SIGNAL = SIGUSR1;

struct SignalHandlers {
    loop::Callback termination;       // SIGTERM
    loop::Callback interruption;      // SIGINT
    loop::Callback swap;              // SIGHUP
    loop::Callback reopenHeard;       // SIGUSR2
    loop::Callback menuAsked;         // SIGUSR1
    loop::Callback updateCheckAsked;  // SIGURG
};

void installTheSignalSources(SignalHandlers handlers);

// Stops watching SIGTERM, SIGINT and SIGHUP once the host follows its shell out; they stay ignored.
void cancelTheEndingSignalSources();

}  // namespace host
