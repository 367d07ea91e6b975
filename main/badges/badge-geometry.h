// Badge requests and where a badge goes over a window: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/geometry.h"
#include "platform/windows.h"

namespace host {

struct Badge {
    std::int32_t pid = 0;  // always greater than 0
    std::string text;
    std::int64_t ms = 600;
};

inline constexpr const char* badgePlanFlag = "--badge-plan";
inline constexpr double badgeWidth = 150;
inline constexpr double badgeHeight = 34;
inline constexpr double badgeTopInset = 52;

// The badge of a message {"badge": {"pid", "text", "ms"}}, or none.
std::optional<Badge> badgeOf(const nlohmann::json& message);

// The first normal window (layer 0, positive size) of the pid in a front-to-back list.
std::optional<platform::Rect> frontWindowOf(std::int32_t pid,
                                            const std::vector<platform::OnScreenWindow>& windows);

// Where the badge goes over a window, in the same coordinates.
platform::Rect badgeFrame(const platform::Rect& window);

// {"x", "y", "width", "height"} (integral values as integers), or null for none.
nlohmann::json rectRow(const std::optional<platform::Rect>& rect);

}  // namespace host
