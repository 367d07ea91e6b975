// The bundle's translated strings, picked by the user's preferred languages.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host::platform {

// The user's preferred languages as BCP 47 tags ("tr-TR", "en"), most preferred first and
// without repeats: LANGUAGE (a colon-separated list) when it names any, else the first set and
// non-empty of LC_ALL, LC_MESSAGES and LANG. "tr_TR.UTF-8@euro" becomes "tr-TR"; "C", "POSIX"
// and names that are not locale names are skipped.
std::vector<std::string> preferredLanguagesOf(const std::function<const char*(const char*)>& environment);

// The translation of `key` from Localizable.strings in <resources>/<folder>.lproj, trying for
// each preferred language the tag ("pt-BR"), its underscore spelling ("pt_BR") and its shorter
// forms ("pt"), then Base, then en. A missing or malformed table is passed over; the key itself
// when no table has it.
std::string localizedString(const std::filesystem::path& resources, const std::string& key,
                            const std::vector<std::string>& preferredLanguages);

// A .strings table: a property list (XML or binary) whose top level is a dictionary, keeping its
// string values, or the old-style text form `"key" = "value";` with comments and escapes. Text
// in UTF-8, or UTF-16 with a byte-order mark. None when the bytes are not such a table.
std::optional<std::map<std::string, std::string>> parsedStringsTable(const std::string& bytes);

}  // namespace host::platform
