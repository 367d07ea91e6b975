// A window on screen, as the window server lists it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/geometry.h"

namespace host::platform {

struct OnScreenWindow {
    std::int32_t ownerPid = 0;
    int layer = 0;                  // 0 is a normal window; menus, panels and overlays sit higher
    std::optional<Rect> bounds;     // none when the server gave no readable bounds
};

}  // namespace host::platform
