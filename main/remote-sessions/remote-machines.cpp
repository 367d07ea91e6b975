#include "remote-sessions/remote-machines.h"

#include <memory>

#include "hot-keys/hot-key-chords.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "support/event-loop.h"

namespace host {
namespace {

RemoteMachines machines;
bool sessionLive = false;
std::unique_ptr<loop::Timer> sessionTimer;
std::vector<std::function<void()>> sessionObservers;

std::set<std::string> stringsIn(const Json& object, const char* key) {
    std::set<std::string> strings;
    if (const Json* array = arrayMember(object, key)) {
        for (const Json& element : *array) {
            if (element.is_string()) strings.insert(element.get<std::string>());
        }
    }
    return strings;
}

bool isARemoteClient(const std::optional<std::string>& front) {
    return front && machines.remoteBundles.count(*front) > 0;
}

bool isASessionClient(const std::string& front) { return machines.sessionBundles.count(front) > 0; }

// The configuration is always below the home directory: a leading "/" is dropped, and a path
// that climbs out of the home directory names none.
std::optional<std::filesystem::path> belowTheHome(const std::filesystem::path& home, const std::string& value) {
    const std::filesystem::path inside = std::filesystem::path(value).relative_path().lexically_normal();
    if (inside.empty() || inside == "." || *inside.begin() == "..") return std::nullopt;
    return home / inside;
}

void tickTheSession() {
    const bool wasLive = sessionLive;
    refreshTheSession(platform::desktop().frontApplicationIdentifier());
    if (sessionLive == wasLive) return;
    for (const auto& observer : sessionObservers) observer();
}

}  // namespace

RemoteMachines remoteMachinesOf(const Json& value, const std::filesystem::path& home) {
    RemoteMachines configured;
    if (!value.is_object()) return configured;
    configured.remoteBundles = stringsIn(value, "bundles");
    configured.sessionBundles = stringsIn(value, "session");
    if (const std::string* config = stringMember(value, "config")) configured.remoteConfig = belowTheHome(home, *config);
    if (const std::string* key = stringMember(value, "key")) configured.remoteKey = *key;
    return configured;
}

bool forwardingIsOnIn(std::string_view configText, const std::string& key) {
    auto config = parsedJson(configText);
    if (!config || !config->is_object()) return false;
    const std::string* value = stringMember(*config, key.c_str());
    return value && *value == "1";
}

std::optional<RemoteBridge> remoteBridgeOf(std::string_view bridgeText) {
    auto bridge = parsedJson(bridgeText);
    if (!bridge || !bridge->is_object()) return std::nullopt;
    const Json* routes = objectMember(*bridge, "routes");
    const Json* press = arrayMember(*bridge, "press");
    if (!routes || !press || press->empty() || !isArrayOfStrings(*press)) return std::nullopt;
    RemoteBridge read;
    for (const auto& [key, route] : routes->items()) {
        if (!route.is_string()) return std::nullopt;
        read.routes[key] = route.get<std::string>();
    }
    read.press = press->get<std::vector<std::string>>();
    return read;
}

std::optional<std::string> routeIn(const RemoteBridge& bridge, std::string_view key) {
    if (key.starts_with(publishedKeyPrefix)) key.remove_prefix(std::string_view(publishedKeyPrefix).size());
    const auto found = bridge.routes.find(std::string(key));
    if (found == bridge.routes.end()) return std::nullopt;
    return found->second;
}

std::vector<std::string> pressArgumentsOf(const std::vector<std::string>& press, std::string_view key) {
    std::vector<std::string> arguments = press;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (arguments[i] == "{key}") arguments[i] = publishedKey(key);
    }
    return arguments;
}

void configureTheRemoteMachines(RemoteMachines configured) { machines = std::move(configured); }

std::optional<std::filesystem::path> remoteConfigFile() { return machines.remoteConfig; }

std::optional<std::filesystem::path> remoteBridgeFile() {
    if (!machines.remoteConfig) return std::nullopt;
    return machines.remoteConfig->parent_path() / remoteBridgeFileName;
}

bool forwardingIsOn() {
    if (!machines.remoteConfig || !machines.remoteKey) return false;
    auto text = platform::contentsOf(*machines.remoteConfig);
    return text && forwardingIsOnIn(*text, *machines.remoteKey);
}

bool hasALiveSession(const std::string& bundleIdentifier) {
    for (const auto& application : platform::desktop().runningApplications()) {
        if (application.bundleIdentifier == bundleIdentifier) {
            return platform::hasAnEstablishedTCPConnection(application.pid);
        }
    }
    return false;
}

void refreshTheSession(const std::optional<std::string>& front) {
    if (isARemoteClient(front) && isASessionClient(*front) && forwardingIsOn()) {
        sessionLive = hasALiveSession(*front);
        if (!sessionTimer) {
            sessionTimer = std::make_unique<loop::Timer>();
            sessionTimer->startRepeating(sessionCheckSeconds, tickTheSession);
        }
        return;
    }
    // Resetting from inside the tick is safe: the loop holds the running callback.
    sessionTimer.reset();
    sessionLive = false;
}

bool yieldsToTheRemote(const std::optional<std::string>& front) {
    if (!isARemoteClient(front) || !forwardingIsOn()) return false;
    return !isASessionClient(*front) || sessionLive;
}

std::optional<RemoteBridge> remoteBridge() {
    auto file = remoteBridgeFile();
    if (!file) return std::nullopt;
    auto text = platform::contentsOf(*file);
    if (!text) return std::nullopt;
    return remoteBridgeOf(*text);
}

std::optional<std::string> remoteRouteOf(std::string_view key, const std::optional<std::string>& front) {
    if (!isARemoteClient(front) || !forwardingIsOn()) return std::nullopt;
    if (isASessionClient(*front) && !sessionLive) return std::nullopt;
    auto bridge = remoteBridge();
    if (!bridge) return std::nullopt;
    return routeIn(*bridge, key);
}

bool keepsTheChord(const std::optional<std::string>& route) {
    return route && (*route == pressOnTheRemoteRoute || *route == handleHereRoute);
}

// A bridge that cannot be read at the press leaves the press here.
bool pressedOnTheRemote(std::string_view key) {
    const auto route = remoteRouteOf(key, platform::desktop().frontApplicationIdentifier());
    if (!route || *route != pressOnTheRemoteRoute) return false;
    auto bridge = remoteBridge();
    if (!bridge) return false;
    pressOnTheRemote(*bridge, key);
    return true;
}

void observeTheSessionChanges(std::function<void()> observer) { sessionObservers.push_back(std::move(observer)); }

bool sessionIsLive() { return sessionLive; }
bool sessionIsWatched() { return sessionTimer != nullptr; }

}  // namespace host
