// Events from the scripted desktop: the bytes arrive on a fresh connection after the handshake,
// then a ping; the host has handled them all once the ping's answer is there.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/scripted-desktop.h"
#include "support/event-loop.h"

namespace {

using namespace host::platform;

DesktopHandlers quietHandlers() {
    DesktopHandlers handlers;
    handlers.getURL = [](const std::string&, const CurrentEvent&) {};
    handlers.openURLs = [](const std::vector<std::string>&, const std::optional<CurrentEvent>&) {};
    handlers.servicesRequest = [](const std::vector<std::string>&, const std::optional<std::string>&) {
        return std::optional<std::string>();
    };
    handlers.shouldTerminate = [](const std::optional<CurrentEvent>&) { return TerminateReply::later; };
    handlers.reopen = [] {};
    handlers.displayReconfigured = [](std::uint32_t) {};
    return handlers;
}

void sendAll(int fd, const std::string& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t count = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return;
        sent += static_cast<std::size_t>(count);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return 0;
    const std::string end = R"({"event": "ping", "id": "end of input"})";
    sendAll(ends[1], "{\"event\": \"ready\", \"version\": 1}\n" +
                         std::string(reinterpret_cast<const char*>(data), size) + "\n" + end + "\n");
    ScriptedDesktop desktop(HostIdentity{4242, "app.example.fuzz", "/Apps/Fuzz.app"});
    desktop.setHandlers(quietHandlers());
    std::string why, heard;
    if (desktop.connect(ends[0], 1, &why)) {
        bool late = false;
        host::loop::Timer patience;
        patience.startOnce(5, [&] { late = true; });
        host::loop::runTheLoopUntil([&] {
            char buffer[65536];
            for (ssize_t count; (count = recv(ends[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
                heard.append(buffer, static_cast<std::size_t>(count));
            }
            return late || !desktop.connected() || heard.find("end of input") != std::string::npos;
        });
    }
    close(ends[1]);
    return 0;
}
