// Menu files: JSON documents of rows that another program keeps up to date, read each time a
// file submenu is about to open. Reading never throws; an unusable file gives none.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// Submenus nest at most this deep in a menu file; a deeper file is unreadable, which keeps a
// hostile file from exhausting the stack of the recursive decoding.
inline constexpr int MENU_FILE_SUBMENU_DEPTH_LIMIT = 64;

struct FileMenuRow {
    std::optional<std::string> id, title, row, key, symbol;
    std::optional<bool> enabled, separator, data, checked;
    std::optional<std::vector<FileMenuRow>> submenu;

    bool isSeparator() const { return separator.value_or(false); }
    // A separator, or a row with a non-empty id, a title and only valid rows below it.
    bool valid() const;
    // The key a branch path uses to step into this row's submenu: "row" when non-empty, else a
    // dotted-decimal id such as "2.1.4"; none for rows without a submenu and for separators.
    std::optional<std::string> branchKey() const;

    friend bool operator==(const FileMenuRow&, const FileMenuRow&) = default;
};

// The rows of a menu file's bytes in either form (array of rows, or object with "rows"); none
// when the bytes are not such a document: not JSON, a key with the wrong JSON type anywhere
// (null counts as absent), submenus nested too deep, or a top-level row that is not valid.
std::optional<std::vector<FileMenuRow>> fileMenuRowsOf(std::string_view bytes);

struct FileMenuSource {
    std::filesystem::path file;
    std::vector<std::string> branch;  // branch keys from the file's top rows down; empty for them

    // The rows at the branch of a regular file (symlinks followed), read whole; none when the
    // file is missing, not a regular file, unreadable, not a valid menu file, or when a key of
    // the branch does not match exactly one row.
    std::optional<std::vector<FileMenuRow>> rows() const;
    // The same file, one branch key further down.
    FileMenuSource extended(const std::string& key) const;

    friend bool operator==(const FileMenuSource&, const FileMenuSource&) = default;
};

}  // namespace host
