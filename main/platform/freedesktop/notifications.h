// Alerts as org.freedesktop.Notifications: one notification with one action per button, the
// alert's message as its summary and its informative text as its body. Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "platform/freedesktop/bus.h"

namespace host::platform {

class Notifications {
public:
    // `appName` names the application to the server, `desktopEntry` its desktop entry.
    Notifications(GDBusConnection* connection, std::string appName, std::string desktopEntry);
    ~Notifications();
    Notifications(const Notifications&) = delete;
    Notifications& operator=(const Notifications&) = delete;

    // Shows the alert and runs the loop until it is answered: the index of the button invoked;
    // the cancel button when the notification is dismissed, expires or its server goes away.
    // None, with the reason, when there is no server or it offers no actions.
    std::optional<int> ask(const Alert& alert, std::string* why);

    // The server's signals, through the subscriptions.
    void actionInvoked(std::uint32_t id, const std::string& action);
    void closed(std::uint32_t id);
    void ownerChanged(const std::string& newOwner);

private:
    GDBusConnection* connection_;
    std::string appName_;
    std::string desktopEntry_;
    guint invokedSubscription_ = 0;
    guint closedSubscription_ = 0;
    guint ownerSubscription_ = 0;
    // What the server said of each notification: the action's button, or CLOSED.
    std::map<std::uint32_t, int> answers_;
    // Counts the server's comings and goings: a notification dies with the server that showed it.
    unsigned serverGenerations_ = 0;
    // Alerts waiting now (one may wait inside another); answers are kept only meanwhile.
    int asking_ = 0;
};

}  // namespace host::platform
