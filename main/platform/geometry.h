// Rectangles in global display coordinates: origin at the top-left of the primary display,
// y growing downwards.
#pragma once

namespace host::platform {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    double maxY() const { return y + height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace host::platform
