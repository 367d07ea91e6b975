// Unicode-aware text helpers (UTF-8 in, UTF-8 out; invalid input is returned unchanged).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

// The user-perceived characters of the text (code points with the marks, joiners and variation
// selectors that extend them); none when it is not valid UTF-8.
std::optional<std::vector<std::string>> charactersOf(std::string_view text);

// True when every code point is a letter of any script or "_" (the empty text too); false for
// anything else, invalid UTF-8 included.
bool isLettersAndUnderscores(std::string_view text);

// The text with each invalid UTF-8 sequence replaced by U+FFFD.
std::string withInvalidUTF8Repaired(std::string_view text);

}  // namespace host
