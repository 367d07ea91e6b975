// The application bundle, its Info.plist keys and the runtime file: everything the host is
// configured by. Reading happens once at start-up; a configuration that cannot work is reported
// through `why` and ends the process with status 66 (see unavailable()).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "support/json.h"

namespace host {

struct Bundle {
    std::filesystem::path directory;         // X.app, or the executable's folder outside a bundle
    Json info = Json::object();              // the whole Info.plist; empty without one
    std::optional<std::string> identifier;   // CFBundleIdentifier
};

// The bundle the executable at `executablePath` lives in (X.app/Contents/MacOS/<exe>).
Bundle bundleOfExecutable(const std::filesystem::path& executablePath);

// The URL schemes the Info.plist declares (CFBundleURLTypes, WickerlyURLSchemes), lowercased.
std::set<std::string> schemesOf(const Json& info);

// The application's name as the desktop shows it: CFBundleDisplayName, else CFBundleName, else
// the bundle folder's name without ".app".
std::string desktopNameOf(const Bundle& bundle);

// Writes "runtime is unavailable: " + message to standard error and exits 66.
[[noreturn]] void unavailable(const std::string& message);

// Last path component of the path the executable was started by.
std::string executableNameOf(const std::string& argv0);

// "~/x" becomes home + "/x"; anything else is returned as it is.
std::string tildeExpanded(const std::string& value, const std::filesystem::path& home);

// "~/x" expanded, "Contents/x" made relative to `base`, anything else as written.
std::string resolvedRuntimeValue(const std::string& value, const std::filesystem::path& base,
                                 const std::filesystem::path& home);

// Names in Contents/Resources ending in "-runtime.json", in directory order.
std::vector<std::string> runtimeFilesOf(const Bundle& bundle);

// The runtime file for this executable name, or none with the reason in *why.
std::optional<std::string> chosenRuntimeFile(const std::vector<std::string>& runtimeFiles,
                                             const std::string& executableName, std::string* why);

struct RuntimeConfiguration {
    std::string identity;
    std::string runtimeFile;
    Json runtimeObject = Json::object();         // every member, as parsed
    std::map<std::string, std::string> runtime;  // string members, "~/" expanded
    std::string unit;
    std::string prefix;
    std::optional<std::string> helperBundle;
    std::optional<std::string> frozen;
    std::optional<std::string> bunInBundle;
    std::string executable;
    std::set<std::string> schemes;               // lowercased
    Json services = Json::array();
    std::optional<std::string> linkExtension;    // lowercased
    std::optional<std::string> fileExtension;    // lowercased
    std::optional<std::string> fileLinkHead;     // as written
    std::optional<std::string> linkRelayPrefix;  // lowercased
    bool piped = false;
    bool drawsTheChildsMenu = false;

    // The runtime string value, or none.
    const std::string* runtimeValue(const char* key) const;
    // True when the runtime string value equals `expected` exactly.
    bool runtimeSays(const char* key, const char* expected) const;
};

inline constexpr std::size_t linkFileBytes = 32768;

// Reads the chosen runtime file and the Info.plist keys in their fixed order; none with the
// reason in *why when the configuration cannot work.
std::optional<RuntimeConfiguration> readTheRuntime(const Bundle& bundle, const std::string& identity,
                                                   const std::string& runtimeFile,
                                                   const std::filesystem::path& home, std::string* why);

// The unit's environment prefix: uppercased, "-" → "_", then "_".
std::string prefixOfUnit(const std::string& unit);

}  // namespace host
