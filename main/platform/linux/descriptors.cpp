#include "platform/descriptors.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "support/event-loop.h"

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

namespace {

ssize_t writeVector(int fd, const std::string_view* pieces, std::size_t count) {
    iovec vector[WRITTEN_PIECES];
    count = std::min(count, WRITTEN_PIECES);
    for (std::size_t i = 0; i < count; ++i) vector[i] = {const_cast<char*>(pieces[i].data()), pieces[i].size()};
    return ::writev(fd, vector, static_cast<int>(count));
}

}  // namespace

Written writeSomeOf(int fd, const std::vector<std::string_view>& pieces) {
    std::size_t size = 0;
    for (std::size_t i = 0; i < std::min(pieces.size(), WRITTEN_PIECES); ++i) size += pieces[i].size();
    if (size == 0) return Written{};
    for (;;) {
        ssize_t written = writeVector(fd, pieces.data(), pieces.size());
        if (written > 0) return Written{static_cast<std::size_t>(written), false, std::nullopt};
        if (written == 0 || wouldBlock()) return Written{0, true, std::nullopt};
        if (errno != EINTR) return Written{0, false, std::string(std::strerror(errno))};
    }
}

bool writeAllOf(int fd, std::vector<std::string_view> pieces) {
    std::erase_if(pieces, [](std::string_view piece) { return piece.empty(); });
    for (std::size_t first = 0; first < pieces.size();) {
        ssize_t written = writeVector(fd, pieces.data() + first, pieces.size() - first);
        if (written < 0) {
            if (errno == EINTR || (wouldBlock() && awaitReady(fd, POLLOUT))) continue;
            return false;
        }
        for (auto left = static_cast<std::size_t>(written); left > 0;) {
            const std::size_t taken = std::min(left, pieces[first].size());
            pieces[first].remove_prefix(taken);
            left -= taken;
            if (pieces[first].empty()) ++first;
        }
    }
    return true;
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

// O_APPEND writes each batch of lines at the end in one piece, even with other writers.
std::unique_ptr<LogFile> LogFile::open(const std::filesystem::path& file, Opened* why) {
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *why = errno == ELOOP ? Opened::symbolicLink : Opened::failed;
        return nullptr;
    }
    *why = Opened::opened;
    return std::unique_ptr<LogFile>(new LogFile(fd, file));
}

LogFile::LogFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {
    struct stat opened {};
    if (fstat(fd_, &opened) == 0) device_ = opened.st_dev, inode_ = opened.st_ino;
}

LogFile::~LogFile() { ::close(fd_); }

bool LogFile::write(std::string_view bytes) { return writeAll(fd_, bytes); }

bool LogFile::inPlace() const {
    struct stat there {};
    return lstat(path_.c_str(), &there) == 0 && there.st_dev == device_ && there.st_ino == inode_;
}

// What waits for the end of the running callback (log lines, the shell's input) goes first.
void exitNow(int status) {
    loop::doTheWorkThatWaits();
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
