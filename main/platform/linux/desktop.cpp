#include "platform/desktop.h"

namespace host::platform {

// Headless: nothing is in front and no process is a running application.
std::optional<std::string> frontApplicationIdentifier() { return std::nullopt; }

bool yieldActivationTo(std::int32_t) { return false; }

}  // namespace host::platform
