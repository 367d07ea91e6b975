// GIO (D-Bus, the desktop's URL handlers) is loaded on the first need (gio-on-demand.cpp).
#pragma once

#include <string>

namespace host::platform {

// Loads GIO once; false, with the loader's text, when it is missing. Before it succeeds every GIO
// call the host makes does nothing, and one that reports errors fails with one.
bool loadTheGioLibrary(std::string* why);

}  // namespace host::platform
