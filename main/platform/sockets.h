// Unix-domain stream sockets: the host's control socket and the probe for dead socket files.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/descriptors.h"

namespace host::platform {

// Removes a socket file that nobody listens on. Only a socket file is ever removed, and only
// when a connection is refused: a live socket, busy or not, or any other kind of file, stays.
// Never blocks.
void removeDeadSocket(const std::string& path);

// The longest path a socket address holds, its terminating zero not counted.
std::size_t longestSocketPath();

// A stream socket listening at `path`, non-blocking and closed on exec, its file for the owner
// alone (0600); -1 when the path does not fit the address or holds a zero byte, or when socket,
// bind or listen fails.
int listenAt(const std::string& path, int backlog);

struct Accepted {
    int fd = -1;                    // -1 when nothing was accepted
    bool outOfDescriptors = false;  // the process or the system has no descriptor left
};
// One waiting connection, non-blocking and closed on exec; its peer address is not asked for.
Accepted acceptOne(int listener);

// One non-blocking receive.
struct Received {
    std::size_t bytes = 0;
    bool empty = false;  // nothing to read now
    bool ended = false;  // the peer closed its end (bytes is 0)
    bool failed = false;
};
Received receiveSome(int fd, char* buffer, std::size_t size);

// One non-blocking send; a peer that has gone is a failure, never SIGPIPE.
Written sendSome(int fd, std::string_view bytes);

void closeSocket(int fd);

}  // namespace host::platform
