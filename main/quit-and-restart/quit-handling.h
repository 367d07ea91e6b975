// Every request to quit ends the shell and everything below it; the host follows the shell out.
// A quit from the host's own bundle is confirmed first; one from an application the shell named
// is offered to the shell to settle. Main thread only.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

#include "platform/desktop.h"
#include "support/json.h"

namespace host {

inline const std::set<std::string> sessionQuitReasons = {"logo", "rlgo", "rrst", "rsdn", "rest", "shut"};
inline constexpr double SETTINGS_QUIT_SECONDS = 1;

struct QuitSettings {
    std::filesystem::path bundleDirectory;
    std::string name;  // what the confirmation calls the application
};
void configureTheQuitHandling(QuitSettings settings);

// The name the confirmation uses: CFBundleDisplayName, else CFBundleName, else the process's.
std::string applicationNameOf(const Json& info, const std::string& processName);

// The application delegate's answer to a quit request.
platform::TerminateReply shouldTerminate(const std::optional<platform::CurrentEvent>& event);

bool quitIsForTheSession(const std::optional<platform::CurrentEvent>& event);
bool quitIsFromOurOwnBundle(const std::optional<platform::CurrentEvent>& event);
bool confirmsTheQuit();
void finishSettingsQuit(const std::string& result, bool restarting);
// Ends the shell's descendants, then the shell, for good; once.
void quitTheChild(const std::string& asker);

}  // namespace host
