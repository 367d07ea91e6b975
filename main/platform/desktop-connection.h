// Choosing the desktop at start-up.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace host::platform {

// The environment variable that chooses the desktop: a scripted desktop's socket, or "headless".
inline constexpr const char* DESKTOP_SOCKET_VARIABLE = "MENU_BAR_DESKTOP";
inline constexpr const char* HEADLESS_DESKTOP = "headless";

struct DesktopHost {
    std::string identity;    // the bundle identifier; empty when there is none
    std::string bundlePath;
    std::string name;        // the application's name as the desktop shows it
};

// A tool mode only reads the desktop: nothing is said and no bus name is taken.
enum class DesktopUse { application, tool };

// Chooses the desktop: the scripted desktop at `choice` when it names a socket, headless when
// it is "headless", else the session's own desktop when its bus answers or its display opens,
// and headless without either. The choice is said in one line on standard error
// ("desktop: ..."); a scripted desktop that cannot be used leaves the host headless, saying why.
void connectTheDesktop(const char* choice, const DesktopHost& host, DesktopUse use = DesktopUse::application);

// When another instance of the bundle runs on this desktop, hands it the arguments (URLs and
// files are opened, no argument activates it) and answers the status to exit with; none when
// this instance is the one that runs.
std::optional<int> handOverToTheRunningInstance(const std::vector<std::string>& arguments);

}  // namespace host::platform
