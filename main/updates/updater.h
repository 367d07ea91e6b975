// Updates through the views library's updater: the feed in force, the start at launch, checks
// from the menu and from the update-check signal, and the picks of the update rows and of the
// update channels the shell publishes. Main thread only; the library calls are synchronous.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/loaded-library.h"
#include "support/json.h"
#include "updates/update-choices.h"

namespace host {

inline constexpr const char* updateFeedKey = "SUFeedURL";
inline constexpr const char* restartToUpdateRow = "host.restart-to-update";
inline constexpr const char* checkForUpdatesRow = "host.check-for-updates";

// The Info.plist feed: only a frozen bundle has one, and only as a non-empty string.
std::optional<std::string> updateFeedOf(const Json& info, bool frozen);
// The user's first preferred language begins with "tr".
bool speaksTurkishIn(const std::vector<std::string>& preferredLanguages);

// The views library's entry point, loaded on first need; null with the loader's text in *error.
using ViewsEntry = std::function<platform::LibraryEntry(const std::string& symbol, std::string* error)>;

struct UpdateSettings {
    std::optional<std::string> updateFeed;  // none: no updater and no update rows
    std::optional<UpdateChoices> updateChoices;
    std::optional<MenuAttribution> menuAttribution;
    bool speaksTurkish = false;
    std::string build;                   // Info.plist CFBundleVersion, or ""
    std::filesystem::path userDefaults;  // where the chosen channel is stored
    std::string viewsPath;               // named in the records
    ViewsEntry entry;
};
// Set once at start-up; the updater has not started yet.
void configureTheUpdates(UpdateSettings settings);

bool hasAnUpdateFeed();
bool updaterStarted();
bool speaksTurkish();
const std::optional<MenuAttribution>& menuAttribution();

// The stored channel's feed when it names one of the channels, else the Info.plist feed.
std::optional<std::string> selectedUpdateFeed();

// At launch, once: starts the updater with the feed in force and records how it went.
void startTheUpdaterOfTheFeed();
// Asks the library to check; `from` is "menu", "restart-to-update" or "shell".
void checkForUpdatesFromTheMenu(const std::string& from = "menu");
// The update-check signal: a check in front of the user, or a record of why not.
void checkForUpdatesFromTheShell();

// The waiting update's version text (repaired UTF-8, at most `capacity` bytes of it); none when
// no update waits or the library cannot tell.
std::optional<std::string> waitingUpdate(std::int32_t capacity);

// True when the pick was an update channel, an update row or the attribution row, handled here.
bool pickedTheUpdaterRow(const std::string& id);

}  // namespace host
