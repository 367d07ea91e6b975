#include "host-process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace console {
namespace {

const std::string SOCKET_VARIABLE = "MENU_BAR_DESKTOP";
constexpr int NOT_A_CHILD = 0xff00;  // reads as exit status 255

std::vector<std::string> environmentWith(const std::string& socketPath) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, (SOCKET_VARIABLE + "=").c_str(), SOCKET_VARIABLE.size() + 1) != 0)
            entries.emplace_back(*entry);
    }
    entries.push_back(SOCKET_VARIABLE + "=" + socketPath);
    return entries;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Its own group, no blocked signals, default dispositions, and no terminal input: standard
// input is the console's.
int prepare(posix_spawnattr_t& attributes, posix_spawn_file_actions_t& actions) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
    if (int error = posix_spawnattr_setflags(&attributes, flags)) return error;
    if (int error = posix_spawnattr_setsigmask(&attributes, &none)) return error;
    if (int error = posix_spawnattr_setsigdefault(&attributes, &all)) return error;
    if (int error = posix_spawnattr_setpgroup(&attributes, 0)) return error;
    return posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
}

}  // namespace

Started startHost(const std::vector<std::string>& command, const std::string& socketPath, bool captureOutput) {
    if (command.empty()) return {-1, "no host command", -1};
    int pipeEnds[2] = {-1, -1};
    if (captureOutput && pipe2(pipeEnds, O_CLOEXEC) != 0) return {-1, std::string("pipe: ") + std::strerror(errno), -1};
    std::vector<std::string> arguments = command;
    std::vector<std::string> environment = environmentWith(socketPath);
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
    pid_t pid = -1;
    int error = prepare(attributes, actions);
    if (error == 0 && captureOutput) error = posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    if (error == 0 && captureOutput) error = posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    if (error == 0)
        error = posix_spawnp(&pid, arguments[0].c_str(), &actions, &attributes,
                             pointersTo(arguments).data(), pointersTo(environment).data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (captureOutput) close(pipeEnds[1]);
    if (error != 0) {
        if (captureOutput) close(pipeEnds[0]);
        return {-1, "cannot start " + command[0] + ": " + std::strerror(error), -1};
    }
    return {pid, "", pipeEnds[0]};
}

std::optional<int> endedHost(pid_t pid) {
    int raw = 0;
    pid_t found;
    while ((found = waitpid(pid, &raw, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (found == pid) return raw;
    if (found < 0) return NOT_A_CHILD;
    return std::nullopt;
}

int stopHost(pid_t pid, double graceSeconds) {
    kill(pid, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(graceSeconds);
    while (std::chrono::steady_clock::now() < deadline) {
        if (auto status = endedHost(pid)) return *status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);  // in case it left its group
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0) {
        if (errno != EINTR) return NOT_A_CHILD;
    }
    return raw;
}

int exitCodeOf(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return WEXITSTATUS(waitStatus);
}

std::string statusText(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        int signalNumber = WTERMSIG(waitStatus);
        return "ended by signal " + std::to_string(signalNumber) + " (" + strsignal(signalNumber) + ")";
    }
    return "exited with status " + std::to_string(WEXITSTATUS(waitStatus));
}

}  // namespace console
