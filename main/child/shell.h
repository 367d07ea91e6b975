// The shell: the host's one child process. Built, launched, followed to its end, and then either
// swapped for a fresh one or followed out of the process. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "child/child-inbox.h"
#include "child/child-output.h"
#include "start-up/child-environment.h"

namespace host {

inline constexpr double CRASH_LOOP_SECONDS = 10;

struct ShellSettings {
    std::string executable;               // bun, or the frozen shell
    std::vector<std::string> arguments;   // after argv[0]: the script first unless frozen, then the host's own
    Environment environment;
    bool piped = false;
    RecognisedMessages recognised;
    std::shared_ptr<const MessageHandlers> handlers;
    std::optional<std::string> socketPath;  // the shell's own socket, cleared when dead
    bool hostedByItsParent = false;
    // Told first, on the main thread, each time a shell has ended (the panels close then).
    std::function<void()> ended;
};
void configureTheShell(ShellSettings settings);

// Set by SIGTERM: the host ends with its shell. Never cleared.
inline bool terminating = false;
// A swap is under way: from the request until the new shell has been launched.
inline bool swapping = false;
// The shell announced that it takes reopen requests; false for every new shell.
inline bool childHearsReopen = false;
// A reopen request waits for that announcement; survives swaps.
inline bool reopenOwed = false;

bool shellIsRunning();
// The current shell's pid once launched (also after it ended).
std::optional<std::int32_t> shellPid();
// The current shell's inbox; none when the host is not piped.
ChildInbox* shellInbox();
// Sends a signal to the current shell while it runs.
bool signalTheShell(int signalNumber);

// The shell's life: built, its output read, its end followed, launched.
void makeChild();
void listen();
void watch();
bool run(std::string* error);

// Asks the shell to end (SIGTERM, then SIGCONT for a stopped shell) and arms the stuck-shell timer.
void endTheShell(const std::string& reason);
// After the grace time, kills what is left of the shell and its family and exits 0. First call wins.
void armTheShellExit(const std::string& reason, std::int32_t pid);
// SIGHUP: swap in a fresh shell once this one has ended.
void askForAShellSwap();

// Exits with `status` once every shell's output has been passed through, waiting at most a
// moment for a descendant that holds the pipe open. The first status wins; from the first call
// on, nothing else starts (no swap, no new shell).
void leaveTheHost(int status);
bool leavingTheHost();

}  // namespace host
