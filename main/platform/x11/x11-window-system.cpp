#include "platform/x11/x11-window-system.h"

namespace host::platform {

// Until the X11 backend is built, no display is ever opened.
std::unique_ptr<WindowSystem> openTheX11WindowSystem(const char*, std::int32_t, std::string* why) {
    if (why) *why = "this host is built without X11";
    return nullptr;
}

}  // namespace host::platform
