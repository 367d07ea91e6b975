// The host's update rows after the shell's rows: the check row, the attribution row and, while
// an update waits, the restart row. Main thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/menu.h"

namespace host {

inline constexpr std::int32_t WAITING_VERSION_BYTES = 128;

// The user-facing update texts, English or Turkish.
struct UpdateTexts {
    const char* checkForUpdates;
    const char* restartToUpdate;
    const char* updateWaiting;
    const char* finishTheUpdateFirst;
    const char* channelSwitchFailed;
    const char* ok;
};
const UpdateTexts& updateTexts(bool turkish);

// "Restart to Update", with " (version)" for a non-empty version.
std::string restartToUpdateTitle(bool turkish, const std::string& version);

// A host row: the id as represented object, "menu-row:" + the id without "host." as interface
// identifier, the row image of the symbol, enabled.
std::shared_ptr<platform::MenuItem> updaterItem(const std::string& id, const std::string& title,
                                                const std::string& symbol, platform::MenuAction action);

// A separator, the check row and the attribution row, then a refresh.
void appendTheUpdaterRows(platform::Menu& menu, const platform::MenuAction& action);
// Enables the check row once the updater runs, and shows the restart row exactly while an
// update waits, just before the check row.
void refreshTheUpdaterRows(platform::Menu& menu, const platform::MenuAction& action);

}  // namespace host
