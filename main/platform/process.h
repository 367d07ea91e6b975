// Facts about the host's own process that come from the kernel.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace host::platform {

std::int32_t ownPid();
std::int32_t parentPid();

// The path the running executable was started from; `argv0` when the kernel cannot tell.
std::filesystem::path ownExecutablePath(const std::string& argv0);

// The process environment, name to value.
std::map<std::string, std::string> ownEnvironment();

// $HOME, else the user database's home directory, else "/".
std::filesystem::path homeDirectory();

// Where applications keep their support folders: ${XDG_DATA_HOME:-$HOME/.local/share}.
std::filesystem::path userDataDirectory();

// A regular file (after links) that this process may execute.
bool isExecutableFile(const std::filesystem::path& path);

}  // namespace host::platform
