// Choosing the desktop at start-up.
#pragma once

#include <string>

namespace host::platform {

// The environment variable that names the scripted desktop's socket.
inline constexpr const char* DESKTOP_SOCKET_VARIABLE = "MENU_BAR_DESKTOP";

// Connects to the desktop at `socketPath` when one is named (not null, not empty); otherwise,
// or when it cannot be used, the host stays headless, saying why on standard error.
void connectTheDesktop(const char* socketPath, const std::string& identity, const std::string& bundlePath);

}  // namespace host::platform
