// The menu exporter: how a panel's click becomes a pick and its opening the menu's lifecycle.
#include "platform/freedesktop/dbusmenu.h"

#include <limits>
#include <string_view>
#include <utility>

#include "platform/freedesktop/icon-theme.h"
#include "platform/freedesktop/linux-modifiers.h"
#include "platform/freedesktop/rendered-icons.h"

namespace host::platform {
namespace {

constexpr const char* DBUSMENU_INTERFACE = "com.canonical.dbusmenu";
constexpr const char* DBUSMENU_XML = R"XML(
<node>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
  </interface>
</node>)XML";
constexpr guint32 DBUSMENU_VERSION = 3;
constexpr std::int32_t ROOT_ID = 0;
// A title ending so is a row the host shows as chosen (the Dock row while on, a checked file row).
constexpr std::string_view CHOSEN_MARK = " \u2713";
// Deeper menus than this are not shown; the model never builds them, but it could loop.
constexpr int DEEPEST_MENU = 64;

// Key equivalents that are no printable character, as dbusmenu (GTK's accelerators) names them.
const std::pair<std::string_view, const char*> KEY_NAMES[] = {
    {" ", "space"},      {"\r", "Return"},    {"\x1B", "Escape"}, {"\t", "Tab"},    {"\x7F", "BackSpace"},
    {"\uF700", "Up"},    {"\uF701", "Down"},  {"\uF702", "Left"}, {"\uF703", "Right"},
};

GVariant* stringValue(const std::string& text) { return g_variant_new_string(text.c_str()); }

std::int32_t idOfSerial(std::uint64_t serial) {
    return serial <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())
               ? static_cast<std::int32_t>(serial)
               : -1;
}

// Underscores would be read as mnemonics; a double one is a plain underscore.
std::string labelOf(std::string title) {
    std::string label;
    for (char c : title) {
        label += c;
        if (c == '_') label += '_';
    }
    return label;
}

bool isOneCharacter(const std::string& text) {
    if (text.empty()) return false;
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    return text.size() == length;
}

// The key as dbusmenu names it; none for an equivalent no key gives.
std::optional<std::string> keyNameOf(const std::string& equivalent) {
    for (const auto& [key, name] : KEY_NAMES) {
        if (equivalent == key) return name;
    }
    if (!isOneCharacter(equivalent) || static_cast<unsigned char>(equivalent[0]) < 0x20) return std::nullopt;
    return equivalent;
}

GVariant* shortcutOf(const MenuItem& item) {
    auto key = keyNameOf(item.keyEquivalent());
    if (!key) return nullptr;
    GVariantBuilder chord;
    g_variant_builder_init(&chord, G_VARIANT_TYPE("as"));
    for (const LinuxModifier& modifier : LINUX_MODIFIERS) {
        if (item.keyEquivalentModifierMask() & modifier.menuFlag) g_variant_builder_add(&chord, "s", modifier.name);
    }
    g_variant_builder_add(&chord, "s", key->c_str());
    GVariantBuilder chords;
    g_variant_builder_init(&chords, G_VARIANT_TYPE("aas"));
    g_variant_builder_add_value(&chords, g_variant_builder_end(&chord));
    return g_variant_builder_end(&chords);
}

void addIcon(std::map<std::string, bus::Variant>& properties, const Image& image) {
    if (auto name = themedIconName(image.symbol)) {
        properties["icon-name"] = bus::taken(stringValue(*name));
        return;
    }
    const std::string& png = renderedRowIconPng(image.description.empty() ? image.symbol : image.description);
    if (png.empty()) return;
    properties["icon-data"] = bus::taken(g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, png.data(), png.size(), 1));
}

std::map<std::string, bus::Variant> itemProperties(const MenuItem& item) {
    std::map<std::string, bus::Variant> properties;
    properties["visible"] = bus::taken(g_variant_new_boolean(TRUE));
    if (item.isSeparator()) {
        properties["type"] = bus::taken(stringValue("separator"));
        return properties;
    }
    std::string title = item.title();
    if (title.ends_with(CHOSEN_MARK)) {
        title.resize(title.size() - CHOSEN_MARK.size());
        properties["toggle-type"] = bus::taken(stringValue("checkmark"));
        properties["toggle-state"] = bus::taken(g_variant_new_int32(1));
    }
    properties["label"] = bus::taken(stringValue(labelOf(title)));
    properties["enabled"] = bus::taken(g_variant_new_boolean(item.enabled()));
    if (item.submenu()) properties["children-display"] = bus::taken(stringValue("submenu"));
    if (GVariant* shortcut = shortcutOf(item)) properties["shortcut"] = bus::taken(shortcut);
    if (item.image()) addIcon(properties, *item.image());
    return properties;
}

bool sameValue(const bus::Variant& a, const bus::Variant& b) { return g_variant_equal(a.get(), b.get()); }

std::set<std::string> namesIn(GVariant* list) {
    std::set<std::string> names;
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    const gchar* name = nullptr;
    while (g_variant_iter_next(&iter, "&s", &name)) names.insert(name);
    return names;
}

std::vector<std::int32_t> idsIn(GVariant* list) {
    std::vector<std::int32_t> ids;
    GVariantIter iter;
    g_variant_iter_init(&iter, list);
    gint32 id = 0;
    while (g_variant_iter_next(&iter, "i", &id)) ids.push_back(id);
    return ids;
}

GVariant* idList(const std::vector<std::int32_t>& ids) {
    GVariantBuilder list;
    g_variant_builder_init(&list, G_VARIANT_TYPE("ai"));
    for (std::int32_t id : ids) g_variant_builder_add(&list, "i", id);
    return g_variant_builder_end(&list);
}

void returnError(GDBusMethodInvocation* invocation, const std::string& message) {
    g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS, message.c_str());
}

std::string noItem(std::int32_t id) { return "no item " + std::to_string(id) + " in the menu"; }

void methodCalled(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
                  GVariant* parameters, GDBusMethodInvocation* invocation, gpointer exporter) {
    static_cast<DbusmenuExporter*>(exporter)->handle(method, parameters, invocation);
}

GVariant* propertyAsked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GError**,
                        gpointer exporter) {
    return static_cast<DbusmenuExporter*>(exporter)->property(name);
}

const GDBusInterfaceVTable DBUSMENU_TABLE = {methodCalled, propertyAsked, nullptr, {}};

}  // namespace

DbusmenuExporter::DbusmenuExporter(GDBusConnection* connection, std::string path, Hooks hooks)
    : connection_(connection), path_(std::move(path)), hooks_(std::move(hooks)) {
    static GDBusInterfaceInfo* const interface = bus::interfaceNamed(DBUSMENU_XML, DBUSMENU_INTERFACE);
    snapshot_ = snapshotOfTheMenu();
    changed_ = false;
    if (connection_ && interface) {
        registration_ = g_dbus_connection_register_object(connection_, path_.c_str(), interface, &DBUSMENU_TABLE,
                                                          this, nullptr, nullptr);
    }
}

DbusmenuExporter::~DbusmenuExporter() {
    if (registration_) g_dbus_connection_unregister_object(connection_, registration_);
}

// Reading the model

DbusmenuExporter::Snapshot DbusmenuExporter::snapshotOfTheMenu() const {
    Snapshot snapshot;
    Node& root = snapshot[ROOT_ID];
    root.properties["children-display"] = bus::taken(stringValue("submenu"));
    if (Menu* menu = hooks_.root ? hooks_.root() : nullptr) addItems(snapshot, root, *menu, 0);
    for (auto& [id, node] : snapshot) node.all = bus::taken(propertiesOf(node, {}));
    return snapshot;
}

// An item met twice (a menu that loops) keeps its first place.
void DbusmenuExporter::addItems(Snapshot& snapshot, Node& parent, const Menu& menu, int level) const {
    if (level >= DEEPEST_MENU) return;
    for (const auto& item : menu.items()) {
        const std::int32_t id = idOfSerial(item->serial());
        if (id <= ROOT_ID || snapshot.contains(id)) continue;
        parent.children.push_back(id);
        Node& node = snapshot[id];
        node.properties = itemProperties(*item);
        if (item->submenu()) addItems(snapshot, node, *item->submenu(), level + 1);
    }
}

void DbusmenuExporter::publishChanges() {
    if (!changed_) return;
    changed_ = false;
    Snapshot before = std::exchange(snapshot_, snapshotOfTheMenu());
    announce(before);
}

void DbusmenuExporter::announce(const Snapshot& before) {
    std::vector<std::int32_t> reshaped;
    GVariantBuilder updated, removed;
    g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
    g_variant_builder_init(&removed, G_VARIANT_TYPE("a(ias)"));
    bool propertiesChanged = false;
    for (const auto& [id, node] : snapshot_) {
        auto old = before.find(id);
        if (old == before.end()) continue;  // a new item comes with its parent's layout
        if (old->second.children != node.children) reshaped.push_back(id);
        GVariantBuilder values, gone;
        g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_init(&gone, G_VARIANT_TYPE("as"));
        bool any = false, anyGone = false;
        for (const auto& [name, value] : node.properties) {
            auto was = old->second.properties.find(name);
            if (was != old->second.properties.end() && sameValue(was->second, value)) continue;
            g_variant_builder_add(&values, "{sv}", name.c_str(), value.get());
            any = true;
        }
        for (const auto& [name, value] : old->second.properties) {
            if (node.properties.contains(name)) continue;
            g_variant_builder_add(&gone, "s", name.c_str());
            anyGone = true;
        }
        if (any) g_variant_builder_add(&updated, "(i@a{sv})", id, g_variant_builder_end(&values));
        else g_variant_builder_clear(&values);
        if (anyGone) g_variant_builder_add(&removed, "(i@as)", id, g_variant_builder_end(&gone));
        else g_variant_builder_clear(&gone);
        propertiesChanged = propertiesChanged || any || anyGone;
    }
    const bool itemsWent = before.size() != snapshot_.size() || !reshaped.empty();
    GVariant* properties = g_variant_new("(@a(ia{sv})@a(ias))", g_variant_builder_end(&updated),
                                         g_variant_builder_end(&removed));
    if (propertiesChanged && registration_) {
        g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), DBUSMENU_INTERFACE,
                                      "ItemsPropertiesUpdated", properties, nullptr);
    } else {
        g_variant_unref(g_variant_ref_sink(properties));
    }
    if (!itemsWent) return;
    ++revision_;
    const std::int32_t parent = reshaped.size() == 1 ? reshaped.front() : ROOT_ID;
    if (registration_) {
        g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), DBUSMENU_INTERFACE, "LayoutUpdated",
                                      g_variant_new("(ui)", revision_, parent), nullptr);
    }
}

// Answering the panel

// A floating value, or the snapshot's own (non-floating: a container takes a reference of its own).
GVariant* DbusmenuExporter::propertiesOf(const Node& node, const std::set<std::string>& names) const {
    if (names.empty() && node.all) return node.all.get();
    GVariantBuilder values;
    g_variant_builder_init(&values, G_VARIANT_TYPE("a{sv}"));
    for (const auto& [name, value] : node.properties) {
        if (names.empty() || names.contains(name)) g_variant_builder_add(&values, "{sv}", name.c_str(), value.get());
    }
    return g_variant_builder_end(&values);
}

GVariant* DbusmenuExporter::layoutOf(std::int32_t id, int depth, const std::set<std::string>& names) const {
    const Node& node = snapshot_.at(id);
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    if (depth != 0) {
        for (std::int32_t child : node.children) {
            g_variant_builder_add(&children, "v", layoutOf(child, depth < 0 ? -1 : depth - 1, names));
        }
    }
    return g_variant_new("(i@a{sv}@av)", id, propertiesOf(node, names), g_variant_builder_end(&children));
}

MenuItem* DbusmenuExporter::itemOf(std::int32_t id) const {
    Menu* root = hooks_.root ? hooks_.root() : nullptr;
    return root && id > ROOT_ID ? root->itemWithSerial(static_cast<std::uint64_t>(id)) : nullptr;
}

Menu* DbusmenuExporter::menuOf(std::int32_t id) const {
    if (id == ROOT_ID) return hooks_.root ? hooks_.root() : nullptr;
    MenuItem* item = itemOf(id);
    return item ? item->submenu() : nullptr;
}

// A panel may announce one opening by AboutToShow, by "opened", or by both; either way the menu
// is updated and told it opens once.
void DbusmenuExporter::opening(std::int32_t id) {
    if (shownBeforeOpened_.erase(id) > 0) return;
    if (Menu* menu = menuOf(id)) openTheMenu(*menu);
}

bool DbusmenuExporter::aboutToShow(std::int32_t id) {
    const std::uint32_t revision = revision_;
    if (Menu* menu = menuOf(id)) {
        openTheMenu(*menu);
        shownBeforeOpened_.insert(id);
    }
    publishChanges();
    return revision_ != revision;
}

std::optional<std::string> DbusmenuExporter::refusalOf(std::int32_t id, const std::string& event) const {
    if (!known(id)) return noItem(id);
    if (event != "clicked") return std::nullopt;
    MenuItem* item = itemOf(id);
    if (!item || item->isSeparator() || !item->enabled() || !item->action()) {
        return "item " + std::to_string(id) + " cannot be picked";
    }
    return std::nullopt;
}

void DbusmenuExporter::takeEvent(std::int32_t id, const std::string& event) {
    if (event == "clicked") {
        // Picked after the reply: a pick may wait for an alert, and the panel must not wait.
        auto pick = [this, id] {
            if (MenuItem* still = itemOf(id)) still->pick();
        };
        hooks_.perform ? hooks_.perform(pick) : pick();
    } else if (event == "opened") {
        opening(id);
    } else if (event == "closed") {
        shownBeforeOpened_.erase(id);
    }
}

void DbusmenuExporter::handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    publishChanges();
    if (method == "GetLayout") {
        gint32 parent = 0, depth = 0;
        GVariant* names = nullptr;
        g_variant_get(parameters, "(ii@as)", &parent, &depth, &names);
        const std::set<std::string> wanted = namesIn(names);
        g_variant_unref(names);
        if (!known(parent)) return returnError(invocation, noItem(parent));
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(u@(ia{sv}av))", revision_,
                                                            layoutOf(parent, depth < -1 ? -1 : depth, wanted)));
    } else if (method == "GetGroupProperties") {
        GVariant *ids = nullptr, *names = nullptr;
        g_variant_get(parameters, "(@ai@as)", &ids, &names);
        std::vector<std::int32_t> asked = idsIn(ids);
        const std::set<std::string> wanted = namesIn(names);
        g_variant_unref(ids);
        g_variant_unref(names);
        if (asked.empty()) {
            for (const auto& [id, node] : snapshot_) asked.push_back(id);
        }
        GVariantBuilder found;
        g_variant_builder_init(&found, G_VARIANT_TYPE("a(ia{sv})"));
        for (std::int32_t id : asked) {
            if (known(id)) g_variant_builder_add(&found, "(i@a{sv})", id, propertiesOf(snapshot_.at(id), wanted));
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@a(ia{sv}))", g_variant_builder_end(&found)));
    } else if (method == "GetProperty") {
        gint32 id = 0;
        const gchar* name = nullptr;
        g_variant_get(parameters, "(i&s)", &id, &name);
        if (!known(id)) return returnError(invocation, noItem(id));
        const auto& properties = snapshot_.at(id).properties;
        auto value = properties.find(name);
        if (value == properties.end()) return returnError(invocation, "item " + std::to_string(id) + " has no " + name);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value->second.get()));
    } else if (method == "Event") {
        gint32 id = 0;
        const gchar* event = nullptr;
        g_variant_get(parameters, "(i&svu)", &id, &event, nullptr, nullptr);
        const std::string name = event;
        if (auto refusal = refusalOf(id, name)) return returnError(invocation, *refusal);
        // The reply goes first: the event's work may run the loop.
        g_dbus_method_invocation_return_value(invocation, nullptr);
        takeEvent(id, name);
    } else if (method == "EventGroup") {
        GVariant* events = nullptr;
        g_variant_get(parameters, "(@a(isvu))", &events);
        std::vector<std::pair<std::int32_t, std::string>> taken;
        GVariantIter iter;
        g_variant_iter_init(&iter, events);
        gint32 id = 0;
        const gchar* event = nullptr;
        while (g_variant_iter_next(&iter, "(i&svu)", &id, &event, nullptr, nullptr)) taken.emplace_back(id, event);
        g_variant_unref(events);
        std::vector<std::int32_t> errors;
        for (const auto& [each, name] : taken) {
            if (refusalOf(each, name)) errors.push_back(each);
        }
        if (!taken.empty() && errors.size() == taken.size()) {
            return returnError(invocation, "none of the events could be taken");
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@ai)", idList(errors)));
        for (const auto& [each, name] : taken) {
            if (!refusalOf(each, name)) takeEvent(each, name);
        }
    } else if (method == "AboutToShow") {
        gint32 id = 0;
        g_variant_get(parameters, "(i)", &id);
        if (!known(id)) return returnError(invocation, noItem(id));
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", aboutToShow(id)));
    } else if (method == "AboutToShowGroup") {
        GVariant* ids = nullptr;
        g_variant_get(parameters, "(@ai)", &ids);
        std::vector<std::int32_t> asked = idsIn(ids);
        g_variant_unref(ids);
        std::vector<std::int32_t> updates, errors;
        for (std::int32_t id : asked) {
            if (!known(id)) errors.push_back(id);
            else if (aboutToShow(id)) updates.push_back(id);
        }
        if (!asked.empty() && errors.size() == asked.size()) {
            return returnError(invocation, "none of the ids names an item of the menu");
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(@ai@ai)", idList(updates), idList(errors)));
    } else {
        g_dbus_method_invocation_return_error_literal(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD,
                                                      ("no method " + method).c_str());
    }
}

GVariant* DbusmenuExporter::property(const std::string& name) const {
    if (name == "Version") return g_variant_new_uint32(DBUSMENU_VERSION);
    if (name == "TextDirection") return stringValue("ltr");
    if (name == "Status") return stringValue("normal");
    if (name == "IconThemePath") return g_variant_new_strv(nullptr, 0);
    return nullptr;
}

}  // namespace host::platform
