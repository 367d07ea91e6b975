// The host's one clock format: ISO 8601 in UTC with milliseconds, "2026-01-02T03:04:05.678Z".
#pragma once

#include <chrono>
#include <string>

namespace host {

using WallTime = std::chrono::system_clock::time_point;

std::string isoTime(WallTime time);
inline std::string clockNow() { return isoTime(std::chrono::system_clock::now()); }

// Whole milliseconds from `since` to now, rounded to the nearest.
long long millisecondsSince(WallTime since);

}  // namespace host
