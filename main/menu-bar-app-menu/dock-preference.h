// The row that shows the application in the Dock and the application switcher, or hides it:
// the host switches the activation policy and remembers the choice in user defaults.
#pragma once

#include <filesystem>
#include <string>

#include "platform/menu.h"

namespace host {

inline constexpr const char* dockPreferenceRow = "host.show-in-dock";
inline constexpr const char* dockPreferenceKey = "ShowInDockAndAppSwitcher";

struct DockSettings {
    bool hosted = false;
    std::filesystem::path userDefaults;  // the user-defaults file
};
void configureTheDockPreference(DockSettings settings);

// Regular policy to show, accessory to hide; false (and a record) when the system refuses.
bool showInTheDock(bool show);
// The stored choice.
bool theDockIsChosen();
// Marks the first dock row one level down with " ✓" while the application shows in the Dock.
void paintTheDockPreference(platform::Menu& root, const std::string& title);
// True when `id` is the dock row; the pick toggles the Dock unless hosted.
bool pickTheDockPreference(const std::string& id);

}  // namespace host
