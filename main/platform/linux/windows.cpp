#include "platform/windows.h"

namespace host::platform {

// Headless: no window server, so no windows.
std::vector<OnScreenWindow> onScreenWindows() { return {}; }

}  // namespace host::platform
