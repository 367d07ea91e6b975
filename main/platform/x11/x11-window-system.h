// The X11 window system: xcb for keys, EWMH hints, RandR and the badge window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/freedesktop/window-system.h"

namespace host::platform {

// The window system of the display `displayName` (DISPLAY when null), or none with the reason
// when it cannot be opened.
std::unique_ptr<WindowSystem> openTheX11WindowSystem(const char* displayName, std::int32_t hostPid, std::string* why);

}  // namespace host::platform
