#include "control-socket/host-listener.h"

#include <map>
#include <memory>
#include <system_error>

#include "child/death-log.h"
#include "control-socket/host-connection.h"
#include "control-socket/host-requests.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/sockets.h"
#include "support/event-loop.h"

namespace host {
namespace {

// A process out of descriptors cannot take the waiting client, which keeps the listener ready:
// accepting pauses for this long instead of spinning.
constexpr double ACCEPT_PAUSE_SECONDS = 0.1;

int listenerFd = -1;
std::unique_ptr<loop::FdSource> hostListener;
loop::Timer acceptPause;
std::map<int, std::shared_ptr<HostConnection>> hostConnections;

void forget(int fd, const HostConnection* connection) {
    auto found = hostConnections.find(fd);
    if (found != hostConnections.end() && found->second.get() == connection) hostConnections.erase(found);
}

void pauseAccepting() {
    hostListener->suspend();
    acceptPause.startOnce(ACCEPT_PAUSE_SECONDS, [] { hostListener->resume(); });
}

void acceptOneClient() {
    platform::Accepted accepted = platform::acceptOne(listenerFd);
    if (accepted.outOfDescriptors) pauseAccepting();
    if (accepted.fd < 0) return;
    const int fd = accepted.fd;
    auto connection = std::make_shared<HostConnection>(fd, replyTo);
    hostConnections[fd] = connection;
    connection->start([fd, raw = connection.get()] { forget(fd, raw); });
}

bool startListening(const std::filesystem::path& socketPath) {
    platform::makePrivateFolders(socketPath.parent_path());
    platform::removeDeadSocket(socketPath.string());
    listenerFd = platform::listenAt(socketPath.string(), HOST_LISTEN_BACKLOG);
    if (listenerFd < 0) return false;
    hostListener = std::make_unique<loop::FdSource>(listenerFd, loop::FdSource::Condition::readable, acceptOneClient);
    hostListener->resume();
    return true;
}

}  // namespace

bool listenForTheHost(const std::filesystem::path& socketPath) {
    if (hostListener) return true;
    const bool listening = startListening(socketPath);
    append({{"kind", "host-listening"}, {"socket", socketPath.string()}, {"listening", listening}},
           deathLog(platform::ownPid()));
    return listening;
}

}  // namespace host
