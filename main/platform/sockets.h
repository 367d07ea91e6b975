// Unix-domain sockets.
#pragma once

#include <string>

namespace host::platform {

// Removes a socket file that nobody listens on. Only a socket file is ever removed, and only
// when a connection is refused: a live socket, or any other kind of file, stays.
void removeDeadSocket(const std::string& path);

}  // namespace host::platform
