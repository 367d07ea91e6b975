// What a request on the control socket does: republish the menu, take in a URL of the host's
// own schemes, or pick a row of the shell's menu by identifier and title. Every line gets a reply
// object, errors included; nothing here fails otherwise. Main thread only.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>

#include "control-socket/host-connection.h"
#include "support/json.h"

namespace host {

struct HostRequestSettings {
    std::set<std::string> schemes;  // lowercased
    std::size_t linkFileBytes = 32768;
};
void configureTheHostRequests(HostRequestSettings settings);

// The reply to one request line (without its line feed). Uses the menu owner, so it is made first.
Reply replyTo(std::string_view line);

}  // namespace host
