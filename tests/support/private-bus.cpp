#include "private-bus.h"

#include <cerrno>
#include <future>

#include "process-runner.h"

namespace testing_support {
namespace {

// Anyone may own and call anything; no service is ever activated.
constexpr const char* BUS_CONFIGURATION = R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

GDBusInterfaceInfo* interfaceOf(const char* xml) {
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(xml, nullptr);
    GDBusInterfaceInfo* interface = node ? g_dbus_interface_info_ref(node->interfaces[0]) : nullptr;
    if (node) g_dbus_node_info_unref(node);
    return interface;
}

constexpr const char* WATCHER_XML = R"XML(<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
</interface></node>)XML";

constexpr const char* NOTIFICATIONS_XML = R"XML(<node><interface name="org.freedesktop.Notifications">
  <method name="GetCapabilities"><arg type="as" direction="out"/></method>
  <method name="Notify">
    <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
    <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
    <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
  </method>
  <method name="CloseNotification"><arg type="u" direction="in"/></method>
  <method name="GetServerInformation">
    <arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/><arg type="s" direction="out"/>
  </method>
</interface></node>)XML";

void watcherCalled(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                   GVariant* parameters, GDBusMethodInvocation* invocation, gpointer watcher) {
    if (std::string(method) == "RegisterStatusNotifierItem") {
        const gchar* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        std::string named = service;
        if (named.starts_with("/")) named = std::string(sender) + named;
        if (!static_cast<TestWatcher*>(watcher)->registered(named, invocation)) return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* watcherProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                          gpointer) {
    if (std::string(name) == "ProtocolVersion") return g_variant_new_int32(0);
    return g_variant_new_boolean(TRUE);
}

const GDBusInterfaceVTable WATCHER_TABLE = {watcherCalled, watcherProperty, nullptr, {}};

void notificationsCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                         GVariant* parameters, GDBusMethodInvocation* invocation, gpointer server) {
    auto* notifications = static_cast<TestNotificationServer*>(server);
    const std::string name = method;
    if (name == "GetCapabilities") {
        std::vector<const gchar*> list;
        for (const auto& capability : notifications->capabilities()) list.push_back(capability.c_str());
        list.push_back(nullptr);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", list.data()));
    } else if (name == "Notify") {
        notifications->notify(parameters, invocation);
    } else if (name == "GetServerInformation") {
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "test", "test", "1", "1.2"));
    } else {
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
}

const GDBusInterfaceVTable NOTIFICATIONS_TABLE = {notificationsCalled, nullptr, nullptr, {}};

void signalHeard(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* member, GVariant*,
                 gpointer record) {
    (*static_cast<std::function<void(const std::string&)>*>(record))(member);
}

}  // namespace

// The bus

PrivateBus::PrivateBus(const fs::path& folder) {
    const fs::path configuration = folder / "bus.conf";
    writeText(configuration, BUS_CONFIGURATION);
    constexpr int ADDRESS_FD = 3;
    StartedServer server = startAServer({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + configuration.string(),
                                         "--print-address=" + std::to_string(ADDRESS_FD)},
                                        ADDRESS_FD);
    pid_ = server.pid;
    address_ = server.announced;
}

PrivateBus::~PrivateBus() { endTheServer(pid_); }

std::map<std::string, std::string> PrivateBus::environment() const {
    return {{"DBUS_SESSION_BUS_ADDRESS", address_}, {"DBUS_SYSTEM_BUS_ADDRESS", address_}, {"MENU_BAR_DESKTOP", ""}};
}

// A connection on a thread

BusConnection::BusConnection(const std::string& address) {
    context_ = g_main_context_new();
    loop_ = g_main_loop_new(context_, FALSE);
    std::promise<void> ready;
    auto readyFuture = ready.get_future();
    thread_ = std::thread([this, address, &ready] {
        g_main_context_push_thread_default(context_);
        auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                       G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        connection_ = g_dbus_connection_new_for_address_sync(address.c_str(), flags, nullptr, nullptr, nullptr);
        if (connection_) g_dbus_connection_set_exit_on_close(connection_, FALSE);
        ready.set_value();
        g_main_loop_run(loop_);
        g_main_context_pop_thread_default(context_);
    });
    readyFuture.wait();
}

BusConnection::~BusConnection() {
    if (connection_) {
        onItsThread([this] {
            for (guint subscription : subscriptions_) g_dbus_connection_signal_unsubscribe(connection_, subscription);
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
        });
    }
    g_main_loop_quit(loop_);
    thread_.join();
    if (connection_) g_object_unref(connection_);
    g_main_loop_unref(loop_);
    g_main_context_unref(context_);
}

void BusConnection::onItsThread(const std::function<void()>& work) {
    struct Job {
        const std::function<void()>* work;
        std::promise<void> done;
    } job{&work, {}};
    auto done = job.done.get_future();
    g_main_context_invoke(
        context_,
        [](gpointer data) -> gboolean {
            auto* job = static_cast<Job*>(data);
            (*job->work)();
            job->done.set_value();
            return G_SOURCE_REMOVE;
        },
        &job);
    done.wait();
}

bool BusConnection::ownName(const std::string& name) {
    auto reply = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                      g_variant_new("(su)", name.c_str(), 4u));
    guint32 answer = 0;
    if (reply) g_variant_get(reply->get(), "(u)", &answer);
    return answer == 1;
}

std::optional<Variant> BusConnection::call(const std::string& destination, const std::string& path,
                                           const std::string& interface, const std::string& method,
                                           GVariant* parameters, std::string* error) {
    GError* failure = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection_, destination.c_str(), path.c_str(), interface.c_str(),
                                                  method.c_str(), parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 10000,
                                                  nullptr, &failure);
    if (!reply) {
        if (error) *error = failure ? failure->message : "no reply";
        g_clear_error(&failure);
        return std::nullopt;
    }
    return Variant(reply);
}

std::optional<Variant> BusConnection::property(const std::string& destination, const std::string& path,
                                               const std::string& interface, const std::string& name) {
    auto reply = call(destination, path, "org.freedesktop.DBus.Properties", "Get",
                      g_variant_new("(ss)", interface.c_str(), name.c_str()));
    if (!reply) return std::nullopt;
    GVariant* value = nullptr;
    g_variant_get(reply->get(), "(v)", &value);
    return Variant(value);
}

void BusConnection::recordSignals(const std::string& interface) {
    auto* record = new std::function<void(const std::string&)>([this](const std::string& member) {
        std::lock_guard<std::mutex> guard(lock_);
        signals_.push_back(member);
    });
    onItsThread([&] {
        subscriptions_.push_back(g_dbus_connection_signal_subscribe(
            connection_, nullptr, interface.c_str(), nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, signalHeard,
            record, [](gpointer data) { delete static_cast<std::function<void(const std::string&)>*>(data); }));
    });
    // The bus takes the match rule before it answers a later call: no signal sent after this
    // returns is missed.
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetId", nullptr);
}

std::vector<std::string> BusConnection::signalsSeen() {
    std::lock_guard<std::mutex> guard(lock_);
    return signals_;
}

void BusConnection::forgetSignals() {
    std::lock_guard<std::mutex> guard(lock_);
    signals_.clear();
}

// The watcher

TestWatcher::TestWatcher(const std::string& address, bool answers) : bus_(address), answers_(answers) {
    static GDBusInterfaceInfo* const interface = interfaceOf(WATCHER_XML);
    if (!bus_.get()) return;
    bus_.onItsThread([&] {
        object_ = g_dbus_connection_register_object(bus_.get(), "/StatusNotifierWatcher", interface, &WATCHER_TABLE,
                                                    this, nullptr, nullptr);
    });
    started_ = object_ && bus_.ownName("org.kde.StatusNotifierWatcher");
}

// The calls held unanswered go with the connection: their callers hear it closed.
TestWatcher::~TestWatcher() {
    if (object_) bus_.onItsThread([&] { g_dbus_connection_unregister_object(bus_.get(), object_); });
    for (GDBusMethodInvocation* invocation : unanswered_) g_object_unref(invocation);
}

bool TestWatcher::registered(const std::string& service, GDBusMethodInvocation* invocation) {
    std::lock_guard<std::mutex> guard(lock_);
    items_.push_back(service);
    if (!answers_) unanswered_.push_back(invocation);  // the handler owns the call it does not answer
    return answers_;
}

std::vector<std::string> TestWatcher::registered() {
    std::lock_guard<std::mutex> guard(lock_);
    return items_;
}

// The notification server

TestNotificationServer::TestNotificationServer(const std::string& address, std::vector<std::string> capabilities)
    : bus_(address), capabilities_(std::move(capabilities)) {
    static GDBusInterfaceInfo* const interface = interfaceOf(NOTIFICATIONS_XML);
    if (!bus_.get()) return;
    bus_.onItsThread([&] {
        object_ = g_dbus_connection_register_object(bus_.get(), "/org/freedesktop/Notifications", interface,
                                                    &NOTIFICATIONS_TABLE, this, nullptr, nullptr);
    });
    started_ = object_ && bus_.ownName("org.freedesktop.Notifications");
}

TestNotificationServer::~TestNotificationServer() {
    if (object_) bus_.onItsThread([&] { g_dbus_connection_unregister_object(bus_.get(), object_); });
}

GVariant* TestNotificationServer::notify(GVariant* parameters) {
    const gchar *appName = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    guint32 replaces = 0;
    GVariant* actions = nullptr;
    g_variant_get(parameters, "(&su&s&s&s@asa{sv}i)", &appName, &replaces, &icon, &summary, &body, &actions, nullptr,
                  nullptr);
    std::lock_guard<std::mutex> guard(lock_);
    const auto id = static_cast<std::uint32_t>(shown_.size() + 1);
    shown_.push_back({id, appName, summary, body, stringsOf(actions)});
    g_variant_unref(actions);
    return g_variant_new("(u)", id);
}

void TestNotificationServer::notify(GVariant* parameters, GDBusMethodInvocation* invocation) {
    GVariant* id = notify(parameters);
    if (!withholding_) return g_dbus_method_invocation_return_value(invocation, id);
    g_variant_unref(g_variant_ref_sink(id));
    withheld_.calls.push_back(invocation);
}

TestNotificationServer::Withheld::~Withheld() {
    for (GDBusMethodInvocation* call : calls) g_object_unref(call);
}

std::vector<TestNotificationServer::Shown> TestNotificationServer::shown() {
    std::lock_guard<std::mutex> guard(lock_);
    return shown_;
}

void TestNotificationServer::invoke(std::uint32_t id, const std::string& action) {
    bus_.onItsThread([&] {
        g_dbus_connection_emit_signal(bus_.get(), nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "ActionInvoked",
                                      g_variant_new("(us)", id, action.c_str()), nullptr);
        g_dbus_connection_emit_signal(bus_.get(), nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "NotificationClosed",
                                      g_variant_new("(uu)", id, 3u), nullptr);
    });
}

void TestNotificationServer::dismiss(std::uint32_t id) {
    bus_.onItsThread([&] {
        g_dbus_connection_emit_signal(bus_.get(), nullptr, "/org/freedesktop/Notifications",
                                      "org.freedesktop.Notifications", "NotificationClosed",
                                      g_variant_new("(uu)", id, 2u), nullptr);
    });
}

// logind

TestLogind::TestLogind(const std::string& address) : bus_(address) {
    started_ = bus_.get() && bus_.ownName("org.freedesktop.login1");
}

void TestLogind::announceTheShutdown() {
    bus_.onItsThread([&] {
        g_dbus_connection_emit_signal(bus_.get(), nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                      "PrepareForShutdown", g_variant_new("(b)", TRUE), nullptr);
    });
}

std::vector<std::string> stringsOf(GVariant* value) {
    std::vector<std::string> strings;
    GVariantIter iter;
    g_variant_iter_init(&iter, value);
    const gchar* text = nullptr;
    while (g_variant_iter_next(&iter, "&s", &text)) strings.emplace_back(text);
    return strings;
}

std::string textOf(GVariant* value) {
    if (!value) return "";
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_VARIANT)) {
        GVariant* inner = g_variant_get_variant(value);
        std::string text = textOf(inner);
        g_variant_unref(inner);
        return text;
    }
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
        return g_variant_get_string(value, nullptr);
    }
    return "";
}

}  // namespace testing_support
