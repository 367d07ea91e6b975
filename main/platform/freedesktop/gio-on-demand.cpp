// GIO, loaded when the host first speaks D-Bus or opens a URL through the desktop: linked in,
// it and the six libraries only it needs (libmount, libselinux, libblkid, libffi, libgmodule,
// zlib) would be mapped and relocated at every start, before the shell can be spawned, though a
// host without a session bus never calls it. GLib itself stays linked: the event loop is GLib's.
#include "platform/freedesktop/gio-on-demand.h"

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include "support/on-demand.h"

namespace host::platform {
namespace {

OnDemandLibraries& gio() {
    static OnDemandLibraries library{"libgio-2.0.so.0"};
    return library;
}

// A call that cannot be made fails as GIO's own failing calls do: with an error to read.
void reportTheMissingLibrary(GError** error) {
    std::string why = "libgio-2.0.so.0 cannot be loaded";
    gio().load(&why);
    g_set_error_literal(error, g_quark_from_static_string("host-gio-missing"), 0, why.c_str());
}

}  // namespace

bool loadTheGioLibrary(std::string* why) { return gio().load(why); }

}  // namespace host::platform

#define FORWARD(name, ...) FORWARD_ON_DEMAND(host::platform::gio(), name, __VA_ARGS__)
#define FORWARD_OR_FAIL(error, name, ...)                                                            \
    static const auto real = reinterpret_cast<decltype(&name)>(host::platform::gio().symbol(#name)); \
    if (!real) {                                                                                     \
        host::platform::reportTheMissingLibrary(error);                                              \
        return decltype(real(__VA_ARGS__))();                                                        \
    }                                                                                                \
    return real(__VA_ARGS__)

extern "C" {

gboolean g_app_info_launch_default_for_uri(const char* uri, GAppLaunchContext* context, GError** error) {
    FORWARD_OR_FAIL(error, g_app_info_launch_default_for_uri, uri, context, error);
}
GDBusConnection* g_bus_get_sync(GBusType bus_type, GCancellable* cancellable, GError** error) {
    FORWARD_OR_FAIL(error, g_bus_get_sync, bus_type, cancellable, error);
}
void g_bus_unwatch_name(guint watcher_id) { FORWARD(g_bus_unwatch_name, watcher_id); }
guint g_bus_watch_name_on_connection(GDBusConnection* connection, const gchar* name, GBusNameWatcherFlags flags,
                                     GBusNameAppearedCallback name_appeared_handler,
                                     GBusNameVanishedCallback name_vanished_handler, gpointer user_data,
                                     GDestroyNotify user_data_free_func) {
    FORWARD(g_bus_watch_name_on_connection, connection, name, flags, name_appeared_handler, name_vanished_handler,
            user_data, user_data_free_func);
}
void g_cancellable_cancel(GCancellable* cancellable) { FORWARD(g_cancellable_cancel, cancellable); }
GCancellable* g_cancellable_new() { FORWARD(g_cancellable_new); }
gchar* g_dbus_address_get_for_bus_sync(GBusType bus_type, GCancellable* cancellable, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_address_get_for_bus_sync, bus_type, cancellable, error);
}
void g_dbus_connection_call(GDBusConnection* connection, const gchar* bus_name, const gchar* object_path,
                            const gchar* interface_name, const gchar* method_name, GVariant* parameters,
                            const GVariantType* reply_type, GDBusCallFlags flags, gint timeout_msec,
                            GCancellable* cancellable, GAsyncReadyCallback callback, gpointer user_data) {
    FORWARD(g_dbus_connection_call, connection, bus_name, object_path, interface_name, method_name, parameters,
            reply_type, flags, timeout_msec, cancellable, callback, user_data);
}
GVariant* g_dbus_connection_call_finish(GDBusConnection* connection, GAsyncResult* res, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_call_finish, connection, res, error);
}
GVariant* g_dbus_connection_call_sync(GDBusConnection* connection, const gchar* bus_name, const gchar* object_path,
                                      const gchar* interface_name, const gchar* method_name, GVariant* parameters,
                                      const GVariantType* reply_type, GDBusCallFlags flags, gint timeout_msec,
                                      GCancellable* cancellable, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_call_sync, connection, bus_name, object_path, interface_name, method_name,
                    parameters, reply_type, flags, timeout_msec, cancellable, error);
}
void g_dbus_connection_call_with_unix_fd_list(GDBusConnection* connection, const gchar* bus_name,
                                              const gchar* object_path, const gchar* interface_name,
                                              const gchar* method_name, GVariant* parameters,
                                              const GVariantType* reply_type, GDBusCallFlags flags, gint timeout_msec,
                                              GUnixFDList* fd_list, GCancellable* cancellable,
                                              GAsyncReadyCallback callback, gpointer user_data) {
    FORWARD(g_dbus_connection_call_with_unix_fd_list, connection, bus_name, object_path, interface_name, method_name,
            parameters, reply_type, flags, timeout_msec, fd_list, cancellable, callback, user_data);
}
GVariant* g_dbus_connection_call_with_unix_fd_list_finish(GDBusConnection* connection, GUnixFDList** out_fd_list,
                                                          GAsyncResult* res, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_call_with_unix_fd_list_finish, connection, out_fd_list, res, error);
}
gboolean g_dbus_connection_emit_signal(GDBusConnection* connection, const gchar* destination_bus_name,
                                       const gchar* object_path, const gchar* interface_name, const gchar* signal_name,
                                       GVariant* parameters, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_emit_signal, connection, destination_bus_name, object_path, interface_name,
                    signal_name, parameters, error);
}
gboolean g_dbus_connection_flush_sync(GDBusConnection* connection, GCancellable* cancellable, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_flush_sync, connection, cancellable, error);
}
GType g_dbus_connection_get_type() { FORWARD(g_dbus_connection_get_type); }
const gchar* g_dbus_connection_get_unique_name(GDBusConnection* connection) {
    FORWARD(g_dbus_connection_get_unique_name, connection);
}
void g_dbus_connection_new_for_address(const gchar* address, GDBusConnectionFlags flags, GDBusAuthObserver* observer,
                                       GCancellable* cancellable, GAsyncReadyCallback callback, gpointer user_data) {
    FORWARD(g_dbus_connection_new_for_address, address, flags, observer, cancellable, callback, user_data);
}
GDBusConnection* g_dbus_connection_new_for_address_finish(GAsyncResult* res, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_new_for_address_finish, res, error);
}
GDBusConnection* g_dbus_connection_new_for_address_sync(const gchar* address, GDBusConnectionFlags flags,
                                                        GDBusAuthObserver* observer, GCancellable* cancellable,
                                                        GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_new_for_address_sync, address, flags, observer, cancellable, error);
}
guint g_dbus_connection_register_object(GDBusConnection* connection, const gchar* object_path,
                                        GDBusInterfaceInfo* interface_info, const GDBusInterfaceVTable* vtable,
                                        gpointer user_data, GDestroyNotify user_data_free_func, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_connection_register_object, connection, object_path, interface_info, vtable,
                    user_data, user_data_free_func, error);
}
void g_dbus_connection_set_exit_on_close(GDBusConnection* connection, gboolean exit_on_close) {
    FORWARD(g_dbus_connection_set_exit_on_close, connection, exit_on_close);
}
guint g_dbus_connection_signal_subscribe(GDBusConnection* connection, const gchar* sender, const gchar* interface_name,
                                         const gchar* member, const gchar* object_path, const gchar* arg0,
                                         GDBusSignalFlags flags, GDBusSignalCallback callback, gpointer user_data,
                                         GDestroyNotify user_data_free_func) {
    FORWARD(g_dbus_connection_signal_subscribe, connection, sender, interface_name, member, object_path, arg0, flags,
            callback, user_data, user_data_free_func);
}
void g_dbus_connection_signal_unsubscribe(GDBusConnection* connection, guint subscription_id) {
    FORWARD(g_dbus_connection_signal_unsubscribe, connection, subscription_id);
}
gboolean g_dbus_connection_unregister_object(GDBusConnection* connection, guint registration_id) {
    FORWARD(g_dbus_connection_unregister_object, connection, registration_id);
}
GQuark g_dbus_error_quark() { FORWARD(g_dbus_error_quark); }
GDBusInterfaceInfo* g_dbus_interface_info_ref(GDBusInterfaceInfo* info) { FORWARD(g_dbus_interface_info_ref, info); }
gboolean g_dbus_is_name(const gchar* string) { FORWARD(g_dbus_is_name, string); }
gboolean g_dbus_is_unique_name(const gchar* string) { FORWARD(g_dbus_is_unique_name, string); }
const gchar* g_dbus_method_invocation_get_sender(GDBusMethodInvocation* invocation) {
    FORWARD(g_dbus_method_invocation_get_sender, invocation);
}
void g_dbus_method_invocation_return_error_literal(GDBusMethodInvocation* invocation, GQuark domain, gint code,
                                                   const gchar* message) {
    FORWARD(g_dbus_method_invocation_return_error_literal, invocation, domain, code, message);
}
void g_dbus_method_invocation_return_value(GDBusMethodInvocation* invocation, GVariant* parameters) {
    FORWARD(g_dbus_method_invocation_return_value, invocation, parameters);
}
GDBusInterfaceInfo* g_dbus_node_info_lookup_interface(GDBusNodeInfo* info, const gchar* name) {
    FORWARD(g_dbus_node_info_lookup_interface, info, name);
}
GDBusNodeInfo* g_dbus_node_info_new_for_xml(const gchar* xml_data, GError** error) {
    FORWARD_OR_FAIL(error, g_dbus_node_info_new_for_xml, xml_data, error);
}
void g_dbus_node_info_unref(GDBusNodeInfo* info) { FORWARD(g_dbus_node_info_unref, info); }
GQuark g_io_error_quark() { FORWARD(g_io_error_quark); }
gint g_unix_fd_list_get(GUnixFDList* list, gint index_, GError** error) {
    FORWARD_OR_FAIL(error, g_unix_fd_list_get, list, index_, error);
}
void g_object_unref(gpointer object) { FORWARD(g_object_unref, object); }
GTypeInstance* g_type_check_instance_cast(GTypeInstance* instance, GType iface_type) {
    FORWARD(g_type_check_instance_cast, instance, iface_type);
}

}  // extern "C"
