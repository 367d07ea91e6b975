// What the window system tells the freedesktop desktop and does for it: the other applications
// and the front one, activation, global hot keys, on-screen windows, screens, the pointer, the
// keyboard layout and the badge panel. One implementation per window system (X11); the headless
// one keeps the documented defaults. Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/badge-panel.h"
#include "platform/desktop.h"
#include "platform/geometry.h"
#include "platform/windows.h"

namespace host::platform {

// What the window system reports; the desktop passes each on to its own observers.
struct WindowSystemEvents {
    std::function<void(WorkspaceChange, const RunningApplication&)> workspaceChanged;
    std::function<void()> hostBecameActive;
    // True when a handler took the press.
    std::function<bool(HotKeyId)> hotKeyPressed;
    std::function<void(std::uint32_t flags)> displayReconfigured;
    // The connection is gone for good (the display closed). The window system then answers as
    // the headless one does, with hot-key references apart from the ones it gave before.
    std::function<void(const std::string& why)> lost;
    // A chord that registered was refused afterwards; its reference is released.
    std::function<void(HotKeyId, std::uint64_t reference, std::int32_t status)> hotKeyRefused;
};

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    virtual void setEvents(WindowSystemEvents events) = 0;

    // The applications that own windows, in the window system's order; the desktop adds the
    // host itself when it is missing.
    virtual std::vector<RunningApplication> runningApplications() const = 0;
    virtual std::optional<std::int32_t> frontmostPid() const = 0;
    virtual void yieldActivation(std::int32_t pid) = 0;
    virtual bool activate(std::int32_t pid) = 0;
    // Activates the host where it has a window; nothing otherwise.
    virtual void activateTheHost() = 0;

    // `code` and `modifiers` are the host's own (virtual key code, hot-key modifier mask); the
    // window system translates them. A chord another client holds is HOT_KEY_EXISTS_STATUS.
    virtual HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                              std::uint32_t options) = 0;
    virtual void unregisterHotKey(std::uint64_t reference) = 0;
    virtual KeyboardLayout keyboardLayoutType() const = 0;

    // Front to back, in the global coordinates of geometry.h.
    virtual std::vector<OnScreenWindow> onScreenWindows() const = 0;
    virtual int statusWindowLevel() const = 0;
    // The primary first.
    virtual std::vector<Rect> screens() const = 0;
    // In screen coordinates, as a menu pops up: origin at the primary screen's bottom left.
    virtual Point mouseLocation() const = 0;

    // Draws the panel as it now stands: shown with its text and frame, or hidden.
    virtual void showTheBadgePanel(const BadgePanel& panel) = 0;
};

// The defaults of a desktop without a window system: no other application, no windows, one
// 1440 x 900 screen, the ANSI layout, hot keys that register (a chord held twice is refused)
// and are never pressed.
std::unique_ptr<WindowSystem> headlessWindowSystem();

}  // namespace host::platform
