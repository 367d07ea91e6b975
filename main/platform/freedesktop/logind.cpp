// logind: how a shut-down reaches the host as a quit request.
#include "platform/freedesktop/logind.h"

#include <gio/gunixfdlist.h>
#include <unistd.h>

namespace host::platform {
namespace {

constexpr const char* LOGIND_BUS_NAME = "org.freedesktop.login1";
constexpr const char* LOGIND_PATH = "/org/freedesktop/login1";
constexpr const char* LOGIND_INTERFACE = "org.freedesktop.login1.Manager";
constexpr const char* SHUTDOWN_LOCK = "shutdown";
constexpr const char* DELAY_MODE = "delay";
constexpr int LOGIND_MILLISECONDS = 10000;

void busReady(GObject*, GAsyncResult* result, gpointer logind) {
    GError* error = nullptr;
    GDBusConnection* connection = g_dbus_connection_new_for_address_finish(result, &error);
    if (!connection) {
        // Cancelled with its owner, or no system bus: either way nothing to hear.
        g_clear_error(&error);
        return;
    }
    g_dbus_connection_set_exit_on_close(connection, FALSE);
    static_cast<Logind*>(logind)->connected(bus::Connection(connection));
}

void announced(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
               gpointer logind) {
    gboolean starting = FALSE;
    g_variant_get(parameters, "(b)", &starting);
    static_cast<Logind*>(logind)->prepareForShutdown(starting);
}

void lockTaken(GObject* source, GAsyncResult* result, gpointer data) {
    GUnixFDList* descriptors = nullptr;
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_finish(G_DBUS_CONNECTION(source), &descriptors, result,
                                                                       &error);
    const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    g_clear_error(&error);
    if (reply && descriptors && !cancelled) {
        gint32 index = 0;
        g_variant_get(reply, "(h)", &index);
        *static_cast<int*>(data) = g_unix_fd_list_get(descriptors, index, nullptr);
    }
    if (reply) g_variant_unref(reply);
    if (descriptors) g_object_unref(descriptors);
}

}  // namespace

Logind::Logind(std::string who, std::function<void()> shuttingDown)
    : who_(std::move(who)), shuttingDown_(std::move(shuttingDown)), cancellable_(g_cancellable_new()) {
    const std::string address = bus::systemBusAddress();
    if (address.empty()) return;
    auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                   G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    g_dbus_connection_new_for_address(address.c_str(), flags, nullptr, cancellable_, busReady, this);
}

Logind::~Logind() {
    g_cancellable_cancel(cancellable_);
    if (subscription_) g_dbus_connection_signal_unsubscribe(connection_.get(), subscription_);
    g_object_unref(cancellable_);
    if (lock_ >= 0) close(lock_);
}

void Logind::connected(bus::Connection connection) {
    connection_ = std::move(connection);
    subscription_ = g_dbus_connection_signal_subscribe(connection_.get(), LOGIND_BUS_NAME, LOGIND_INTERFACE,
                                                       "PrepareForShutdown", LOGIND_PATH, nullptr,
                                                       G_DBUS_SIGNAL_FLAGS_NONE, announced, this, nullptr);
    takeTheDelayLock();
}

// Without the lock (no logind, or it refuses) the announcement still comes; there is less time.
void Logind::takeTheDelayLock() {
    if (lock_ >= 0) return;
    const std::string why = "ending " + who_ + " in order";
    g_dbus_connection_call_with_unix_fd_list(
        connection_.get(), LOGIND_BUS_NAME, LOGIND_PATH, LOGIND_INTERFACE, "Inhibit",
        g_variant_new("(ssss)", SHUTDOWN_LOCK, who_.c_str(), why.c_str(), DELAY_MODE), G_VARIANT_TYPE("(h)"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, LOGIND_MILLISECONDS, nullptr, cancellable_, lockTaken, &lock_);
}

// The lock is kept until the host exits; after a shut-down that was called off it is taken
// again if logind let it go.
void Logind::prepareForShutdown(bool starting) {
    if (starting) {
        if (shuttingDown_) shuttingDown_();
        return;
    }
    takeTheDelayLock();
}

}  // namespace host::platform
