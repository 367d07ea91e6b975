// Alerts through the notification server: how a button's answer reaches the host.
#include "platform/freedesktop/notifications.h"

#include <charconv>
#include <vector>

#include "support/event-loop.h"

namespace host::platform {
namespace {

constexpr const char* NOTIFICATIONS_BUS_NAME = "org.freedesktop.Notifications";
constexpr const char* NOTIFICATIONS_PATH = "/org/freedesktop/Notifications";
constexpr const char* NOTIFICATIONS_INTERFACE = "org.freedesktop.Notifications";
constexpr const char* ACTIONS_CAPABILITY = "actions";
constexpr const char* BUS_NAME = "org.freedesktop.DBus";
constexpr guchar CRITICAL_URGENCY = 2;   // stays until the user answers
constexpr gint32 NEVER_EXPIRES = 0;
constexpr int SERVER_MILLISECONDS = 5000;
constexpr int CLOSED = -1;

void invoked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
             gpointer notifications) {
    guint32 id = 0;
    const gchar* action = nullptr;
    g_variant_get(parameters, "(u&s)", &id, &action);
    static_cast<Notifications*>(notifications)->actionInvoked(id, action);
}

void closedSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                  gpointer notifications) {
    guint32 id = 0, reason = 0;
    g_variant_get(parameters, "(uu)", &id, &reason);
    static_cast<Notifications*>(notifications)->closed(id);
}

void ownerSignal(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                 gpointer notifications) {
    const gchar *name = nullptr, *before = nullptr, *after = nullptr;
    g_variant_get(parameters, "(&s&s&s)", &name, &before, &after);
    static_cast<Notifications*>(notifications)->ownerChanged(after);
}

bool offersActions(GVariant* capabilities) {
    GVariant* list = g_variant_get_child_value(capabilities, 0);
    bool found = false;
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    const gchar* capability = nullptr;
    while (!found && g_variant_iter_next(&iter, "&s", &capability)) found = std::string(capability) == ACTIONS_CAPABILITY;
    g_variant_unref(list);
    return found;
}

// One action per button, keyed by the button's index.
GVariant* actionsOf(const Alert& alert) {
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        g_variant_builder_add(&actions, "s", std::to_string(i).c_str());
        g_variant_builder_add(&actions, "s", alert.buttons[i].c_str());
    }
    return g_variant_builder_end(&actions);
}

GVariant* hintsFor(const std::string& desktopEntry) {
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(CRITICAL_URGENCY));
    if (!desktopEntry.empty()) {
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(desktopEntry.c_str()));
    }
    return g_variant_builder_end(&hints);
}

void forgetTheReply(GObject* source, GAsyncResult* result, gpointer) {
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply) g_variant_unref(reply);
}

}  // namespace

Notifications::Notifications(GDBusConnection* connection, std::string appName, std::string desktopEntry)
    : connection_(connection), appName_(std::move(appName)), desktopEntry_(std::move(desktopEntry)) {
    invokedSubscription_ = g_dbus_connection_signal_subscribe(
        connection_, NOTIFICATIONS_BUS_NAME, NOTIFICATIONS_INTERFACE, "ActionInvoked", NOTIFICATIONS_PATH, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, invoked, this, nullptr);
    closedSubscription_ = g_dbus_connection_signal_subscribe(
        connection_, NOTIFICATIONS_BUS_NAME, NOTIFICATIONS_INTERFACE, "NotificationClosed", NOTIFICATIONS_PATH,
        nullptr, G_DBUS_SIGNAL_FLAGS_NONE, closedSignal, this, nullptr);
    ownerSubscription_ = g_dbus_connection_signal_subscribe(connection_, BUS_NAME, BUS_NAME, "NameOwnerChanged",
                                                            nullptr, NOTIFICATIONS_BUS_NAME, G_DBUS_SIGNAL_FLAGS_NONE,
                                                            ownerSignal, this, nullptr);
}

Notifications::~Notifications() {
    for (guint subscription : {invokedSubscription_, closedSubscription_, ownerSubscription_}) {
        if (subscription) g_dbus_connection_signal_unsubscribe(connection_, subscription);
    }
}

void Notifications::actionInvoked(std::uint32_t id, const std::string& action) {
    int button = CLOSED;
    auto [end, error] = std::from_chars(action.data(), action.data() + action.size(), button);
    if (asking_ > 0 && error == std::errc() && end == action.data() + action.size() && button >= 0 &&
        !answers_.contains(id)) {
        answers_[id] = button;
    }
}

// Servers close a notification after its action too; the first word counts.
void Notifications::closed(std::uint32_t id) {
    if (asking_ > 0) answers_.try_emplace(id, CLOSED);
}

void Notifications::ownerChanged(const std::string&) { ++serverGenerations_; }

std::optional<int> Notifications::ask(const Alert& alert, std::string* why) {
    std::string failure;
    bus::Variant capabilities = bus::callAndWait(connection_, NOTIFICATIONS_BUS_NAME, NOTIFICATIONS_PATH,
                                                 NOTIFICATIONS_INTERFACE, "GetCapabilities", nullptr, "(as)",
                                                 SERVER_MILLISECONDS, &failure);
    if (!capabilities) return *why = "no notification server (" + failure + ")", std::nullopt;
    if (!offersActions(capabilities.get())) return *why = "the notification server offers no actions", std::nullopt;
    const unsigned generation = serverGenerations_;
    ++asking_;
    struct Done {
        Notifications& notifications;
        ~Done() {
            if (--notifications.asking_ == 0) notifications.answers_.clear();
        }
    } done{*this};
    GVariant* parameters = g_variant_new("(susss@as@a{sv}i)", appName_.c_str(), 0u, "", alert.message.c_str(),
                                         alert.informativeText.c_str(), actionsOf(alert), hintsFor(desktopEntry_),
                                         NEVER_EXPIRES);
    bool unanswered = false;
    bus::Variant shown = bus::callAndWait(connection_, NOTIFICATIONS_BUS_NAME, NOTIFICATIONS_PATH,
                                          NOTIFICATIONS_INTERFACE, "Notify", parameters, "(u)", SERVER_MILLISECONDS,
                                          &failure, &unanswered);
    const int cancel = cancelButtonOf(alert);
    // A server that went away with the alert may have shown it: nobody chose, so it is cancelled.
    if (!shown && unanswered) return cancel;
    if (!shown) return *why = "the notification server refused the alert (" + failure + ")", std::nullopt;
    guint32 id = 0;
    g_variant_get(shown.get(), "(u)", &id);
    for (;;) {
        loop::runTheLoopUntil([&] { return answers_.contains(id) || serverGenerations_ != generation; });
        if (!answers_.contains(id)) return cancel;  // the server went away with the notification
        const int answer = answers_[id];
        answers_.erase(id);
        if (answer == CLOSED) return cancel;
        if (static_cast<std::size_t>(answer) < alert.buttons.size()) {
            g_dbus_connection_call(connection_, NOTIFICATIONS_BUS_NAME, NOTIFICATIONS_PATH, NOTIFICATIONS_INTERFACE,
                                   "CloseNotification", g_variant_new("(u)", id), nullptr,
                                   G_DBUS_CALL_FLAGS_NO_AUTO_START, SERVER_MILLISECONDS, nullptr, forgetTheReply,
                                   nullptr);
            return answer;
        }
    }
}

}  // namespace host::platform
