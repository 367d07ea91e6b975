// The message bus as the freedesktop backend uses it: owned references to GLib's objects, a
// connection of the backend's own, and the few bus daemon calls every protocol file needs.
// Main thread only.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace host::platform::bus {

struct VariantUnref {
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
// A variant held by reference (floating references are sunk on taking).
using Variant = std::unique_ptr<GVariant, VariantUnref>;
inline Variant taken(GVariant* variant) { return Variant(variant ? g_variant_ref_sink(variant) : nullptr); }

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Connection = std::unique_ptr<GDBusConnection, ObjectUnref>;

// A private connection to the bus at `address` that never ends the process when it closes;
// none, with the reason, when it cannot be made.
Connection connectedTo(const std::string& address, std::string* why);

// The address of the system bus (DBUS_SYSTEM_BUS_ADDRESS, else the well-known socket).
std::string systemBusAddress();

// One interface's introspection data, parsed once from its XML; the caller keeps the result.
GDBusInterfaceInfo* interfaceNamed(const char* xml, const char* interfaceName);

enum class NameRequest { owned, taken, failed };
// Asks the bus for a well-known name without queueing for it. Blocks on the bus daemon only.
NameRequest requestName(GDBusConnection* connection, const std::string& name, std::string* why);

// Asks the bus which process sent as `sender` (a unique name); none when the bus cannot tell.
// The answer comes later on the main loop, unless `alive` has expired by then.
void askForTheSenderPid(GDBusConnection* connection, const std::string& sender, std::weak_ptr<bool> alive,
                        std::function<void(std::optional<std::int32_t>)> answer);

// Calls a method and runs turns of the loop until it is answered or `milliseconds` pass: the
// reply, or none with the reason, and in *unanswered whether the peer had the call but left or
// timed out without answering it.
Variant callAndWait(GDBusConnection* connection, const char* busName, const char* path, const char* interface,
                    const char* method, GVariant* parameters, const char* replyType, int milliseconds,
                    std::string* why, bool* unanswered = nullptr);

// The message of a GError, which it frees.
std::string messageOf(GError* error);

}  // namespace host::platform::bus
