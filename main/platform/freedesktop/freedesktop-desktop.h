// The desktop of a Linux session: the session bus for the status items and their menus, links,
// activation, alerts and the application's bus name, the system bus for shut-downs, and a window
// system for everything windows, keys and screens give (the headless one when there is none).
// What Linux has no counterpart for keeps the headless model: the Dock icon and the activation
// policy (accepted and remembered), the pop-up of a menu at the mouse (the menu is updated and
// told it opens; nothing is shown). Main thread only.
#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/freedesktop/window-system.h"

namespace host::platform {

struct FreedesktopHost {
    std::int32_t pid = 0;
    std::string identity;     // the bundle identifier; empty for a tool, which owns no bus name
    std::string bundlePath;
    std::string name;         // the application's name, as the desktop shows it
};

class ApplicationObject;
class DbusmenuExporter;
class Logind;
class Notifications;
class StatusNotifierItem;

class FreedesktopDesktop : public Desktop {
public:
    // `sessionBus` is an address, or empty without a session bus.
    FreedesktopDesktop(FreedesktopHost host, const std::string& sessionBus, std::unique_ptr<WindowSystem> windows);
    ~FreedesktopDesktop() override;

    // Whether the session bus is connected; why not when it is not.
    bool onTheSessionBus() const;
    const std::string& sessionBusFailure() const { return sessionBusFailure_; }
    // Asks for the application's bus name: true when this instance holds it, false when another
    // instance does (or the name cannot be had, said on standard error once).
    bool ownTheApplicationName();
    // Hands URIs to the instance that holds the name, or activates it; false with the reason.
    bool handOver(const std::vector<std::string>& uris, std::string* why);
    // Hears of shut-downs from logind on the system bus, from now on (an application's desktop).
    void listenForShutdowns();

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    bool isActive() const override;
    void yieldActivation(std::int32_t pid) override;
    bool activate(std::int32_t pid) override;
    void activateIgnoringOtherApps() override;
    ActivationPolicy activationPolicy() const override { return policy_; }
    bool setActivationPolicy(ActivationPolicy policy) override;
    bool openWithTheSystem(const std::string& url) override;
    StatusItem& makeStatusItem() override;
    BadgePanel& badgePanel() override { return badgePanel_; }
    Point mouseLocation() const override;
    void popUp(Menu& menu, Point location) override;
    HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                      std::uint32_t options) override;
    void unregisterHotKey(std::uint64_t reference) override;
    KeyboardLayout keyboardLayoutType() const override;
    std::vector<OnScreenWindow> onScreenWindows() const override;
    int statusWindowLevel() const override;
    std::vector<Rect> screens() const override;
    int runModal(const Alert& alert) override;
    std::vector<std::string> preferredLanguages() const override;
    void replyToApplicationShouldTerminate(bool) override {}
    void modelChanged() override;

private:
    struct Shown;

    void listenToTheWindowSystem();
    RunningApplication theHost() const;
    void windowSystemLost(const std::string& why);
    void publishChanges();
    // Runs a request of the desktop's on the main queue, or after the alerts that wait now.
    void perform(std::function<void()> work);
    void open(const std::vector<std::string>& uris, std::optional<std::int32_t> sender);
    void quit(const std::optional<CurrentEvent>& event);
    void sayOnce(bool& said, const std::string& line);

    FreedesktopHost host_;
    struct BusConnection;
    std::unique_ptr<BusConnection> bus_;
    std::string sessionBusFailure_;
    std::unique_ptr<WindowSystem> windows_;
    std::unique_ptr<ApplicationObject> application_;
    std::unique_ptr<Notifications> notifications_;
    std::unique_ptr<Logind> logind_;
    std::deque<std::unique_ptr<Shown>> statusItems_;
    BadgePanel badgePanel_;
    ActivationPolicy policy_ = ActivationPolicy::regular;
    int alertsOpen_ = 0;
    std::deque<std::function<void()>> waitingForTheAlert_;
    bool publishPosted_ = false;
    bool saidNoAlerts_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    struct BadgeLook;
    std::unique_ptr<BadgeLook> lastBadge_;
};

}  // namespace host::platform
