// The environment every shell of this host runs with, built once at start-up.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "support/json.h"

namespace host {

using Environment = std::map<std::string, std::string>;

inline constexpr const char* reopenReadySignalName = "USR2";

// Names of a calling coding session, which the shell must not believe it runs inside.
bool isCallerSession(const std::string& name);

struct ChildEnvironmentInputs {
    Environment inherited;
    std::int32_t hostPid = 0;
    std::int32_t parentPid = 0;
    std::string prefix;
    std::string executable;
    bool frozen = false;
    std::map<std::string, std::string> runtime;  // string members, "~/" expanded
    Json runtimeObject = Json::object();
    std::filesystem::path bundleDirectory;
    std::filesystem::path home;
};

struct ChildEnvironment {
    Environment environment;
    bool hostedByItsParent = false;
    double rootWaitSeconds = 0;
    std::string ownViews;
};

// `ownViewsExists` tells whether the views library is in the bundle (a file-system fact).
ChildEnvironment childEnvironmentOf(const ChildEnvironmentInputs& inputs, bool ownViewsExists);

// The views library's place inside the bundle.
std::string ownViewsOf(const std::filesystem::path& bundleDirectory);

}  // namespace host
