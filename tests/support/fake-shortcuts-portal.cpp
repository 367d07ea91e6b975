#include "fake-shortcuts-portal.h"

#include <future>

#include <gio/gio.h>

namespace testing_support {
namespace {

constexpr const char* NAME = "org.freedesktop.portal.Desktop";
constexpr const char* PATH = "/org/freedesktop/portal/desktop";
constexpr const char* INTERFACE = "org.freedesktop.portal.GlobalShortcuts";
constexpr std::uint32_t DO_NOT_QUEUE = 4;
constexpr std::uint32_t PRIMARY_OWNER = 1;

const char* INTROSPECTION = R"xml(<node>
  <interface name="org.freedesktop.portal.GlobalShortcuts">
    <method name="CreateSession"><arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
    <method name="BindShortcuts">
      <arg type="o" direction="in"/><arg type="a(sa{sv})" direction="in"/><arg type="s" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="o" direction="out"/>
    </method>
    <property name="version" type="u" access="read"/>
  </interface>
</node>)xml";

std::string senderPart(const char* sender) {
    std::string part = sender + 1;
    for (char& c : part) c = c == '.' ? '_' : c;
    return part;
}

std::string optionOf(GVariant* options, const char* key) {
    const gchar* value = nullptr;
    return g_variant_lookup(options, key, "&s", &value) ? value : "";
}

void called(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer portal) {
    static_cast<FakeShortcutsPortal*>(portal)->take(connection, sender, method, parameters, invocation);
}

GVariant* property(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**, gpointer) {
    return g_variant_new_uint32(2);
}

const GDBusInterfaceVTable TABLE = {called, property, nullptr, {}};

}  // namespace

FakeShortcutsPortal::FakeShortcutsPortal(const std::string& busAddress, Answers answers) : answers_(std::move(answers)) {
    std::promise<void> started;
    thread_ = std::thread([this, busAddress, &started] {
        serve(busAddress);
        started.set_value();
        if (loop_) g_main_loop_run(loop_);
    });
    started.get_future().wait();
}

FakeShortcutsPortal::~FakeShortcutsPortal() {
    if (loop_) g_main_loop_quit(loop_);
    thread_.join();
    if (connection_) {
        g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        g_object_unref(connection_);
    }
    if (loop_) g_main_loop_unref(loop_);
}

// On the portal's thread: its own context, connection, object and name.
void FakeShortcutsPortal::serve(const std::string& busAddress) {
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    loop_ = g_main_loop_new(context, FALSE);
    g_main_context_unref(context);
    const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                         G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
    connection_ = g_dbus_connection_new_for_address_sync(busAddress.c_str(), flags, nullptr, nullptr, nullptr);
    if (!connection_) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(INTROSPECTION, nullptr);
    g_dbus_connection_register_object(connection_, PATH, node->interfaces[0], &TABLE, this, nullptr, nullptr);
    g_dbus_node_info_unref(node);
    // A portal of an earlier test may still hold the name until the bus sees it gone.
    for (int attempt = 0; attempt < 1000 && !ready_; ++attempt) {
        GVariant* owned = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", NAME, DO_NOT_QUEUE), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        std::uint32_t reply = 0;
        if (owned) g_variant_get(owned, "(u)", &reply), g_variant_unref(owned);
        ready_ = reply == PRIMARY_OWNER;
        if (!ready_) g_usleep(10000);
    }
}

void FakeShortcutsPortal::take(GDBusConnection* connection, const char* sender, const char* method, void* parameters,
                               void* call) {
    auto* arguments = static_cast<GVariant*>(parameters);
    auto* invocation = static_cast<GDBusMethodInvocation*>(call);
    GVariant* options = g_variant_get_child_value(arguments, g_variant_n_children(arguments) - 1);
    const std::string request = std::string(PATH) + "/request/" + senderPart(sender) + "/" + optionOf(options, "handle_token");
    GVariantBuilder results;
    g_variant_builder_init(&results, G_VARIANT_TYPE_VARDICT);
    std::uint32_t response = 0;
    if (std::string(method) == "CreateSession") {
        std::lock_guard<std::mutex> guard(lock_);
        session_ = std::string(PATH) + "/session/" + senderPart(sender) + "/" + optionOf(options, "session_handle_token");
        g_variant_builder_add(&results, "{sv}", "session_handle", g_variant_new_string(session_.c_str()));
        response = answers_.session;
    } else {
        GVariant* shortcuts = g_variant_get_child_value(arguments, 1);
        GVariantBuilder bound;
        g_variant_builder_init(&bound, G_VARIANT_TYPE("a(sa{sv})"));
        Bind asked;
        GVariantIter iter;
        g_variant_iter_init(&iter, shortcuts);
        const gchar* id = nullptr;
        GVariant* properties = nullptr;
        while (g_variant_iter_next(&iter, "(&s@a{sv})", &id, &properties)) {
            asked[id] = optionOf(properties, "preferred_trigger");
            if (!answers_.unbound.contains(id)) g_variant_builder_add(&bound, "(s@a{sv})", id, properties);
            g_variant_unref(properties);
        }
        g_variant_unref(shortcuts);
        g_variant_builder_add(&results, "{sv}", "shortcuts", g_variant_builder_end(&bound));
        response = answers_.bind;
        std::lock_guard<std::mutex> guard(lock_);
        binds_.push_back(std::move(asked));
    }
    g_variant_unref(options);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", request.c_str()));
    g_dbus_connection_emit_signal(connection, sender, request.c_str(), "org.freedesktop.portal.Request", "Response",
                                  g_variant_new("(ua{sv})", response, &results), nullptr);
}

std::vector<FakeShortcutsPortal::Bind> FakeShortcutsPortal::binds() const {
    std::lock_guard<std::mutex> guard(lock_);
    return binds_;
}

void FakeShortcutsPortal::press(const std::string& id) {
    std::string session;
    {
        std::lock_guard<std::mutex> guard(lock_);
        session = session_;
    }
    g_dbus_connection_emit_signal(connection_, nullptr, PATH, INTERFACE, "Activated",
                                  g_variant_new("(ost@a{sv})", session.c_str(), id.c_str(), guint64{0},
                                                g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
                                  nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

}  // namespace testing_support
