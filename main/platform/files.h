// Whole-file writes that never leave a half-written file behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include <optional>

namespace host::platform {

// The whole file; none when it cannot be read (missing, a folder, a read error).
std::optional<std::string> contentsOf(const std::filesystem::path& file);

// Creates the folder and the missing folders above it for the owner alone (0700, whatever the
// umask); folders that exist are left as they are. False when one cannot be made.
bool makePrivateFolders(const std::filesystem::path& folder);

// What tells one version of a file from another: a file replaced or written to has another stamp.
struct FileStamp {
    std::uint64_t device = 0, inode = 0, size = 0, modified = 0;  // modified: ns since the epoch
    bool operator==(const FileStamp&) const = default;
};

// The file's stamp, none when it is not there or cannot be looked at.
std::optional<FileStamp> stampOf(const std::filesystem::path& file);

// Creates the parent folders (as makePrivateFolders does), writes a temporary file beside `file`
// and renames it over `file`. False with a description in *error on failure; the previous file
// then stays. The written file's stamp in *stamp when given (none when it cannot be told).
bool writeFileAtomically(const std::filesystem::path& file, const std::string& bytes, std::string* error,
                         std::optional<FileStamp>* stamp = nullptr);

}  // namespace host::platform
