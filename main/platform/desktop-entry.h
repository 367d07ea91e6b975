// The application registered with the desktop: an entry that offers its URL schemes and its Quit
// action, a service that starts it on the desktop's demand, and the default handler of its
// schemes. On Linux these are the XDG desktop entry, the D-Bus session service file and
// mimeapps.list, under $XDG_DATA_HOME and $XDG_CONFIG_HOME.
#pragma once

#include <set>
#include <string>

namespace host::platform {

struct DesktopEntry {
    std::string identity;          // the bundle identifier, also the entry's and service's name
    std::string name;              // the application's name as the desktop shows it
    std::string executable;        // the host's own executable
    std::set<std::string> schemes; // lowercased
};

// False, with the reason, when a file cannot be written; what was written stays.
bool writeTheDesktopEntry(const DesktopEntry& entry, std::string* error);
// Removes the entry and the service, and the entry from the scheme handlers (nothing else).
bool removeTheDesktopEntry(const std::string& identity, std::string* error);
bool hasTheDesktopEntry(const std::string& identity);

}  // namespace host::platform
