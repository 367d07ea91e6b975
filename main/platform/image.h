// Images as the host uses them: named system symbols, optionally configured with a point size
// and weight, optionally composed with a smaller badge symbol. A backend draws them.
#pragma once

#include <optional>
#include <string>

#include "platform/geometry.h"

namespace host::platform {

// Font weights, in the platform's numbering.
inline constexpr double FONT_WEIGHT_REGULAR = 0.0;
inline constexpr double FONT_WEIGHT_SEMIBOLD = 0.3;
inline constexpr double FONT_WEIGHT_BOLD = 0.4;

struct BadgeMark {
    std::string symbol;
    Rect rect;  // inside the image, origin at the bottom left
    friend bool operator==(const BadgeMark&, const BadgeMark&) = default;
};

struct Image {
    std::string symbol;
    std::string description;  // the accessibility description
    double width = 0;
    double height = 0;
    std::optional<double> pointSize;  // set once configured
    std::optional<double> weight;
    bool isTemplate = false;
    std::optional<BadgeMark> badge;
    friend bool operator==(const Image&, const Image&) = default;
};

// The system symbol of that name, unconfigured; none for a name the system does not know.
std::optional<Image> systemSymbol(const std::string& name, const std::string& description);

// The symbol drawn at a point size and weight; none when it cannot be.
std::optional<Image> configuredSymbol(const Image& image, double pointSize, double weight);

}  // namespace host::platform
