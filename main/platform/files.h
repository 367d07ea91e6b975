// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <filesystem>
#include <string>

#include <optional>

namespace host::platform {

// The whole file; none when it cannot be read (missing, a folder, a read error).
std::optional<std::string> contentsOf(const std::filesystem::path& file);

// Creates the parent folders, writes a temporary file beside `file` and renames it over
// `file`. False with a description in *error on failure; the previous file then stays.
bool writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, std::string* error);

}  // namespace host::platform
