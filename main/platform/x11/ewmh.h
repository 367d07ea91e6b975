// EWMH and ICCCM hints: the window manager's client lists and active window, what a client
// window says of itself (pid, class, type, state), where it stands with the manager's frame,
// and activation requests. Windows may vanish between two requests: they are then left out.
// Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <xcb/xcb_ewmh.h>

#include "platform/geometry.h"
#include "platform/x11/applications.h"

namespace host::platform::x11 {

// Layers on the scale of the status window level (25): windows kept below others -1, normal
// windows and dialogs 0, windows kept above them (utilities, toolbars, torn-off menus,
// splashes, the above state) 3, docks 20, notifications and pop-ups 101.
inline constexpr int BELOW_LAYER = -1;
inline constexpr int NORMAL_LAYER = 0;
inline constexpr int ABOVE_LAYER = 3;
inline constexpr int DOCK_LAYER = 20;
inline constexpr int POP_UP_LAYER = 101;

struct ShownWindow {
    std::int32_t pid = 0;  // 0 when the window does not say
    int layer = NORMAL_LAYER;
    Rect bounds;           // in root coordinates, with the manager's frame
};

class Ewmh {
public:
    Ewmh(xcb_connection_t* connection, int screenNumber, xcb_window_t root);
    ~Ewmh();
    Ewmh(const Ewmh&) = delete;
    Ewmh& operator=(const Ewmh&) = delete;

    // Interns the atoms; false when the server does not answer.
    bool start();

    std::vector<xcb_window_t> clients() const;
    std::vector<xcb_window_t> clientsBottomToTop() const;
    std::optional<xcb_window_t> activeWindow() const;
    // Root properties that change the applications, and client ones that change a client.
    bool changesTheClients(xcb_atom_t rootProperty) const;
    bool changesAClient(xcb_atom_t property) const;

    // Asks for the property changes of the windows, then reads them; one per window, none for
    // a window that is gone.
    std::vector<std::optional<ClientWindow>> describe(const std::vector<xcb_window_t>& windows) const;

    // The mapped, not hidden clients front to back, desktop windows left out.
    std::vector<ShownWindow> shownFrontToBack() const;

    // Asks the window manager to activate the window.
    void requestActivation(xcb_window_t window, std::optional<xcb_window_t> current) const;

    // Whether a compositing manager runs on the screen.
    bool compositorRuns() const;

private:
    enum class WindowKind { normal, above, dock, popUp, desktop };
    WindowKind kindOf(const std::vector<std::uint32_t>& types) const;
    int layerOf(WindowKind kind, const std::vector<std::uint32_t>& states) const;

    xcb_connection_t* connection_;
    int screenNumber_;
    xcb_window_t root_;
    xcb_ewmh_connection_t ewmh_{};
    xcb_atom_t wmState_ = XCB_ATOM_NONE;
    bool started_ = false;
};

}  // namespace host::platform::x11
