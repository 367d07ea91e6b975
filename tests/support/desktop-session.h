// A host started in a fixture bundle with the test as its scripted desktop: the test sends
// desktop events and waits for the host's state. The host and its socket go with the object.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "desktop-peer.h"
#include "running-host.h"

namespace testing_support {

class DesktopSession {
public:
    // Listens, starts the host with the desktop named in its environment, takes its connection,
    // sends `setup` and "ready". started() tells whether all of that worked.
    explicit DesktopSession(const BundleFixture& fixture, std::vector<Json> setup = {},
                            std::vector<std::string> arguments = {}, std::map<std::string, std::string> extra = {},
                            const fs::path& program = {});

    bool started() const { return why_.empty(); }
    // Why the session could not start.
    const std::string& why() const { return why_; }

    desktop::Peer& desktop() { return *peer_; }
    RunningHost& host() { return *host_; }

    bool send(const std::string& event, const Json& fields = Json::object()) { return peer_->send(event, fields); }
    // Everything sent so far has been handled and the resulting state has arrived.
    bool sync() { return peer_->ping(20); }
    std::optional<Json> waitFor(const std::string& kind, const desktop::Predicate& matches = {}) {
        return matches ? peer_->waitFor(kind, matches, 20) : peer_->waitFor(kind, 20);
    }
    // The states of a kind received so far, in order.
    std::vector<Json> statesOf(const std::string& kind);

private:
    std::unique_ptr<desktop::Peer> peer_;
    std::unique_ptr<RunningHost> host_;
    std::string why_;
};

// A launched event for a pretend application.
Json launchedApplication(std::int32_t pid, const std::string& bundle);

// The menu of the first status item in a "status-items" state, or null.
Json firstMenuOf(const Json& state);

}  // namespace testing_support
