#include "platform/sockets.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host::platform {
namespace {

// The address of `path`; false when it does not fit with its terminating zero.
bool addressOf(const std::string& path, sockaddr_un& address) {
    if (path.size() > longestSocketPath() || path.find('\0') != std::string::npos) return false;
    address = {};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

sockaddr* generic(sockaddr_un& address) { return reinterpret_cast<sockaddr*>(&address); }

}  // namespace

std::size_t longestSocketPath() { return sizeof(sockaddr_un::sun_path) - 1; }

// The probe never waits: a live listener whose backlog is full answers a non-blocking connect
// with EAGAIN at once, where a blocking one would wait for it for good.
void removeDeadSocket(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return;
    sockaddr_un address;
    if (!addressOf(path, address)) return;
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) return;
    bool refused = connect(probe, generic(address), sizeof address) != 0 && errno == ECONNREFUSED;
    close(probe);
    if (refused) unlink(path.c_str());
}

int listenAt(const std::string& path, int backlog) {
    sockaddr_un address;
    if (!addressOf(path, address)) return -1;
    // Close-on-exec keeps the shell from holding the socket open after the host has gone.
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // The socket file takes the socket's mode (less the umask) when it is bound: the owner alone
    // may connect, whatever the umask.
    if (fchmod(fd, 0600) != 0 || bind(fd, generic(address), sizeof address) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

Accepted acceptOne(int listener) {
    for (;;) {
        int fd = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) return Accepted{fd, false};
        if (errno == EINTR) continue;
        return Accepted{-1, errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM};
    }
}

Received receiveSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t count = recv(fd, buffer, size, MSG_DONTWAIT);
        if (count > 0) return Received{static_cast<std::size_t>(count), false, false, false};
        if (count == 0) return Received{0, false, true, false};
        if (errno == EINTR) continue;
        const bool empty = errno == EAGAIN || errno == EWOULDBLOCK;
        return Received{0, empty, false, !empty};
    }
}

Written sendSome(int fd, std::string_view bytes) {
    for (;;) {
        ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return Written{static_cast<std::size_t>(sent), sent == 0, std::nullopt};
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Written{0, true, std::nullopt};
        return Written{0, false, std::string(std::strerror(errno))};
    }
}

void closeSocket(int fd) { close(fd); }

}  // namespace host::platform
