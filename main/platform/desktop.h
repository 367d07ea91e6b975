// The desktop as the host sees it. Without a desktop the host runs headless: no front
// application, no running applications.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace host::platform {

// The bundle identifier of the frontmost application, or none.
std::optional<std::string> frontApplicationIdentifier();

// Lets the application of process `pid` take the activation, when the desktop knows it as a
// running application; false when it does not.
bool yieldActivationTo(std::int32_t pid);

}  // namespace host::platform
