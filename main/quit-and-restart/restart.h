// Relaunching the whole host when its shell asks for it (status 75) or a long-lived shell
// crashed. Never returns.
#pragma once

#include <string>
#include <vector>

namespace host {

inline constexpr int RESTART_STATUS = 75;

struct RestartSettings {
    std::string identity;                 // also the user service's name, less ".service"
    std::string executablePath;           // the running executable
    std::string argv0;                    // as this host was started
    std::vector<std::string> commandLine; // the arguments after argv[0]
};
void configureTheRestart(RestartSettings settings);

// The new instance's arguments: ours, plus "--restart-witness-after" behind "--witness-wrapper".
std::vector<std::string> relaunchArguments(const std::vector<std::string>& commandLine);

// As a systemd user service: "systemctl --user restart" and exit 75. Otherwise a detached new
// instance of this executable, then exit 0 (71 when it cannot start).
[[noreturn]] void restart();

}  // namespace host
