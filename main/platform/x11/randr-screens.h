// Screens from RandR: the frames of the lit outputs in root coordinates, the primary first,
// and the events that say they changed. Without RandR the root window is the one screen.
// Main thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <xcb/xcb.h>

#include "platform/geometry.h"

namespace host::platform::x11 {

class RandrScreens {
public:
    RandrScreens(xcb_connection_t* connection, xcb_window_t root);

    // Asks for the change events when the server has RandR.
    void start();
    // A RandR event: the frames are read again on the next look.
    bool takeChangeEvent(const xcb_generic_event_t& event);

    // Never empty while the display answers.
    const std::vector<Rect>& frames();

private:
    std::vector<Rect> read() const;
    std::vector<Rect> rootFrame() const;

    xcb_connection_t* connection_;
    xcb_window_t root_;
    std::uint8_t firstEvent_ = 0;
    bool present_ = false;
    std::optional<std::vector<Rect>> frames_;
};

}  // namespace host::platform::x11
