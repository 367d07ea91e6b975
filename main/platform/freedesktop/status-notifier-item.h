// A status item of the host's model as an org.kde.StatusNotifierItem: its own bus name
// (org.kde.StatusNotifierItem-<pid>-<n>), registered by that name with every
// org.kde.StatusNotifierWatcher that appears, the button's look as the item's properties, each
// change announced with the item's signals. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/freedesktop/bus.h"
#include "platform/freedesktop/rendered-icons.h"
#include "platform/status-item.h"

namespace host::platform {

// What every item of the host shares.
struct StatusNotifierIdentity {
    std::int32_t pid = 0;
    std::string id;     // the bundle identifier
    std::string title;  // the application's name
};

class StatusNotifierItem {
public:
    // Owns the item's bus name and exports it as the host's `number`-th item; `activated` runs
    // when the panel activates the item (a left click where the panel sends one).
    StatusNotifierItem(GDBusConnection* connection, StatusNotifierIdentity identity, int number,
                       std::string menuPath, std::function<void()> activated);
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Empty when the item is on the bus; else why it is not.
    const std::string& failure() const { return failure_; }
    const std::string& busName() const { return busName_; }

    // Takes the item's look and announces what changed.
    void show(const StatusItem& item);

    // The bus's calls, through the object's table.
    void handle(const std::string& method, GDBusMethodInvocation* invocation);
    GVariant* property(const std::string& name) const;

private:
    struct Look {
        std::string status;
        std::string iconName;
        std::vector<Pixmap> pixmaps;
        std::string toolTip;
        std::string label;
        bool hasMenu = false;
        friend bool operator==(const Look&, const Look&) = default;
    };
    static void watcherAppeared(GDBusConnection*, const gchar*, const gchar*, gpointer item);
    void registerWithTheWatcher();
    void emit(const char* signal, GVariant* parameters) const;
    GVariant* pixmapsValue() const;

    GDBusConnection* connection_;
    StatusNotifierIdentity identity_;
    std::string busName_;
    std::string path_;
    std::string menuPath_;
    std::function<void()> activated_;
    guint registration_ = 0;
    guint watch_ = 0;
    std::string failure_;
    Look look_;
    // The drawing of the last icon asked for: its text, whether badged, and the pixmaps.
    std::pair<std::string, bool> drawnIcon_;
    std::vector<Pixmap> drawnPixmaps_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace host::platform
