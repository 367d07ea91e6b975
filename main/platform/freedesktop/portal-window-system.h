// Where only Wayland is there: global hot keys through the GlobalShortcuts portal of the
// session bus, everything else the headless defaults. Main thread only.
//
// The portal answers later than the host asks, and binds a whole set of shortcuts at once: a
// chord registers at once (status 0) and the chords of one turn of the loop are bound together
// in a fresh portal session. A chord the portal then refuses is let go and reported through the
// hotKeyRefused event: -128 when the user declined, -9879 when the portal could not bind it.
// A chord registered twice is HOT_KEY_EXISTS_STATUS; one no key stands for, -50.
#pragma once

#include <memory>
#include <string>

#include "platform/freedesktop/window-system.h"

namespace host::platform {

inline constexpr std::int32_t PORTAL_DECLINED_STATUS = -128;
inline constexpr std::int32_t PORTAL_REFUSED_STATUS = -9879;

// The window system of the portal on the bus at `busAddress` (the session bus when null), or
// none with the reason when there is no such bus or no GlobalShortcuts portal on it.
std::unique_ptr<WindowSystem> openThePortalWindowSystem(const char* busAddress, std::string* why);

}  // namespace host::platform
