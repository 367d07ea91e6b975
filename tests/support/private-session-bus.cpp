#include "private-session-bus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

namespace testing_support {
namespace {

constexpr int STARTUP_LIMIT_MS = 30000;

const char* CONFIGURATION = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

// The line the daemon prints once it listens.
std::string lineFrom(int fd) {
    std::string line;
    while (true) {
        pollfd readable{fd, POLLIN, 0};
        char c = 0;
        if (poll(&readable, 1, STARTUP_LIMIT_MS) <= 0 || read(fd, &c, 1) != 1) return "";
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
    const fs::path configuration = folder_.path() / "bus.conf";
    writeText(configuration, CONFIGURATION);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> words{"dbus-daemon", "--config-file=" + configuration.string(), "--nofork", "--nopidfile",
                                   "--print-address=1"};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(fds[1], 1);
        dup2(open("/dev/null", O_WRONLY), 2);  // its notes on resource limits are no test's business
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp("dbus-daemon", argv.data());
        _exit(127);
    }
    close(fds[1]);
    if (pid_ > 0) address_ = lineFrom(fds[0]);
    close(fds[0]);
}

PrivateSessionBus::~PrivateSessionBus() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
}

}  // namespace testing_support
