#include "badges/badge-geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace host {

namespace {

constexpr double twoToThe63 = 9223372036854775808.0;
constexpr std::int64_t largestInteger = std::numeric_limits<std::int64_t>::max();

// The number's integer value: floats truncated toward zero, values beyond the integer range
// saturated; none for NaN or anything but a number.
std::optional<std::int64_t> integerOf(const nlohmann::json& number) {
    if (number.is_number_unsigned()) {
        const auto value = number.get<std::uint64_t>();
        return value > static_cast<std::uint64_t>(largestInteger) ? largestInteger
                                                                  : static_cast<std::int64_t>(value);
    }
    if (number.is_number_integer()) return number.get<std::int64_t>();
    if (!number.is_number_float()) return std::nullopt;
    const double truncated = std::trunc(number.get<double>());
    if (std::isnan(truncated)) return std::nullopt;
    if (truncated >= twoToThe63) return largestInteger;
    if (truncated < -twoToThe63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(truncated);
}

std::optional<std::int64_t> integerField(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    return found == object.end() ? std::nullopt : integerOf(*found);
}

// A pid outside the 32-bit range names no process; wrapping it would name another one.
std::optional<std::int32_t> pidOf(const nlohmann::json& badge) {
    const auto value = integerField(badge, "pid");
    if (!value || *value <= 0 || *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

std::string textOf(const nlohmann::json& badge) {
    const auto found = badge.find("text");
    return found != badge.end() && found->is_string() ? found->get<std::string>() : std::string();
}

bool isNormalWindowOf(std::int32_t pid, const platform::OnScreenWindow& window) {
    return window.ownerPid == pid && window.layer == 0 && window.bounds &&
           window.bounds->width > 0 && window.bounds->height > 0;
}

// Integral values are written as integers, as the platform's JSON writer does.
nlohmann::json numberRow(double value) {
    if (value == std::trunc(value) && value >= -twoToThe63 && value < twoToThe63) {
        return static_cast<std::int64_t>(value);
    }
    return value;
}

}  // namespace

std::optional<Badge> badgeOf(const nlohmann::json& message) {
    if (!message.is_object()) return std::nullopt;
    const auto badge = message.find("badge");
    if (badge == message.end() || !badge->is_object()) return std::nullopt;
    const auto pid = pidOf(*badge);
    if (!pid) return std::nullopt;
    return Badge{*pid, textOf(*badge), integerField(*badge, "ms").value_or(600)};
}

std::optional<platform::Rect> frontWindowOf(std::int32_t pid,
                                            const std::vector<platform::OnScreenWindow>& windows) {
    const auto found = std::find_if(windows.begin(), windows.end(), [pid](const auto& window) {
        return isNormalWindowOf(pid, window);
    });
    if (found == windows.end()) return std::nullopt;
    return found->bounds;
}

platform::Rect badgeFrame(const platform::Rect& window) {
    const double width = std::min(window.width, badgeWidth);
    const double height = std::min(window.height, badgeHeight);
    const double drop = std::max(0.0, std::min(badgeTopInset, window.height - height));
    return {window.x + (window.width - width) / 2, window.y + drop, width, height};
}

nlohmann::json rectRow(const std::optional<platform::Rect>& rect) {
    if (!rect) return nullptr;
    return {{"x", numberRow(rect->x)},
            {"y", numberRow(rect->y)},
            {"width", numberRow(rect->width)},
            {"height", numberRow(rect->height)}};
}

}  // namespace host
