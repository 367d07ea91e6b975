// Icons of the installed icon themes, looked up by name in the XDG icon directories
// ($XDG_DATA_HOME/icons, ~/.icons, each of $XDG_DATA_DIRS/icons, /usr/share/pixmaps).
#pragma once

#include <optional>
#include <string>

namespace host::platform {

// The icon name under which an installed theme has the symbol: the symbol's own name, else the
// standard icon of the same meaning (its symbolic variant first); none when no theme has one.
// The directories are read once per process.
std::optional<std::string> themedIconName(const std::string& symbol);

}  // namespace host::platform
