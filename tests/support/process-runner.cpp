#include "process-runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace testing_support {
namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

[[noreturn]] void becomeTheProgram(const RunRequest& request, int in, int out, int err) {
    setpgid(0, 0);  // its own group, so everything it leaves behind can be killed at once
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) signal(s, SIG_DFL);
    if (!request.directory.empty() && chdir(request.directory.c_str()) != 0) _exit(127);
    std::vector<std::string> argv{request.argv0.empty() ? request.program : request.argv0};
    argv.insert(argv.end(), request.arguments.begin(), request.arguments.end());
    std::vector<std::string> envp;
    for (const auto& [name, value] : request.environment) envp.push_back(name + "=" + value);
    execve(request.program.c_str(), pointersTo(argv).data(), pointersTo(envp).data());
    _exit(127);
}

// A program may end before it read its input; writing to it then fails with EPIPE instead of
// raising SIGPIPE, which would end the test. The signal is blocked in this thread for the write
// and, when the write raised it, taken from the pending ones before the mask comes back.
ssize_t writeWithoutBrokenPipe(int fd, const char* bytes, std::size_t size) {
    sigset_t brokenPipe, previous;
    sigemptyset(&brokenPipe);
    sigaddset(&brokenPipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &brokenPipe, &previous);
    const ssize_t written = write(fd, bytes, size);
    const int error = errno;
    if (written < 0 && error == EPIPE) {
        const timespec now{0, 0};
        sigtimedwait(&brokenPipe, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = error;
    return written;
}

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

}  // namespace

RunResult runToTheEnd(const RunRequest& request) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) return {};
    pid_t pid = fork();
    if (pid == 0) becomeTheProgram(request, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    RunResult result;
    std::size_t fed = 0;
    int feed = in[1];
    fcntl(feed, F_SETFL, O_NONBLOCK);
    if (request.input.empty()) close(feed), feed = -1;
    auto deadline = std::chrono::steady_clock::now() + request.limit;
    int open = 2;
    while (open > 0) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {feed, POLLOUT, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(-pid, SIGKILL);
            break;
        }
        if (poll(fds, 3, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                close(fds[i].fd);
                (i == 0 ? out[0] : err[0]) = -1;
                --open;
            }
        }
        if (feed >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t n = writeWithoutBrokenPipe(feed, request.input.data() + fed, request.input.size() - fed);
            if (n > 0) fed += static_cast<std::size_t>(n);
            if (n < 0 && errno != EAGAIN && errno != EINTR) fed = request.input.size();
            if (fed == request.input.size()) close(feed), feed = -1;
        }
    }
    if (feed >= 0) close(feed);
    if (out[0] >= 0) close(out[0]);
    if (err[0] >= 0) close(err[0]);
    int raw = 0;
    waitpid(pid, &raw, 0);
    kill(-pid, SIGKILL);
    result.status = statusOf(raw);
    return result;
}

}  // namespace testing_support

namespace testing_support {
namespace {

constexpr int ANNOUNCEMENT_LIMIT_MS = 30000;

std::string lineFrom(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ANNOUNCEMENT_LIMIT_MS);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        char c = 0;
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0 || read(fd, &c, 1) != 1) return "";
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

StartedServer startAServer(std::vector<std::string> words, int announcement) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return {};
    std::vector<char*> argv = pointersTo(words);
    StartedServer server;
    const pid_t parent = getpid();
    server.pid = fork();
    if (server.pid == 0) {
        // The server ends with the test process, also when that one crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(0);
        const int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 1);
        dup2(quiet, 2);
        dup2(fds[1], announcement);  // dup2 clears close-on-exec
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (server.pid > 0) server.announced = lineFrom(fds[0]);
    close(fds[0]);
    if (server.announced.empty()) {
        endTheServer(server.pid);
        server.pid = -1;
    }
    return server;
}

void endTheServer(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
}

}  // namespace testing_support
