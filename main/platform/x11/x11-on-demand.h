// The X11 client libraries are loaded on the first need (x11-on-demand.cpp).
#pragma once

#include <string>

namespace host::platform {

// Loads xcb, its extensions and xkbcommon once; false, with the loader's text, when one is missing.
// Before it succeeds every X11 call the host makes does nothing and returns zero.
bool loadTheX11Libraries(std::string* why);

}  // namespace host::platform
