#include "platform/desktop.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/descriptors.h"
#include "platform/desktop-connection.h"
#include "platform/linux/scripted-desktop.h"

namespace host::platform {
namespace {

std::unique_ptr<Desktop>& current() {
    static std::unique_ptr<Desktop> theDesktop;
    return theDesktop;
}

// A connected socket, or -1 with the reason.
int connectedSocket(const std::string& path, std::string* why) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) {
        *why = "the socket path is longer than " + std::to_string(sizeof address.sun_path - 1) + " bytes";
        return -1;
    }
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size());
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        *why = path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

constexpr double HANDSHAKE_SECONDS = 5;

}  // namespace

Desktop& desktop() {
    if (!current()) current() = std::make_unique<ScriptedDesktop>(HostIdentity{getpid(), "", ""});
    return *current();
}

std::unique_ptr<Desktop> useTheDesktop(std::unique_ptr<Desktop> replacement) {
    std::unique_ptr<Desktop> previous = std::move(current());
    current() = std::move(replacement);
    return previous;
}

void connectTheDesktop(const char* socketPath, const std::string& identity, const std::string& bundlePath) {
    auto scripted = std::make_unique<ScriptedDesktop>(HostIdentity{getpid(), identity, bundlePath});
    if (socketPath && *socketPath) {
        std::string why;
        int fd = connectedSocket(socketPath, &why);
        if (fd < 0 || !scripted->connect(fd, HANDSHAKE_SECONDS, &why)) say("desktop unavailable: " + why + "\n");
    }
    useTheDesktop(std::move(scripted));
}

}  // namespace host::platform
