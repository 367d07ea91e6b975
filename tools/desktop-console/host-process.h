// The host as the console's child: started with the desktop's socket in its environment, in a
// process group of its own so that the terminal's Ctrl-C reaches only the console, which then
// ends the host itself.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace console {

struct Started {
    pid_t pid = -1;
    std::string error;  // why it could not start, when pid is -1
    int output = -1;    // the reading end of the host's standard output and error, when captured
};

// With `captureOutput` the host's standard output and error go to one pipe (Started::output),
// so that a person's prompt can be kept whole around them; else they are the console's.
Started startHost(const std::vector<std::string>& command, const std::string& socketPath, bool captureOutput = false);

// The wait status once the host has ended; none while it runs.
std::optional<int> endedHost(pid_t pid);

// SIGTERM, at most `graceSeconds` to end, then SIGKILL to its whole group. The wait status.
int stopHost(pid_t pid, double graceSeconds);

// The wait status as an exit code: the status, or 128 + the signal.
int exitCodeOf(int waitStatus);
// "exited with status 3" or "ended by signal 9 (Killed)".
std::string statusText(int waitStatus);

}  // namespace console
