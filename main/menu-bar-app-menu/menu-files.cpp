#include "menu-bar-app-menu/menu-files.h"

#include <algorithm>

#include "platform/files.h"
#include "support/json.h"

namespace host {
namespace {

// The deepest file the submenu limit allows stays within the nesting every reader accepts: each
// level is a row object and its "submenu" array, under the top array and its envelope.
static_assert(2 * (MENU_FILE_SUBMENU_DEPTH_LIMIT + 1) + 1 <= JSON_NESTING_LIMIT);

using Rows = std::vector<FileMenuRow>;

// Reads an optional member of one JSON type: absent and null leave it unset; another type
// makes the whole row unreadable (false).
bool readString(const Json& object, const char* key, std::optional<std::string>& into) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return true;
    if (!found->is_string()) return false;
    into = found->get<std::string>();
    return true;
}

bool readBool(const Json& object, const char* key, std::optional<bool>& into) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return true;
    if (!found->is_boolean()) return false;
    into = found->get<bool>();
    return true;
}

std::optional<Rows> rowsOf(const Json& array, int depth);

bool readSubmenu(const Json& object, int depth, std::optional<Rows>& into) {
    const auto found = object.find("submenu");
    if (found == object.end() || found->is_null()) return true;
    if (depth >= MENU_FILE_SUBMENU_DEPTH_LIMIT) return false;
    into = rowsOf(*found, depth + 1);
    return into.has_value();
}

std::optional<FileMenuRow> rowOf(const Json& value, int depth) {
    if (!value.is_object()) return std::nullopt;
    FileMenuRow row;
    const bool typed = readString(value, "id", row.id) && readString(value, "title", row.title) &&
                       readString(value, "row", row.row) && readString(value, "key", row.key) &&
                       readString(value, "symbol", row.symbol) && readBool(value, "enabled", row.enabled) &&
                       readBool(value, "separator", row.separator) && readBool(value, "data", row.data) &&
                       readBool(value, "checked", row.checked) && readSubmenu(value, depth, row.submenu);
    if (!typed) return std::nullopt;
    return row;
}

// Rows at `depth` submenus below the top.
std::optional<Rows> rowsOf(const Json& array, int depth) {
    if (!array.is_array()) return std::nullopt;
    Rows rows;
    rows.reserve(array.size());
    for (const auto& element : array) {
        auto row = rowOf(element, depth);
        if (!row) return std::nullopt;
        rows.push_back(std::move(*row));
    }
    return rows;
}

// The rows of either form of the document: an array of rows, or {"rows": [...]}.
std::optional<Rows> documentRowsOf(const Json& document) {
    if (document.is_array()) return rowsOf(document, 0);
    if (!document.is_object()) return std::nullopt;
    const auto rows = document.find("rows");
    if (rows == document.end()) return std::nullopt;
    return rowsOf(*rows, 0);
}

bool isDottedDecimal(std::string_view text) {
    bool afterDigit = false;
    for (const char character : text) {
        if (character >= '0' && character <= '9') {
            afterDigit = true;
        } else if (character == '.' && afterDigit) {
            afterDigit = false;
        } else {
            return false;
        }
    }
    return afterDigit;
}

// The submenu rows of the one row whose branch key is `key`; none unless exactly one matches.
std::optional<Rows> branchRowsOf(Rows& rows, const std::string& key) {
    const auto matches = [&key](const FileMenuRow& row) { return row.branchKey() == key; };
    const auto match = std::find_if(rows.begin(), rows.end(), matches);
    if (match == rows.end() || std::any_of(std::next(match), rows.end(), matches)) return std::nullopt;
    return std::move(match->submenu);
}

}  // namespace

bool FileMenuRow::valid() const {
    if (isSeparator()) return true;
    if (!id || id->empty() || !title) return false;
    return !submenu || std::all_of(submenu->begin(), submenu->end(), [](const FileMenuRow& child) { return child.valid(); });
}

std::optional<std::string> FileMenuRow::branchKey() const {
    if (!submenu || isSeparator()) return std::nullopt;
    if (row && !row->empty()) return row;
    if (id && isDottedDecimal(*id)) return id;
    return std::nullopt;
}

std::optional<std::vector<FileMenuRow>> fileMenuRowsOf(std::string_view bytes) {
    const std::optional<Json> document = parsedJson(bytes);
    if (!document) return std::nullopt;
    auto rows = documentRowsOf(*document);
    if (!rows || !std::all_of(rows->begin(), rows->end(), [](const FileMenuRow& row) { return row.valid(); })) {
        return std::nullopt;
    }
    return rows;
}

std::optional<std::vector<FileMenuRow>> FileMenuSource::rows() const {
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return std::nullopt;
    const auto bytes = platform::contentsOf(file);
    if (!bytes) return std::nullopt;
    auto rows = fileMenuRowsOf(*bytes);
    for (const auto& key : branch) {
        if (!rows) return std::nullopt;
        rows = branchRowsOf(*rows, key);
    }
    return rows;
}

FileMenuSource FileMenuSource::extended(const std::string& key) const {
    FileMenuSource deeper = *this;
    deeper.branch.push_back(key);
    return deeper;
}

}  // namespace host
