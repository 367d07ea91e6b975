// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <filesystem>
#include <string>

#include <optional>

namespace host::platform {

// The whole file; none when it cannot be read (missing, a folder, a read error).
std::optional<std::string> contentsOf(const std::filesystem::path& file);

// Creates the folder and the missing folders above it for the owner alone (0700, whatever the
// umask); folders that exist are left as they are. False when one cannot be made.
bool makePrivateFolders(const std::filesystem::path& folder);

// Creates the parent folders (as makePrivateFolders does), writes a temporary file beside `file`
// and renames it over `file`. False with a description in *error on failure; the previous file
// then stays.
bool writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, std::string* error);

}  // namespace host::platform
