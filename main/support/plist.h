// Property lists (XML or binary) read into JSON values, so the host reads Info.plist and agent
// plists with the same typed lookups as its JSON files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "support/json.h"

namespace host {

// The file's top-level value: dictionaries become objects, arrays arrays, strings, booleans,
// integers and reals keep their type; dates, data and UIDs become null, so they count as
// absent. None when the file cannot be read or is not a property list.
std::optional<Json> readPropertyList(const std::filesystem::path& file);

// The same for bytes already in memory.
std::optional<Json> parsedPropertyList(const std::string& bytes);

// XML property-list text of a JSON value (objects, arrays, strings, booleans, numbers; null
// and invalid values are left out); none when it cannot be made.
std::optional<std::string> xmlPropertyListOf(const Json& value);

}  // namespace host
