// The status notifier item: how the status item reaches a panel, and a panel's click the host.
#include "platform/freedesktop/status-notifier-item.h"

#include <utility>

#include "platform/freedesktop/icon-theme.h"

namespace host::platform {
namespace {

constexpr const char* ITEM_INTERFACE = "org.kde.StatusNotifierItem";
constexpr const char* ITEM_BUS_NAME_PREFIX = "org.kde.StatusNotifierItem-";
constexpr const char* ITEM_PATH = "/StatusNotifierItem";
constexpr const char* WATCHER_BUS_NAME = "org.kde.StatusNotifierWatcher";
constexpr const char* WATCHER_PATH = "/StatusNotifierWatcher";
constexpr const char* WATCHER_INTERFACE = "org.kde.StatusNotifierWatcher";
constexpr const char* CATEGORY = "ApplicationStatus";
constexpr int WATCHER_MILLISECONDS = 10000;
constexpr const char* ITEM_XML = R"XML(
<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <property name="XAyatanaLabel" type="s" access="read"/>
    <property name="XAyatanaLabelGuide" type="s" access="read"/>
    <property name="XAyatanaOrderingIndex" type="u" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <method name="ProvideXdgActivationToken"><arg name="token" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
    <signal name="XAyatanaNewLabel"><arg name="label" type="s"/><arg name="guide" type="s"/></signal>
  </interface>
</node>)XML";

GVariant* noPixmaps() { return g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0); }

void methodCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                  GDBusMethodInvocation* invocation, gpointer item) {
    static_cast<StatusNotifierItem*>(item)->handle(method, invocation);
}

GVariant* propertyAsked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                        gpointer item) {
    return static_cast<StatusNotifierItem*>(item)->property(name);
}

const GDBusInterfaceVTable ITEM_TABLE = {methodCalled, propertyAsked, nullptr, {}};

struct Registration {
    std::weak_ptr<bool> alive;
};

// A watcher that vanished mid-call, or refused, is no concern: the next one gets the item.
void registrationAnswered(GObject* source, GAsyncResult* result, gpointer data) {
    delete static_cast<Registration*>(data);
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr);
    if (reply) g_variant_unref(reply);
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(GDBusConnection* connection, StatusNotifierIdentity identity, int number,
                                       std::string menuPath, std::function<void()> activated)
    : connection_(connection),
      identity_(std::move(identity)),
      busName_(ITEM_BUS_NAME_PREFIX + std::to_string(identity_.pid) + "-" + std::to_string(number)),
      path_(number == 1 ? ITEM_PATH : std::string(ITEM_PATH) + "/" + std::to_string(number)),
      menuPath_(std::move(menuPath)),
      activated_(std::move(activated)) {
    static GDBusInterfaceInfo* const interface = bus::interfaceNamed(ITEM_XML, ITEM_INTERFACE);
    GError* error = nullptr;
    registration_ = interface ? g_dbus_connection_register_object(connection_, path_.c_str(), interface, &ITEM_TABLE,
                                                                  this, nullptr, &error)
                              : 0;
    if (!registration_) {
        failure_ = interface ? bus::messageOf(error) : "the item's interface does not parse";
        return;
    }
    if (bus::requestName(connection_, busName_, &failure_) != bus::NameRequest::owned) return;
    failure_.clear();
    watch_ = g_bus_watch_name_on_connection(connection_, WATCHER_BUS_NAME, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                            watcherAppeared, nullptr, this, nullptr);
}

StatusNotifierItem::~StatusNotifierItem() {
    *alive_ = false;
    if (watch_) g_bus_unwatch_name(watch_);
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
}

// Each watcher that appears (a panel started or restarted) learns of the item.
void StatusNotifierItem::watcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer item) {
    static_cast<StatusNotifierItem*>(item)->registerWithTheWatcher();
}

// The first item registers by its bus name; a later one shares the connection, so it names its
// own object path instead, which watchers take as the path on the caller's connection.
void StatusNotifierItem::registerWithTheWatcher() {
    const std::string& service = path_ == ITEM_PATH ? busName_ : path_;
    g_dbus_connection_call(connection_, WATCHER_BUS_NAME, WATCHER_PATH, WATCHER_INTERFACE,
                           "RegisterStatusNotifierItem", g_variant_new("(s)", service.c_str()), nullptr,
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, WATCHER_MILLISECONDS, nullptr, registrationAnswered,
                           new Registration{alive_});
}

void StatusNotifierItem::show(const StatusItem& item) {
    Look look;
    look.status = item.visible() ? "Active" : "Passive";
    const std::optional<Image>& image = item.image();
    const bool badged = image && image->badge;
    // A named icon cannot carry the badge: a badged image is always the host's drawing.
    if (image && !badged) look.iconName = themedIconName(image->symbol).value_or("");
    std::string text = item.accessibilityLabel().empty() ? item.title() : item.accessibilityLabel();
    if (text.empty()) text = identity_.title;
    if (drawnPixmaps_.empty() || drawnIcon_ != std::pair{text, badged}) {
        drawnIcon_ = {text, badged};
        drawnPixmaps_ = renderedStatusIcon(text, badged);
    }
    look.pixmaps = drawnPixmaps_;
    // The model's tooltip falls back to the label; a panel shows the application's name instead.
    const bool ownToolTip = !item.toolTip().empty() && item.toolTip() != item.accessibilityLabel();
    look.toolTip = ownToolTip ? item.toolTip() : identity_.title;
    look.label = item.accessibilityLabel();
    look.hasMenu = item.menu() != nullptr;
    if (look == look_) return;
    const Look before = std::exchange(look_, std::move(look));
    if (before.status != look_.status) emit("NewStatus", g_variant_new("(s)", look_.status.c_str()));
    if (before.iconName != look_.iconName || before.pixmaps != look_.pixmaps) emit("NewIcon", nullptr);
    if (before.toolTip != look_.toolTip) emit("NewToolTip", nullptr);
    if (before.label != look_.label) {
        emit("XAyatanaNewLabel", g_variant_new("(ss)", look_.label.c_str(), look_.label.c_str()));
    }
}

void StatusNotifierItem::emit(const char* signal, GVariant* parameters) const {
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), ITEM_INTERFACE, signal, parameters, nullptr);
}

void StatusNotifierItem::handle(const std::string& method, GDBusMethodInvocation* invocation) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if ((method == "Activate" || method == "ContextMenu") && activated_) activated_();
}

GVariant* StatusNotifierItem::pixmapsValue() const {
    GVariantBuilder pixmaps;
    g_variant_builder_init(&pixmaps, G_VARIANT_TYPE("a(iiay)"));
    for (const Pixmap& pixmap : look_.pixmaps) {
        GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(), pixmap.argb.size(), 1);
        g_variant_builder_add(&pixmaps, "(ii@ay)", pixmap.width, pixmap.height, bytes);
    }
    return g_variant_builder_end(&pixmaps);
}

GVariant* StatusNotifierItem::property(const std::string& name) const {
    if (name == "Category") return g_variant_new_string(CATEGORY);
    if (name == "Id") return g_variant_new_string(identity_.id.c_str());
    if (name == "Title") return g_variant_new_string(identity_.title.c_str());
    if (name == "Status") return g_variant_new_string(look_.status.empty() ? "Active" : look_.status.c_str());
    if (name == "WindowId") return g_variant_new_int32(0);
    if (name == "IconName") return g_variant_new_string(look_.iconName.c_str());
    if (name == "IconPixmap") return pixmapsValue();
    if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") return noPixmaps();
    if (name == "IconThemePath" || name == "OverlayIconName" || name == "AttentionIconName" ||
        name == "AttentionMovieName") {
        return g_variant_new_string("");
    }
    if (name == "ToolTip") {
        return g_variant_new("(s@a(iiay)ss)", "", noPixmaps(), look_.toolTip.c_str(), "");
    }
    if (name == "ItemIsMenu") return g_variant_new_boolean(look_.hasMenu);
    if (name == "Menu") return g_variant_new_object_path(menuPath_.c_str());
    if (name == "XAyatanaLabel" || name == "XAyatanaLabelGuide") return g_variant_new_string(look_.label.c_str());
    if (name == "XAyatanaOrderingIndex") return g_variant_new_uint32(0);
    return nullptr;
}

}  // namespace host::platform
