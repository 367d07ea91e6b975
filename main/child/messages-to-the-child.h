// Everything the host says to the shell: JSON lines through its inbox, and the reopen request
// with its readiness handshake. Messages are best effort: dropped without an inbox, while the
// shell is not running, or during a swap. Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "support/json.h"

namespace host {

struct MessageSettings {
    bool tellsTheChildTheFront = false;
};
void configureTheMessages(MessageSettings settings);

void tellTheChild(const Json& message);
inline void tellTheChildTheMenuOpened(const Json& message) { tellTheChild(message); }

// {"front": id}, only while the host tells the front and there is an identifier.
void tellTheChildTheFront(const std::optional<std::string>& bundleIdentifier);

// {"menu": id, "title": title[, "branch": branch]}; true when the inbox accepted it.
bool sendMenuPickToTheChild(const std::string& id, const std::string& title, const std::optional<std::string>& branch);

// Lets the shell take the activation when the desktop knows it as an application.
void yieldToTheChild();

// SIGUSR1 to the shell, or, before it can take it, a request owed until it says it can.
void askTheChildToReopen();

// The shell's readiness signal: it takes reopen requests from now on; an owed one goes now.
void theChildHearsReopen();

// Whether process `pid` has a handler for `signal`.
bool catches(int signal, std::int32_t pid);

}  // namespace host
