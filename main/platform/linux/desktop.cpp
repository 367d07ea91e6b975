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
#include "platform/freedesktop/portal-window-system.h"
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
constexpr const char* WAYLAND_VARIABLE = "WAYLAND_DISPLAY";

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

struct ChosenWindowSystem {
    std::unique_ptr<WindowSystem> windows;  // none: the headless defaults
    bool display = false;
    std::string said;
};

// X11 wherever a display opens (XWayland too); where only Wayland is there, its hot keys
// through the portal on the session bus; the headless defaults otherwise.
ChosenWindowSystem theWindowSystem(const char* busAddress, bool application) {
    std::string noDisplay;
    if (auto x11 = openTheX11WindowSystem(nullptr, getpid(), &noDisplay)) {
        return {std::move(x11), true, "X display " + displayName()};
    }
    ChosenWindowSystem chosen{nullptr, false, "no X display: " + noDisplay};
    const char* wayland = std::getenv(WAYLAND_VARIABLE);
    if (!application || !busAddress || !wayland || !*wayland) return chosen;
    std::string noPortal;
    chosen.windows = openThePortalWindowSystem(busAddress, &noPortal);
    chosen.said += chosen.windows ? "; Wayland hot keys through the GlobalShortcuts portal" : "; Wayland: " + noPortal;
    return chosen;
}

// The session's desktop when its bus or its display answers; headless otherwise.
void connectTheSessionsDesktop(const DesktopHost& host, DesktopUse use) {
    const bool application = use == DesktopUse::application;
    const char* address = application ? std::getenv(SESSION_BUS_VARIABLE) : nullptr;
    ChosenWindowSystem chosen = theWindowSystem(address, application);
    FreedesktopHost identity{getpid(), application ? host.identity : "", host.bundlePath, host.name};
    auto desktop = std::make_unique<FreedesktopDesktop>(std::move(identity), address ? address : "",
                                                        std::move(chosen.windows));
    const std::string bus = desktop->onTheSessionBus() ? std::string("session bus ") + address
                                                       : "no session bus: " + desktop->sessionBusFailure();
    if (!desktop->onTheSessionBus() && !chosen.display) {
        if (application) say("desktop: headless (" + bus + "; " + chosen.said + ")\n");
        useTheDesktop(headless(host));
        return;
    }
    if (application) {
        say("desktop: freedesktop (" + bus + "; " + chosen.said + ")\n");
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
