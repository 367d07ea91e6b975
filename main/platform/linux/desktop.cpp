#include "platform/desktop.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/descriptors.h"
#include "platform/desktop-connection.h"
#include "platform/freedesktop/application-object.h"
#include "platform/freedesktop/freedesktop-desktop.h"
#include "platform/linux/scripted-desktop.h"
#include "platform/x11/x11-window-system.h"

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
constexpr const char* SESSION_BUS_VARIABLE = "DBUS_SESSION_BUS_ADDRESS";

std::unique_ptr<ScriptedDesktop> headless(const DesktopHost& host) {
    return std::make_unique<ScriptedDesktop>(HostIdentity{getpid(), host.identity, host.bundlePath});
}

void connectTheScriptedDesktop(const char* socketPath, const DesktopHost& host) {
    auto scripted = headless(host);
    std::string why;
    int fd = connectedSocket(socketPath, &why);
    if (fd < 0 || !scripted->connect(fd, HANDSHAKE_SECONDS, &why)) say("desktop unavailable: " + why + "\n");
    useTheDesktop(std::move(scripted));
}

std::string displayName() {
    const char* display = std::getenv("DISPLAY");
    return display && *display ? display : "";
}

// The session's desktop when its bus or its display answers; headless otherwise.
void connectTheSessionsDesktop(const DesktopHost& host, DesktopUse use) {
    const char* address = std::getenv(SESSION_BUS_VARIABLE);
    const bool application = use == DesktopUse::application;
    std::string noDisplay;
    std::unique_ptr<WindowSystem> windows = openTheX11WindowSystem(nullptr, getpid(), &noDisplay);
    const bool hasWindows = windows != nullptr;
    FreedesktopHost identity{getpid(), application ? host.identity : "", host.bundlePath, host.name};
    auto desktop = std::make_unique<FreedesktopDesktop>(std::move(identity), application && address ? address : "",
                                                        hasWindows ? std::move(windows) : headlessWindowSystem());
    const std::string bus = desktop->onTheSessionBus() ? std::string("session bus ") + address
                                                       : "no session bus: " + desktop->sessionBusFailure();
    const std::string display = hasWindows ? "X display " + displayName() : "no X display: " + noDisplay;
    if (!desktop->onTheSessionBus() && !hasWindows) {
        if (application) say("desktop: headless (" + bus + "; " + display + ")\n");
        useTheDesktop(headless(host));
        return;
    }
    if (application) {
        say("desktop: freedesktop (" + bus + "; " + display + ")\n");
        desktop->listenForShutdowns();
    }
    useTheDesktop(std::move(desktop));
}

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

void connectTheDesktop(const char* choice, const DesktopHost& host, DesktopUse use) {
    const bool application = use == DesktopUse::application;
    if (choice && std::string(choice) == HEADLESS_DESKTOP) {
        if (application) say(std::string("desktop: headless (") + DESKTOP_SOCKET_VARIABLE + "=headless)\n");
        useTheDesktop(headless(host));
    } else if (choice && *choice) {
        if (application) say(std::string("desktop: scripted (") + choice + ")\n");
        connectTheScriptedDesktop(choice, host);
    } else {
        connectTheSessionsDesktop(host, use);
    }
}

std::optional<int> handOverToTheRunningInstance(const std::vector<std::string>& arguments) {
    auto* session = dynamic_cast<FreedesktopDesktop*>(current().get());
    if (!session || session->ownTheApplicationName()) return std::nullopt;
    std::string why;
    auto uris = urisOfArguments(arguments, &why);
    if (!uris) {
        say("another instance runs: it takes URLs and files, not \"" + why + "\"\n");
        return 1;
    }
    if (!session->handOver(*uris, &why)) {
        say("another instance runs and did not take the hand-over: " + why + "\n");
        return 1;
    }
    return 0;
}

}  // namespace host::platform
