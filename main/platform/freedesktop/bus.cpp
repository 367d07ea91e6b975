#include "platform/freedesktop/bus.h"

#include "support/event-loop.h"

namespace host::platform::bus {
namespace {

constexpr const char* BUS_NAME = "org.freedesktop.DBus";
constexpr const char* BUS_PATH = "/org/freedesktop/DBus";
constexpr const char* BUS_INTERFACE = "org.freedesktop.DBus";
constexpr guint32 DO_NOT_QUEUE = 4;
constexpr guint32 PRIMARY_OWNER = 1;
constexpr guint32 ALREADY_OWNER = 4;
constexpr int BUS_DAEMON_MILLISECONDS = 5000;

struct PidQuestion {
    std::weak_ptr<bool> alive;
    std::function<void(std::optional<std::int32_t>)> answer;
};

void pidAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PidQuestion> question(static_cast<PidQuestion*>(data));
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    std::optional<std::int32_t> pid;
    if (reply) {
        guint32 number = 0;
        g_variant_get(reply, "(u)", &number);
        g_variant_unref(reply);
        if (number > 0 && number <= G_MAXINT32) pid = static_cast<std::int32_t>(number);
    }
    auto alive = question->alive.lock();
    if (alive && *alive) question->answer(pid);
}

struct Waiting {
    Variant reply;
    std::string error;
    bool unanswered = false;
    bool done = false;
};

void callAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    auto waiting = *static_cast<std::shared_ptr<Waiting>*>(data);
    delete static_cast<std::shared_ptr<Waiting>*>(data);
    GError* error = nullptr;
    waiting->reply = taken(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    if (!waiting->reply) {
        // The call reached its peer, which left or stayed silent: it may have acted on it.
        waiting->unanswered = g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
                              g_error_matches(error, G_IO_ERROR, G_IO_ERROR_TIMED_OUT);
        waiting->error = messageOf(error);
    }
    waiting->done = true;
}

}  // namespace

std::string messageOf(GError* error) {
    if (!error) return "unknown error";
    std::string message = error->message ? error->message : "unknown error";
    g_error_free(error);
    return message;
}

Connection connectedTo(const std::string& address, std::string* why) {
    GError* error = nullptr;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, &error);
    if (!connection) {
        if (why) *why = messageOf(error);
        return nullptr;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    return Connection(connection);
}

std::string systemBusAddress() {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    std::string text = address ? address : "";
    g_free(address);
    return text;
}

GDBusInterfaceInfo* interfaceNamed(const char* xml, const char* interfaceName) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    if (!node) return nullptr;
    GDBusInterfaceInfo* found = g_dbus_node_info_lookup_interface(node, interfaceName);
    if (found) g_dbus_interface_info_ref(found);
    g_dbus_node_info_unref(node);
    return found;
}

NameRequest requestName(GDBusConnection* connection, const std::string& name, std::string* why) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, BUS_NAME, BUS_PATH, BUS_INTERFACE, "RequestName",
                                                  g_variant_new("(su)", name.c_str(), DO_NOT_QUEUE),
                                                  G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
                                                  BUS_DAEMON_MILLISECONDS, nullptr, &error);
    if (!reply) {
        if (why) *why = messageOf(error);
        return NameRequest::failed;
    }
    guint32 answer = 0;
    g_variant_get(reply, "(u)", &answer);
    g_variant_unref(reply);
    if (answer == PRIMARY_OWNER || answer == ALREADY_OWNER) return NameRequest::owned;
    if (why) *why = name + " belongs to another connection";
    return NameRequest::taken;
}

void askForTheSenderPid(GDBusConnection* connection, const std::string& sender, std::weak_ptr<bool> alive,
                        std::function<void(std::optional<std::int32_t>)> answer) {
    g_dbus_connection_call(connection, BUS_NAME, BUS_PATH, BUS_INTERFACE, "GetConnectionUnixProcessID",
                           g_variant_new("(s)", sender.c_str()), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE,
                           BUS_DAEMON_MILLISECONDS, nullptr, pidAnswered,
                           new PidQuestion{std::move(alive), std::move(answer)});
}

Variant callAndWait(GDBusConnection* connection, const char* busName, const char* path, const char* interface,
                    const char* method, GVariant* parameters, const char* replyType, int milliseconds,
                    std::string* why, bool* unanswered) {
    auto waiting = std::make_shared<Waiting>();
    g_dbus_connection_call(connection, busName, path, interface, method, parameters,
                           replyType ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE, milliseconds,
                           nullptr, callAnswered, new std::shared_ptr<Waiting>(waiting));
    loop::runTheLoopUntil([&] { return waiting->done; });
    if (!waiting->reply && why) *why = waiting->error;
    if (unanswered) *unanswered = waiting->unanswered;
    return std::move(waiting->reply);
}

}  // namespace host::platform::bus
