// Remote-desktop clients: while one is in front and forwarding is on, the host's hot keys yield
// to the remote machine as the bridge file routes them. The files are written by others and read
// afresh on every question; session clients yield only while they hold a live connection,
// checked once a second while such a client is in front.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/json.h"

namespace host {

inline constexpr const char* remoteMachinesKey = "WickerlyRemoteMachines";
inline constexpr const char* sessionChanged = "app.wickerly.remote-session-changed";
inline constexpr const char* remoteBridgeFileName = "remote-bridge.json";
inline constexpr const char* pressOnTheRemoteRoute = "k\u00F6pr\u00FC";  // köprü
inline constexpr const char* handleHereRoute = "burada";
inline constexpr double sessionCheckSeconds = 1.0;

struct RemoteMachines {
    std::set<std::string> remoteBundles;
    std::set<std::string> sessionBundles;
    std::optional<std::filesystem::path> remoteConfig;
    std::optional<std::string> remoteKey;
};

struct RemoteBridge {
    std::map<std::string, std::string> routes;  // chord text without "key:" → route
    std::vector<std::string> press;             // executable path, then arguments
};

// The Info.plist value (as JSON); anything but an object configures nothing. "config" is
// relative to `home`.
RemoteMachines remoteMachinesOf(const Json& value, const std::filesystem::path& home);

// Pure readings of the two files' texts.
bool forwardingIsOnIn(std::string_view configText, const std::string& key);
std::optional<RemoteBridge> remoteBridgeOf(std::string_view bridgeText);
std::optional<std::string> routeIn(const RemoteBridge& bridge, std::string_view key);
// The press command's argv for a chord: each argument exactly "{key}" becomes the published key.
std::vector<std::string> pressArgumentsOf(const std::vector<std::string>& press, std::string_view key);

void configureTheRemoteMachines(RemoteMachines machines);
std::optional<std::filesystem::path> remoteConfigFile();
std::optional<std::filesystem::path> remoteBridgeFile();

bool forwardingIsOn();
bool hasALiveSession(const std::string& bundleIdentifier);
void refreshTheSession(const std::optional<std::string>& front);
bool yieldsToTheRemote(const std::optional<std::string>& front);
std::optional<RemoteBridge> remoteBridge();
std::optional<std::string> remoteRouteOf(std::string_view key, const std::optional<std::string>& front);

// Whether a chord stays registered while the front yields: its route presses it there or here.
bool keepsTheChord(const std::optional<std::string>& route);

// When the bridge routes the chord to the remote machine with the current front application,
// presses it there and answers true; false when the press belongs here.
bool pressedOnTheRemote(std::string_view key);

// Runs the bridge's press command for a chord without waiting for it; a launch failure is told
// on standard error.
void pressOnTheRemote(const RemoteBridge& bridge, std::string_view key);

// Observers hear when the session timer finds the live session changed.
void observeTheSessionChanges(std::function<void()> observer);
bool sessionIsLive();
bool sessionIsWatched();

}  // namespace host
