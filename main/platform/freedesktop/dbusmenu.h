// A menu of the host's model exported as com.canonical.dbusmenu: the panel reads the layout and
// the items' properties, and reports clicks, openings and closings. An item's id on the bus is
// its serial, so the ids of removed items are never reused; the root is id 0. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/freedesktop/bus.h"
#include "platform/menu.h"

namespace host::platform {

class DbusmenuExporter {
public:
    using Work = std::function<void()>;
    struct Hooks {
        std::function<Menu*()> root;         // the menu on show, or none (an empty root)
        std::function<void(Work)> perform;   // runs a pick once its request has been answered
    };

    // Exports the menu at `path` on `connection`; exported() tells whether that worked.
    DbusmenuExporter(GDBusConnection* connection, std::string path, Hooks hooks);
    ~DbusmenuExporter();
    DbusmenuExporter(const DbusmenuExporter&) = delete;
    DbusmenuExporter& operator=(const DbusmenuExporter&) = delete;

    bool exported() const { return registration_ != 0; }
    const std::string& path() const { return path_; }
    std::uint32_t revision() const { return revision_; }

    // The model changed: the next publication reads it anew.
    void markChanged() { changed_ = true; }
    // Reads the menu when it changed and announces the difference from what the panel saw:
    // LayoutUpdated when items came, went or moved, ItemsPropertiesUpdated for the rest.
    void publishChanges();

    // The bus's calls, through the object's table.
    void handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation);
    GVariant* property(const std::string& name) const;

private:
    struct Node {
        std::map<std::string, bus::Variant> properties;
        bus::Variant all;  // every property as one a{sv}, built once: most calls want them all
        std::vector<std::int32_t> children;
    };
    using Snapshot = std::map<std::int32_t, Node>;

    Snapshot snapshotOfTheMenu() const;
    void addItems(Snapshot& snapshot, Node& parent, const Menu& menu, int level) const;
    void announce(const Snapshot& before);
    GVariant* layoutOf(std::int32_t id, int depth, const std::set<std::string>& names) const;
    GVariant* propertiesOf(const Node& node, const std::set<std::string>& names) const;
    MenuItem* itemOf(std::int32_t id) const;
    // The menu an id opens: the root for 0, an item's submenu; none for an item without one.
    Menu* menuOf(std::int32_t id) const;
    bool known(std::int32_t id) const { return snapshot_.contains(id); }
    // Why an event cannot be taken (an unknown id, a click on what cannot be picked); none when it can.
    std::optional<std::string> refusalOf(std::int32_t id, const std::string& event) const;
    void takeEvent(std::int32_t id, const std::string& event);
    bool aboutToShow(std::int32_t id);
    void opening(std::int32_t id);

    GDBusConnection* connection_;
    std::string path_;
    Hooks hooks_;
    guint registration_ = 0;
    Snapshot snapshot_;
    std::uint32_t revision_ = 1;
    bool changed_ = true;
    std::set<std::int32_t> shownBeforeOpened_;
};

}  // namespace host::platform
