// The quoting the Desktop Entry specification asks of an Exec key's arguments.
#pragma once

#include <string>

namespace host::platform {

// One argument as an Exec key holds it: quoted when it has a reserved character, with the
// string-value escape of "\" and "%" written "%%".
std::string execArgument(const std::string& argument);

}  // namespace host::platform
