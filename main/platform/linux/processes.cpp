#include "platform/processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <set>
#include <string_view>
#include <system_error>

namespace host::platform {
namespace {

// --- reading /proc ---

// /proc files report a size of 0, so they are read to their end.
std::optional<std::string> readProcFile(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return n == 0 ? std::optional(text) : std::nullopt;
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

template <typename Number>
std::optional<Number> parseNumber(std::string_view text, int base = 10) {
    Number value{};
    auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (failure != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitOn(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    while (!text.empty()) {
        auto at = text.find(separator);
        auto part = text.substr(0, at);
        if (!part.empty()) parts.push_back(part);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return parts;
}

struct StatFields {
    char state = '?';
    std::int32_t parentPid = 0;
    unsigned long long startTime = 0;  // clock ticks after boot; with the pid, names one process
};

// A /proc/<pid>/stat line. The command name in field 2 may hold spaces and ')', so the fields
// are counted from the last ')'.
std::optional<StatFields> parseStat(std::string_view line) {
    auto close = line.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    auto fields = splitOn(line.substr(close + 1), ' ');
    // After the name: state is field 3, the parent field 4, the start time field 22.
    if (fields.size() < 20 || fields[0].size() != 1) return std::nullopt;
    auto parent = parseNumber<std::int32_t>(fields[1]);
    auto start = parseNumber<unsigned long long>(fields[19]);
    if (!parent || !start) return std::nullopt;
    return StatFields{fields[0][0], *parent, *start};
}

std::optional<StatFields> statOf(std::int32_t pid) {
    auto text = readProcFile("/proc/" + std::to_string(pid) + "/stat");
    return text ? parseStat(*text) : std::nullopt;
}

bool hasEndedState(char state) { return state == 'Z' || state == 'X'; }

// Every process in /proc with its parent, in ascending pid order.
std::vector<std::pair<std::int32_t, std::int32_t>> processesWithParents() {
    std::vector<std::pair<std::int32_t, std::int32_t>> table;
    DIR* proc = opendir("/proc");
    if (!proc) return table;
    while (dirent* entry = readdir(proc)) {
        auto pid = parseNumber<std::int32_t>(entry->d_name);
        if (!pid) continue;
        // A process may end between the listing and the read; it is simply left out.
        if (auto stat = statOf(*pid)) table.emplace_back(*pid, stat->parentPid);
    }
    closedir(proc);
    std::sort(table.begin(), table.end());
    return table;
}

// --- pidfds ---

int openPidfd(std::int32_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0U));
}

bool sendThroughPidfd(int pidfd, int signalNumber) {
    return syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0U) == 0;
}

// A pidfd becomes readable when its process ends.
bool isReadableNow(int fd) {
    pollfd poller{fd, POLLIN, 0};
    int ready;
    do ready = poll(&poller, 1, 0);
    while (ready < 0 && errno == EINTR);
    return ready == 1 && (poller.revents & (POLLIN | POLLHUP)) != 0;
}

std::optional<ExitStatus> exitStatusOf(const siginfo_t& info) {
    if (info.si_pid == 0) return std::nullopt;  // WNOHANG: still running
    switch (info.si_code) {
    case CLD_EXITED: return ExitStatus{false, info.si_status};
    case CLD_KILLED:
    case CLD_DUMPED: return ExitStatus{true, info.si_status};
    default: return std::nullopt;
    }
}

// --- the processes ---

// Signals and end-watching go through the pidfd when the kernel gave one; each kind of process
// supplies its own way without it.
class PidfdProcess : public Process {
public:
    PidfdProcess(std::int32_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
    ~PidfdProcess() override { closeDescriptor(pidfd_); }
    PidfdProcess(const PidfdProcess&) = delete;
    PidfdProcess& operator=(const PidfdProcess&) = delete;

    std::int32_t pid() const override { return pid_; }
    int exitFd() const override { return pidfd_; }
    bool running() override { return !hasEnded(); }
    bool signal(int signalNumber) override {
        if (hasEnded()) return false;
        if (pidfd_ >= 0) return sendThroughPidfd(pidfd_, signalNumber);
        return sendWithoutPidfd(signalNumber);
    }

protected:
    virtual bool hasEnded() = 0;
    virtual bool sendWithoutPidfd(int signalNumber) = 0;

    const std::int32_t pid_;
    const int pidfd_;
};

// A child of this host. Until it is reaped its pid cannot be reused, so without a pidfd the
// pid itself is safe to signal and wait for.
class ChildProcess final : public PidfdProcess {
public:
    using PidfdProcess::PidfdProcess;

    std::optional<ExitStatus> reap() override {
        if (status_) return status_;
        siginfo_t info{};
        // By pidfd when there is one: if something else reaped the child and its pid came back
        // as a new child, waiting by pid would take the wrong one.
        idtype_t kind = pidfd_ >= 0 ? P_PIDFD : P_PID;
        auto id = static_cast<id_t>(pidfd_ >= 0 ? pidfd_ : pid_);
        int waited;
        do waited = waitid(kind, id, &info, WEXITED | WNOHANG);
        while (waited < 0 && errno == EINTR);
        if (waited == 0) status_ = exitStatusOf(info);
        return status_;
    }

private:
    bool hasEnded() override {
        if (status_) return true;
        if (pidfd_ >= 0) return isReadableNow(pidfd_);
        siginfo_t info{};
        int waited = waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        return waited != 0 || info.si_pid != 0;
    }
    bool sendWithoutPidfd(int signalNumber) override { return kill(pid_, signalNumber) == 0; }

    std::optional<ExitStatus> status_;
};

// A process this host did not start: it can be watched and signalled, never reaped. Without a
// pidfd it is named by its pid and start time, checked before each signal (a pid reused in the
// instant between the check and the kill is the one risk left).
class HeldProcess final : public PidfdProcess {
public:
    HeldProcess(std::int32_t pid, int pidfd, unsigned long long startTime)
        : PidfdProcess(pid, pidfd), startTime_(startTime) {}

    std::optional<ExitStatus> reap() override { return std::nullopt; }

private:
    bool hasEnded() override {
        if (pidfd_ >= 0) return isReadableNow(pidfd_);
        auto stat = statOf(pid_);
        return !stat || stat->startTime != startTime_ || hasEndedState(stat->state);
    }
    bool sendWithoutPidfd(int signalNumber) override { return kill(pid_, signalNumber) == 0; }

    const unsigned long long startTime_;
};

// --- spawning ---

// posix_spawn's attribute and file-action objects, destroyed on every path.
struct SpawnObjects {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    int failure = 0;
    SpawnObjects() {
        failure = posix_spawnattr_init(&attributes);
        if (failure == 0 && (failure = posix_spawn_file_actions_init(&actions)) != 0)
            posix_spawnattr_destroy(&attributes);
    }
    ~SpawnObjects() {
        if (failure != 0) return;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnObjects(const SpawnObjects&) = delete;
    SpawnObjects& operator=(const SpawnObjects&) = delete;
};

// Every signal but SIGKILL and SIGSTOP. sigaddset refuses glibc's internal signals (32 and 33),
// and glibc's posix_spawn leaves those ignored in the child unless they are in this set; so the
// first 64 bits (signals 1 to 64 on Linux, whatever the word order) are set directly.
sigset_t everyResettableSignal() {
    static_assert(sizeof(sigset_t) >= sizeof(std::uint64_t));
    sigset_t signals;
    sigemptyset(&signals);
    const std::uint64_t everyBit = ~std::uint64_t{0};
    std::memcpy(&signals, &everyBit, sizeof everyBit);
    sigdelset(&signals, SIGKILL);
    sigdelset(&signals, SIGSTOP);
    return signals;
}

// The host ignores and blocks the signals it handles; the child must start clean.
int startWithCleanSignals(posix_spawnattr_t* attributes, bool newSession) {
    sigset_t none;
    sigemptyset(&none);
    sigset_t everything = everyResettableSignal();
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (newSession) flags |= POSIX_SPAWN_SETSID;
    int failure = posix_spawnattr_setflags(attributes, flags);
    if (failure == 0) failure = posix_spawnattr_setsigmask(attributes, &none);
    if (failure == 0) failure = posix_spawnattr_setsigdefault(attributes, &everything);
    return failure;
}

// A source descriptor that is itself 0, 1 or 2 could be overwritten by the other redirection
// before it is used, so such a descriptor is first copied above them.
class SourceDescriptor {
public:
    SourceDescriptor(int fd, int target) : fd_(fd) {
        if (fd < 0 || fd > STDERR_FILENO || fd == target) return;
        fd_ = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        copied_ = fd_ >= 0;
        if (!copied_) failure_ = errno;
    }
    ~SourceDescriptor() {
        if (copied_) closeDescriptor(fd_);
    }
    SourceDescriptor(const SourceDescriptor&) = delete;
    SourceDescriptor& operator=(const SourceDescriptor&) = delete;
    int fd() const { return fd_; }
    int failure() const { return failure_; }

private:
    int fd_;
    bool copied_ = false;
    int failure_ = 0;
};

// adddup2 clears close-on-exec on the target, so only these descriptors reach the child.
int redirectStandardDescriptors(posix_spawn_file_actions_t* actions, int stdinFd, int stdoutFd) {
    int failure = stdinFd >= 0
        ? posix_spawn_file_actions_adddup2(actions, stdinFd, STDIN_FILENO)
        : posix_spawn_file_actions_addopen(actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (failure == 0 && stdoutFd >= 0)
        failure = posix_spawn_file_actions_adddup2(actions, stdoutFd, STDOUT_FILENO);
    return failure;
}

std::vector<std::string> environmentEntries(const std::map<std::string, std::string>& variables) {
    std::vector<std::string> entries;
    entries.reserve(variables.size());
    for (const auto& [name, value] : variables) entries.push_back(name + "=" + value);
    return entries;
}

// The char* array exec wants; it points into `strings`, which must outlive it.
std::vector<char*> nullTerminated(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    pointers.reserve(strings.size() + 1);
    for (auto& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// glibc's posix_spawn waits for the exec, so a missing or unexecutable program comes back
// here as the error number.
int spawnWith(const SpawnRequest& request, pid_t* pid) {
    SpawnObjects objects;
    if (objects.failure != 0) return objects.failure;
    SourceDescriptor input(request.stdinFd, STDIN_FILENO);
    SourceDescriptor output(request.stdoutFd, STDOUT_FILENO);
    if (input.failure() != 0) return input.failure();
    if (output.failure() != 0) return output.failure();
    int failure = startWithCleanSignals(&objects.attributes, request.newSession);
    if (failure != 0) return failure;
    failure = redirectStandardDescriptors(&objects.actions, input.fd(), output.fd());
    if (failure != 0) return failure;
    std::vector<std::string> arguments = request.arguments;
    if (arguments.empty()) arguments.push_back(request.program);
    std::vector<std::string> environment = environmentEntries(request.environment);
    auto argv = nullTerminated(arguments);
    auto envp = nullTerminated(environment);
    return posix_spawn(pid, request.program.c_str(), &objects.actions, &objects.attributes,
                       argv.data(), envp.data());
}

// --- cgroups ---

// The path of the systemd hierarchy: its named v1 line when there is one, else the v2 line.
std::optional<std::string_view> systemdCgroupPath(std::string_view text) {
    std::optional<std::string_view> unified;
    for (auto line : splitOn(text, '\n')) {
        if (line.starts_with("0::")) unified = line.substr(3);
        auto named = line.find(":name=systemd:");
        if (named != std::string_view::npos) return line.substr(named + 14);
    }
    return unified;
}

bool isServiceUnit(std::string_view name) {
    return name.size() > 8 && name.ends_with(".service");
}

bool isUserManagerUnit(std::string_view name) {
    if (!name.starts_with("user@") || !name.ends_with(".service")) return false;
    auto uid = name.substr(5, name.size() - 5 - 8);
    return !uid.empty() && parseNumber<unsigned>(uid).has_value();
}

}  // namespace

std::unique_ptr<Process> spawnProcess(const SpawnRequest& request, std::string* error) {
    pid_t pid = 0;
    if (int failure = spawnWith(request, &pid); failure != 0) {
        if (error) *error = request.program + ": " + std::generic_category().message(failure);
        return nullptr;
    }
    // The child stays a zombie until reaped, so its pid still names it here. Without a pidfd
    // (an old kernel, a filtered syscall) the child is watched through its pid.
    int pidfd = openPidfd(pid);
    return std::make_unique<ChildProcess>(pid, pidfd < 0 ? -1 : pidfd);
}

std::unique_ptr<Process> holdProcess(std::int32_t pid) {
    if (pid <= 0) return nullptr;
    int pidfd = openPidfd(pid);
    if (pidfd >= 0) return std::make_unique<HeldProcess>(pid, pidfd, 0);
    if (errno == ESRCH) return nullptr;
    auto stat = statOf(pid);
    if (!stat || hasEndedState(stat->state)) return nullptr;
    return std::make_unique<HeldProcess>(pid, -1, stat->startTime);
}

std::vector<std::int32_t> descendantsOf(std::int32_t pid) {
    std::map<std::int32_t, std::vector<std::int32_t>> children;
    for (auto [child, parent] : processesWithParents()) children[parent].push_back(child);
    std::vector<std::int32_t> found;
    std::set<std::int32_t> seen{pid};
    std::vector<std::int32_t> stack{pid};
    while (!stack.empty()) {
        std::int32_t parent = stack.back();
        stack.pop_back();
        auto below = children.find(parent);
        if (below == children.end()) continue;
        for (std::int32_t child : below->second) {
            if (!seen.insert(child).second) continue;
            found.push_back(child);
            stack.push_back(child);
        }
    }
    return found;
}

bool catchesSignal(int signalNumber, std::int32_t pid) {
    if (signalNumber < 1 || signalNumber > 64 || pid <= 0) return false;
    auto status = readProcFile("/proc/" + std::to_string(pid) + "/status");
    if (!status) return false;
    for (auto line : splitOn(*status, '\n')) {
        if (!line.starts_with("SigCgt:")) continue;
        line.remove_prefix(7);
        line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
        auto mask = parseNumber<std::uint64_t>(line, 16);
        return mask && ((*mask >> (signalNumber - 1)) & 1U) != 0;
    }
    return false;
}

bool processExists(std::int32_t pid) {
    // kill() with pid 0 or below addresses process groups, never one process.
    if (pid <= 0) return false;
    return kill(pid, 0) == 0 || errno != ESRCH;
}

std::optional<std::string> signalDescription(int signalNumber) {
    if (signalNumber < 1 || signalNumber >= NSIG) return std::nullopt;
    const char* text = strsignal(signalNumber);
    if (!text) return std::nullopt;
    return std::string(text);
}

std::optional<std::string> ownUserServiceName() {
    auto text = readProcFile("/proc/self/cgroup");
    return text ? userServiceNameOfCgroup(*text) : std::nullopt;
}

std::optional<std::string> userServiceNameOfCgroup(const std::string& cgroupFileText) {
    auto path = systemdCgroupPath(cgroupFileText);
    if (!path) return std::nullopt;
    auto units = splitOn(*path, '/');
    if (units.empty() || !isServiceUnit(units.back())) return std::nullopt;
    bool belowUserManager = std::any_of(units.begin(), units.end() - 1, isUserManagerUnit);
    if (!belowUserManager) return std::nullopt;
    return std::string(units.back());
}

bool makePipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

void closeDescriptor(int fd) {
    // After EINTR the descriptor is already released on Linux; closing again could hit a reuse.
    if (fd >= 0) close(fd);
}

ExitStatus waitForTheEnd(Process& child) {
    for (;;) {
        if (auto status = child.reap()) return *status;
        pollfd ended{child.exitFd(), POLLIN, 0};
        if (ended.fd < 0 || poll(&ended, 1, -1) < 0) usleep(20000);  // no pidfd, or interrupted
    }
}

namespace {

// After fork only async-signal-safe calls: the host has other threads.
[[noreturn]] void becomeDetached(const char* program, char* const* argv, char* const* envp, int report) {
    setsid();
    pid_t middle = getpid();
    pid_t grandchild = fork();
    if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
    timespec tick{0, 1000000};
    for (int i = 0; i < 5000 && getppid() == middle; ++i) nanosleep(&tick, nullptr);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int signalNumber = 1; signalNumber < NSIG; ++signalNumber) sigaction(signalNumber, &defaults, nullptr);
    int null = open("/dev/null", O_RDONLY);
    if (null > 0) {
        dup2(null, 0);
        close(null);
    }
    execve(program, argv, envp);
    int failure = errno;
    (void)!write(report, &failure, sizeof failure);
    _exit(127);
}

}  // namespace

bool spawnDetached(const SpawnRequest& request, std::string* error) {
    std::vector<std::string> arguments = request.arguments;
    std::vector<std::string> environment;
    for (const auto& [name, value] : request.environment) environment.push_back(name + "=" + value);
    auto argv = nullTerminated(arguments);
    auto envp = nullTerminated(environment);
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return *error = std::strerror(errno), false;
    pid_t middle = fork();
    if (middle == 0) becomeDetached(request.program.c_str(), argv.data(), envp.data(), report[1]);
    closeDescriptor(report[1]);
    if (middle < 0) {
        closeDescriptor(report[0]);
        return *error = std::strerror(errno), false;
    }
    while (waitpid(middle, nullptr, 0) < 0 && errno == EINTR) {
    }
    int failure = 0;
    ssize_t n;
    while ((n = read(report[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    closeDescriptor(report[0]);
    if (n == static_cast<ssize_t>(sizeof failure)) return *error = request.program + ": " + std::strerror(failure), false;
    return true;
}

}  // namespace host::platform

namespace host::platform {

std::optional<std::string> executablePathOf(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    char path[4096];
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    ssize_t length = readlink(link.c_str(), path, sizeof path);
    // A full buffer may be a cut path.
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return std::nullopt;
    return std::string(path, static_cast<std::size_t>(length));
}

std::optional<std::int32_t> parentPidOf(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    auto stat = statOf(pid);
    if (!stat) return std::nullopt;
    return stat->parentPid;
}

}  // namespace host::platform
