// `--new-app`: a ready application bundle around a copy of this host, with a TypeScript shell
// built on the kit and a small menu, so that a new app runs at once.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "start-up/tool-modes.h"

namespace host {

inline constexpr const char* newAppFlag = "--new-app";

struct NewAppRequest {
    std::filesystem::path bundle;  // the X.app folder to create
    std::string name;              // CFBundleName, also the bundle's file name
    std::string identifier;        // CFBundleIdentifier
    std::string scheme;            // the URL scheme that gives the shell its message channel
    std::string executable;        // the executable's name, which names the runtime file
};

// The request in `commandLine` (--new-app <folder> --name <Name> --id <id> [--scheme <s>]);
// none with the reason in *why. A folder ending in ".app" is the bundle itself, any other
// folder receives "<Name>.app". Without --scheme the scheme is made from the name.
std::optional<NewAppRequest> newAppRequestOf(const Arguments& commandLine, std::string* why);

// What the new bundle is made of, found by the caller.
struct NewAppParts {
    std::filesystem::path host;                 // this executable, copied in as the bundle's
    std::optional<std::filesystem::path> kit;   // the kit's folder (src/, template/)
    std::optional<std::filesystem::path> bun;   // the bun the runtime file names
};

// Creates the bundle; on any failure nothing of it is left. Prints where it is and how to run it.
ToolResult createTheNewApp(const Arguments& commandLine, const NewAppParts& parts);

// The first executable `name` in the colon-separated `path`.
std::optional<std::filesystem::path> programOnThePath(const std::string& name, const std::string& path);

}  // namespace host
