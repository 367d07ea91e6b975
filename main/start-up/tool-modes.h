// The host as a one-shot command-line tool. Each mode is a function from its inputs to what it
// prints and its exit status, so the entry point only writes the result out.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hot-keys/hot-key-chords.h"
#include "platform/desktop-entry.h"
#include "platform/login-items.h"
#include "platform/windows.h"

namespace host {

struct ToolResult {
    std::string out;  // standard output
    std::string err;  // standard error
    int status = 0;
};

using Arguments = std::vector<std::string>;

inline constexpr const char* publishMenuFlag = "--publish-menu-from-stdin";
inline constexpr const char* loginFlag = "--login";
inline constexpr const char* hotKeyPlanFlag = "--hotkey-plan";
inline constexpr const char* whichRuntimeFlag = "--which-runtime";
inline constexpr const char* desktopEntryFlag = "--desktop-entry";

ToolResult publishTheMenuFromStdin(const std::string& input);

// `identity` is none when the bundle has no identifier.
ToolResult answerTheLogin(const Arguments& commandLine, const std::optional<std::string>& identity,
                          const std::vector<std::string>& agentPlists, platform::LoginItems& items);

// The plist names of the bundle's launch agents, sorted; none when the folder cannot be listed.
std::vector<std::string> launchAgentPlists(const std::string& bundleDirectory);

// Registers the bundle with the desktop (on), removes it (off) or tells (status): prints "on"
// or "off". `entry` is none when the bundle has no identifier.
ToolResult answerTheDesktopEntry(const Arguments& commandLine, const std::optional<platform::DesktopEntry>& entry);

ToolResult planTheHotKeys(const Arguments& commandLine, const std::vector<HotKey>& declaredHotKeys);

ToolResult planTheBadge(const Arguments& commandLine, const std::vector<platform::OnScreenWindow>& windows);

}  // namespace host
