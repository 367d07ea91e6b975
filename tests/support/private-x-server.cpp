#include "private-x-server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace testing_support {
namespace {

constexpr int DISPLAY_FD = 3;
constexpr int STARTUP_LIMIT_MS = 30000;

// The display number Xvfb writes once it listens: digits and a newline.
std::string displayNumberFrom(int fd) {
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(STARTUP_LIMIT_MS);
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return "";
        char c = 0;
        if (read(fd, &c, 1) != 1) return "";
        if (c == '\n') return number;
        number += c;
    }
}

}  // namespace

PrivateXServer::PrivateXServer(const std::string& screen) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> words{"Xvfb", "-displayfd", std::to_string(DISPLAY_FD), "-screen", "0", screen,
                                   "-nolisten", "tcp", "-noreset"};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], DISPLAY_FD);  // dup2 clears close-on-exec
        int quiet = open("/dev/null", O_RDWR);
        dup2(quiet, 1);
        dup2(quiet, 2);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(fds[1]);
    const std::string number = pid_ > 0 ? displayNumberFrom(fds[0]) : "";
    close(fds[0]);
    if (number.empty()) end();
    else display_ = ":" + number;
}

PrivateXServer::~PrivateXServer() { end(); }

void PrivateXServer::end() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace testing_support
