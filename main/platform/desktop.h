// The desktop as the host sees it: applications and activation, the status item and menus,
// hot keys, windows and screens, alerts, the badge panel, and the requests the desktop sends
// (URLs, open, Services, quit, reopen, display changes). Every subsystem reaches the desktop
// through desktop(); a backend fills it in. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/badge-panel.h"
#include "platform/geometry.h"
#include "platform/menu.h"
#include "platform/status-item.h"
#include "platform/windows.h"

namespace host::platform {

enum class ActivationPolicy { regular = 0, accessory = 1, prohibited = 2 };

struct RunningApplication {
    std::int32_t pid = 0;
    std::optional<std::string> bundleIdentifier;
    std::optional<std::string> localizedName;
    std::optional<std::string> bundlePath;
    ActivationPolicy policy = ActivationPolicy::regular;
    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

enum class WorkspaceChange { launched, terminated, activated, hidden, unhidden };

// The attributes of the request being handled, as far as the desktop tells them.
struct CurrentEvent {
    std::optional<std::int32_t> senderPid;
    std::optional<std::string> quitReason;  // a four-character code such as "logo"
};

enum class TerminateReply { now, cancel, later };

// The application delegate and the request handlers; each may be left empty.
struct DesktopHandlers {
    std::function<void(const std::string& url, const CurrentEvent&)> getURL;
    std::function<void(const std::vector<std::string>& urls, const std::optional<CurrentEvent>&)> openURLs;
    // An error text, or none when the request was served.
    std::function<std::optional<std::string>(const std::vector<std::string>& files,
                                             const std::optional<std::string>& userData)>
        servicesRequest;
    std::function<TerminateReply(const std::optional<CurrentEvent>&)> shouldTerminate;
    std::function<void()> reopen;
    std::function<void(std::uint32_t flags)> displayReconfigured;
};

inline constexpr std::uint32_t DISPLAY_BEGIN_CONFIGURATION_FLAG = 1;

struct HotKeyId {
    std::uint32_t signature = 0;  // a four-character code
    std::uint32_t id = 0;
    friend bool operator==(const HotKeyId&, const HotKeyId&) = default;
};

struct HotKeyRegistration {
    std::int32_t status = 0;      // 0 when registered, else the system's status
    std::uint64_t reference = 0;  // non-zero while registered
};

inline constexpr std::int32_t HOT_KEY_EXISTS_STATUS = -9878;

enum class KeyboardLayout { ansi, iso, jis };

struct Alert {
    std::string message;
    std::string informativeText;
    std::vector<std::string> buttons;  // the first is the default
};

// The button that answers an alert the user sends away (Escape, a dismissed notification): the
// one titled "Cancel", else the last one, so never the default of a choice of several.
int cancelButtonOf(const Alert& alert);

class Desktop {
public:
    virtual ~Desktop() = default;

    // Applications, in the desktop's order; the host is one of them.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
    std::optional<RunningApplication> runningApplication(std::int32_t pid) const;
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    std::optional<std::string> frontApplicationIdentifier() const;
    // Whether the host itself is the active application.
    virtual bool isActive() const = 0;

    // Cooperative activation: the active application yields, then the target activates.
    virtual void yieldActivation(std::int32_t pid) = 0;
    virtual bool activate(std::int32_t pid) = 0;
    virtual void activateIgnoringOtherApps() = 0;
    virtual ActivationPolicy activationPolicy() const = 0;
    // False when the system refused; the policy is then unchanged.
    virtual bool setActivationPolicy(ActivationPolicy policy) = 0;
    virtual bool openWithTheSystem(const std::string& url) = 0;

    // Status items live as long as the host; the desktop draws each change.
    virtual StatusItem& makeStatusItem() = 0;
    virtual BadgePanel& badgePanel() = 0;
    virtual Point mouseLocation() const = 0;
    // Shows the menu at a location in screen coordinates; the delegate hears of the opening.
    virtual void popUp(Menu& menu, Point location) = 0;

    // `options` go to the system unchanged.
    virtual HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                              std::uint32_t options) = 0;
    virtual void unregisterHotKey(std::uint64_t reference) = 0;
    virtual KeyboardLayout keyboardLayoutType() const = 0;

    // On-screen windows without desktop elements, front to back.
    virtual std::vector<OnScreenWindow> onScreenWindows() const = 0;
    virtual int statusWindowLevel() const { return 25; }
    // Screen frames in global coordinates; the primary first.
    virtual std::vector<Rect> screens() const = 0;

    // Blocks this piece of work until the user answers; the index of the chosen button.
    virtual int runModal(const Alert& alert) = 0;

    virtual std::vector<std::string> preferredLanguages() const = 0;

    // Answers a quit request that was answered "later".
    virtual void replyToApplicationShouldTerminate(bool terminate) = 0;

    // Menus, status items and the badge panel call this on every change, so the desktop redraws.
    virtual void modelChanged() {}

    void setHandlers(DesktopHandlers handlers) { handlers_ = std::move(handlers); }
    void observeTheWorkspace(std::function<void(WorkspaceChange, const RunningApplication&)> observer);
    void observeBecomingActive(std::function<void()> observer);
    // Tried in the order added until one takes the press.
    void addHotKeyHandler(std::function<bool(HotKeyId)> handler);
    // A chord that registered and was refused later (a system that answers after the
    // registration): its reference is no longer held and `status` is the chord's status now.
    // Tried in the order added until one takes it.
    void addHotKeyRefusalHandler(std::function<bool(HotKeyId, std::uint64_t reference, std::int32_t status)> handler);

protected:
    void tellTheWorkspaceObservers(WorkspaceChange change, const RunningApplication& application);
    void tellTheHostBecameActive();
    bool pressHotKey(HotKeyId id);
    void refuseHotKey(HotKeyId id, std::uint64_t reference, std::int32_t status);
    const DesktopHandlers& handlers() const { return handlers_; }

private:
    DesktopHandlers handlers_;
    std::vector<std::function<void(WorkspaceChange, const RunningApplication&)>> workspaceObservers_;
    std::vector<std::function<void()>> becameActiveObservers_;
    std::vector<std::function<bool(HotKeyId)>> hotKeyHandlers_;
    std::vector<std::function<bool(HotKeyId, std::uint64_t, std::int32_t)>> hotKeyRefusalHandlers_;
};

// The desktop in use: headless until a backend connects one.
Desktop& desktop();

// Replaces the desktop in use (tests give a fake one); returns the one it replaced.
std::unique_ptr<Desktop> useTheDesktop(std::unique_ptr<Desktop> replacement);

}  // namespace host::platform
