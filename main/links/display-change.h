// The display-change URL: a URL of the host's own schemes, named in Info.plist, delivered to
// the shell whenever a display reconfiguration has finished. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include "support/json.h"

namespace host {

inline constexpr const char* displayChangeKey = "WickerlyDisplayChangeURL";
inline constexpr const char* displayChangeSource = "display-change";

// The Info.plist value of displayChangeKey when it is a string that parses as a URL whose
// lowercased scheme is one of `schemes`; otherwise none (an unusable value is ignored).
std::optional<std::string> displayChangeURLOf(const Json& info, const std::set<std::string>& schemes);

void configureTheDisplayChange(std::optional<std::string> url);

// One reconfiguration callback: the URL is delivered unless `flags` marks the beginning of a
// change. A change may call back once per display, and each such call delivers.
void displayReconfigured(std::uint32_t flags);

}  // namespace host
