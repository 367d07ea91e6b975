// Starting, watching and signalling processes. A process is held through a pidfd, so a signal
// never reaches an unrelated process that reused a recorded pid.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace host::platform {

struct ExitStatus {
    bool signaled = false;  // ended by a signal
    int code = 0;           // the exit status, or the signal number when signaled
};

struct SpawnRequest {
    std::string program;                            // path of the executable
    std::vector<std::string> arguments;             // argv, argv[0] included
    std::map<std::string, std::string> environment; // exactly this environment
    int stdinFd = -1;    // dup'ed to 0; -1 opens /dev/null
    int stdoutFd = -1;   // dup'ed to 1; -1 inherits the host's
    bool newSession = false;  // detached: its own session, not the host's process group
};

// A process this host started or recorded. Signals go through the pidfd; once the process has
// ended (and for a child, been reaped) nothing more is sent.
class Process {
public:
    virtual ~Process() = default;
    virtual std::int32_t pid() const = 0;
    // Readable once the process has ended; -1 when the kernel gives no pidfd.
    virtual int exitFd() const = 0;
    // True while the process has not ended.
    virtual bool running() = 0;
    // Sends the signal to this very process; false when it has ended or the send failed.
    virtual bool signal(int signalNumber) = 0;
    // For a child of this host: reaps it when it has ended. None while it runs.
    virtual std::optional<ExitStatus> reap() = 0;
};

// Starts a process with an empty signal mask and default signal dispositions (the host's own
// ignored and blocked signals are not inherited). None with the reason in *error.
std::unique_ptr<Process> spawnProcess(const SpawnRequest& request, std::string* error);

// Starts a process that is not the host's child: in its own session, and exec'd only once its
// parent has left, so it starts under the system's reaper as an app opened by the desktop
// would. stdin is /dev/null; stdout and stderr are the host's. False with the reason in *error.
bool spawnDetached(const SpawnRequest& request, std::string* error);

// Blocks until a child of this host ends, and reaps it.
ExitStatus waitForTheEnd(Process& child);

// Holds an existing process (not necessarily a child); none when it no longer exists.
std::unique_ptr<Process> holdProcess(std::int32_t pid);

// Every process below `pid` in the process tree, depth first, without `pid`; empty when the
// process table cannot be read.
std::vector<std::int32_t> descendantsOf(std::int32_t pid);

// Whether process `pid` has a handler installed for `signalNumber` (its caught-signal mask).
bool catchesSignal(int signalNumber, std::int32_t pid);

// The kernel's path of the executable that process `pid` runs; none when it cannot be read
// (the process is gone, belongs to someone else, or the path is 4,096 bytes or longer).
std::optional<std::string> executablePathOf(std::int32_t pid);

// The parent process id of `pid` as the kernel records it (0 above the first process); none
// when the process table cannot tell.
std::optional<std::int32_t> parentPidOf(std::int32_t pid);

// Whether process `pid` holds a TCP socket, IPv4 or IPv6, in the established state; false when
// its descriptors or the kernel's connection tables cannot be read.
bool hasAnEstablishedTCPConnection(std::int32_t pid);

// Linux only, exposed for tests: the socket inodes in the established state in the text of a
// /proc/net/tcp or /proc/net/tcp6 table.
std::set<std::uint64_t> establishedSocketInodesOf(const std::string& tableText);

// kill(pid, 0): false only when no such process exists (ESRCH).
bool processExists(std::int32_t pid);

// The platform's text for a signal number, or none.
std::optional<std::string> signalDescription(int signalNumber);

// The systemd user service this process runs in ("name.service"), or none.
std::optional<std::string> ownUserServiceName();

// Linux only, exposed for tests: the user service named by the text of a /proc/<pid>/cgroup
// file. A "name.service" unit counts only below a user manager ("user@<uid>.service"), so
// system services and the user manager itself give none.
std::optional<std::string> userServiceNameOfCgroup(const std::string& cgroupFileText);

// A pipe with close-on-exec ends; false on failure. fds[0] reads, fds[1] writes.
bool makePipe(int fds[2]);

void closeDescriptor(int fd);

}  // namespace host::platform
