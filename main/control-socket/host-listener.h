// The host's control socket: a Unix-domain stream socket on which local processes send one JSON
// request per line and read one JSON reply per line, in order. Opened once per run, the first
// time the shell's menu is drawn in a hosted host, and kept open for the rest of the process.
// Main thread only.
#pragma once

#include <filesystem>

namespace host {

inline constexpr int HOST_LISTEN_BACKLOG = 8;

// Creates the socket's folder, clears a dead socket at `socketPath`, binds, listens and accepts
// clients on the main loop; true when listening. Writes the "host-listening" record to the
// host's own log. Once listening, later calls do nothing and return true.
bool listenForTheHost(const std::filesystem::path& socketPath);

}  // namespace host
