// The login item service for the bundle's launch agents.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace host::platform {

enum class LoginStatus { notRegistered = 0, enabled = 1, requiresApproval = 2, notFound = 3 };

class LoginItems {
public:
    virtual ~LoginItems() = default;
    virtual LoginStatus status(const std::string& plistName) = 0;
    // False with a description in *error when the service refused.
    virtual bool enable(const std::string& plistName, std::string* error) = 0;
    virtual bool disable(const std::string& plistName, std::string* error) = 0;
};

// Agents are the plists in `bundleDirectory`/Contents/Library/LaunchAgents. On Linux each one
// becomes an XDG autostart entry in `autostartDirectory`.
std::unique_ptr<LoginItems> launchAgentLoginItems(const std::filesystem::path& bundleDirectory,
                                                  const std::filesystem::path& autostartDirectory);

// ${XDG_CONFIG_HOME:-$HOME/.config}/autostart
std::filesystem::path autostartDirectory();

}  // namespace host::platform
