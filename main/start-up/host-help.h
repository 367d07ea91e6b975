// What the host says about itself: its usage and version for people who run it by hand, where
// its own files (the kit, the documents) lie, and the warning for a runtime file that asks for
// messages the bundle cannot carry.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "start-up/bundle.h"

namespace host {

inline constexpr const char* hostHelpFlag = "--host-help";
inline constexpr const char* hostVersionFlag = "--host-version";

// "menu-bar-host <version>", without a line feed.
std::string hostVersion();

// The usage text: the tool modes, the environment the host reads and where the documents are
// (`documents` none when no copy was found).
std::string hostUsage(const std::optional<std::filesystem::path>& documents);

// True when the executable lies in X/Contents/MacOS/, as a bundle's executable does.
bool isInsideABundle(const std::filesystem::path& executablePath);

// One of the host's own folders holding `probe`: `installed` below the prefix the executable
// was installed in (bin/..), else `inSource` below the source tree it was built from; none
// when neither holds it.
std::optional<std::filesystem::path> hostFolder(const std::filesystem::path& executablePath,
                                                const std::filesystem::path& installed,
                                                const std::filesystem::path& inSource,
                                                const std::filesystem::path& probe);

// Where the kit and the documents are.
std::optional<std::filesystem::path> kitFolder(const std::filesystem::path& executablePath);
std::optional<std::filesystem::path> documentsFolder(const std::filesystem::path& executablePath);

// One warning line when the runtime asks the shell for messages (menu, panels, hot keys, the
// front application) that need pipes the bundle does not have; none otherwise.
std::optional<std::string> pipelessWarningOf(const RuntimeConfiguration& config);

}  // namespace host
