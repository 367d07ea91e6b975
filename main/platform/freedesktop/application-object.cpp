// The application bus object: how links and activations reach the host from the desktop.
#include "platform/freedesktop/application-object.h"

#include <filesystem>
#include <regex>

namespace host::platform {
namespace {

constexpr const char* APPLICATION_INTERFACE = "org.freedesktop.Application";
constexpr const char* APPLICATION_XML = R"XML(
<node>
  <interface name="org.freedesktop.Application">
    <method name="Activate">
      <arg type="a{sv}" name="platform_data" direction="in"/>
    </method>
    <method name="Open">
      <arg type="as" name="uris" direction="in"/>
      <arg type="a{sv}" name="platform_data" direction="in"/>
    </method>
    <method name="ActivateAction">
      <arg type="s" name="action_name" direction="in"/>
      <arg type="av" name="parameter" direction="in"/>
      <arg type="a{sv}" name="platform_data" direction="in"/>
    </method>
  </interface>
</node>)XML";
constexpr int HAND_OVER_MILLISECONDS = 10000;

void methodCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer object) {
    static_cast<ApplicationObject*>(object)->handle(method, parameters, invocation);
}

const GDBusInterfaceVTable APPLICATION_TABLE = {methodCalled, nullptr, nullptr, {}};

GVariant* noPlatformData() { return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0); }

bool isURL(const std::string& argument) {
    static const std::regex scheme("^[A-Za-z][A-Za-z0-9+.-]+:.*");
    return std::regex_match(argument, scheme);
}

}  // namespace

std::string applicationObjectPath(const std::string& identity) {
    std::string path = "/" + identity;
    for (char& c : path) {
        if (c == '.') c = '/';
        else if (c == '-') c = '_';
    }
    return path;
}

ApplicationObject::ApplicationObject(GDBusConnection* connection, std::string identity, ApplicationRequests requests)
    : connection_(connection), identity_(std::move(identity)), requests_(std::move(requests)) {
    static GDBusInterfaceInfo* const interface = bus::interfaceNamed(APPLICATION_XML, APPLICATION_INTERFACE);
    const std::string path = applicationObjectPath(identity_);
    if (!g_dbus_is_name(identity_.c_str()) || g_dbus_is_unique_name(identity_.c_str()) ||
        !g_variant_is_object_path(path.c_str())) {
        failure_ = identity_ + " is no bus name";
        return;
    }
    GError* error = nullptr;
    registration_ = interface ? g_dbus_connection_register_object(connection_, path.c_str(), interface,
                                                                  &APPLICATION_TABLE, this, nullptr, &error)
                              : 0;
    if (!registration_) {
        failure_ = interface ? bus::messageOf(error) : "the application interface does not parse";
        return;
    }
    switch (bus::requestName(connection_, identity_, &failure_)) {
        case bus::NameRequest::owned: standing_ = Standing::owner; break;
        case bus::NameRequest::taken: standing_ = Standing::anotherRuns; break;
        case bus::NameRequest::failed: standing_ = Standing::failed; break;
    }
}

ApplicationObject::~ApplicationObject() {
    *alive_ = false;
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
}

void ApplicationObject::withTheSender(GDBusMethodInvocation* invocation,
                                      std::function<void(std::optional<std::int32_t>)> work) {
    const std::string sender = g_dbus_method_invocation_get_sender(invocation);
    g_dbus_method_invocation_return_value(invocation, nullptr);
    bus::askForTheSenderPid(connection_, sender, alive_, std::move(work));
}

void ApplicationObject::handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (method == "Activate") {
        withTheSender(invocation, [this](std::optional<std::int32_t> sender) {
            if (requests_.activate) requests_.activate(sender);
        });
    } else if (method == "Open") {
        const gchar** list = nullptr;
        g_variant_get(parameters, "(^a&s@a{sv})", &list, nullptr);
        std::vector<std::string> uris;
        for (const gchar** uri = list; uri && *uri; ++uri) uris.emplace_back(*uri);
        g_free(list);
        withTheSender(invocation, [this, uris](std::optional<std::int32_t> sender) {
            if (requests_.open) requests_.open(uris, sender);
        });
    } else if (method == "ActivateAction") {
        const gchar* action = nullptr;
        g_variant_get(parameters, "(&s@av@a{sv})", &action, nullptr, nullptr);
        if (std::string(action) != QUIT_ACTION) {
            g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                                          (std::string("no action ") + action).c_str());
            return;
        }
        withTheSender(invocation, [this](std::optional<std::int32_t> sender) {
            if (requests_.quit) requests_.quit(sender);
        });
    } else {
        g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                      ("no method " + method).c_str());
    }
}

std::optional<std::vector<std::string>> urisOfArguments(const std::vector<std::string>& arguments, std::string* why) {
    std::vector<std::string> uris;
    for (const std::string& argument : arguments) {
        std::error_code error;
        if (isURL(argument)) {
            uris.push_back(argument);
        } else if (!argument.empty() && std::filesystem::exists(argument, error)) {
            const std::string path = std::filesystem::absolute(argument, error).lexically_normal().string();
            gchar* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
            if (!uri) {
                if (why) *why = argument;
                return std::nullopt;
            }
            uris.emplace_back(uri);
            g_free(uri);
        } else {
            if (why) *why = argument;
            return std::nullopt;
        }
    }
    return uris;
}

bool handToTheRunningInstance(GDBusConnection* connection, const std::string& identity,
                              const std::vector<std::string>& uris, std::string* why) {
    const std::string path = applicationObjectPath(identity);
    GVariant* parameters = nullptr;
    if (uris.empty()) {
        parameters = g_variant_new("(@a{sv})", noPlatformData());
    } else {
        std::vector<const gchar*> list;
        for (const auto& uri : uris) list.push_back(uri.c_str());
        list.push_back(nullptr);
        parameters = g_variant_new("(^as@a{sv})", list.data(), noPlatformData());
    }
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(connection, identity.c_str(), path.c_str(), APPLICATION_INTERFACE,
                                                  uris.empty() ? "Activate" : "Open", parameters, nullptr,
                                                  G_DBUS_CALL_FLAGS_NO_AUTO_START, HAND_OVER_MILLISECONDS, nullptr,
                                                  &error);
    if (!reply) {
        if (why) *why = bus::messageOf(error);
        return false;
    }
    g_variant_unref(reply);
    return true;
}

}  // namespace host::platform
