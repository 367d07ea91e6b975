#include "platform/descriptors.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace host::platform {
namespace {

// How long an exiting process waits for its last messages to reach standard error.
constexpr double EXIT_FLUSH_SECONDS = 1;

bool wouldBlock() { return errno == EAGAIN || errno == EWOULDBLOCK; }

bool awaitReady(int fd, short events) {
    pollfd watched{fd, events, 0};
    int ready;
    do ready = ::poll(&watched, 1, -1);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

}  // namespace

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
        } else if (written < 0 && (errno == EINTR || (wouldBlock() && awaitReady(fd, POLLOUT)))) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

std::size_t readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t count = ::read(fd, buffer, size);
        if (count >= 0) return static_cast<std::size_t>(count);
        if (errno == EINTR || (wouldBlock() && awaitReady(fd, POLLIN))) continue;
        return 0;
    }
}

Written writeSome(int fd, std::string_view bytes) {
    for (;;) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written > 0) return Written{static_cast<std::size_t>(written), false, std::nullopt};
        if (written == 0 || wouldBlock()) return Written{0, true, std::nullopt};
        if (errno != EINTR) return Written{0, false, std::string(std::strerror(errno))};
    }
}

void makeNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::optional<std::size_t> unreadBytes(int fd) {
    int count = 0;
    if (ioctl(fd, FIONREAD, &count) != 0 || count < 0) return std::nullopt;
    return static_cast<std::size_t>(count);
}

Appended appendToFile(const std::filesystem::path& file, std::string_view bytes) {
    // O_APPEND writes the line at the end in one piece, even with other writers.
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return errno == ELOOP ? Appended::symbolicLink : Appended::failed;
    bool written = writeAll(fd, bytes);
    ::close(fd);
    return written ? Appended::written : Appended::failed;
}

void exitNow(int status) {
    flushTheStandardError(EXIT_FLUSH_SECONDS);
    _exit(status);
}

void restoreTheDefaultTermination() {
    std::signal(SIGTERM, SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
}

}  // namespace host::platform
