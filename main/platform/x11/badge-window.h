// The badge panel's window: borderless and override-redirect, so the window manager leaves it
// alone; click-through (an empty input shape); a pill drawn with cairo, on an ARGB visual when
// a compositor runs, else opaque with the pill as its shape. Main thread only.
#pragma once

#include <cstdint>
#include <string>

#include <xcb/xcb.h>

#include "platform/geometry.h"

typedef struct _cairo_surface cairo_surface_t;

namespace host::platform::x11 {

class BadgeWindow {
public:
    BadgeWindow(xcb_connection_t* connection, xcb_screen_t* screen, std::int32_t hostPid);
    ~BadgeWindow();
    BadgeWindow(const BadgeWindow&) = delete;
    BadgeWindow& operator=(const BadgeWindow&) = delete;

    // `frame` in root coordinates. The window is made on first use, and again when the
    // compositor came or went since.
    void show(const std::string& text, const Rect& frame, bool composited);
    void hide();
    // Redraws on exposure; true when the event was the badge's.
    bool takeEvent(const xcb_generic_event_t& event);

private:
    void make(bool composited);
    void destroy();
    void shapeThePill(std::uint16_t width, std::uint16_t height);
    void draw();

    xcb_connection_t* connection_;
    xcb_screen_t* screen_;
    std::int32_t hostPid_;
    xcb_window_t window_ = XCB_WINDOW_NONE;
    xcb_colormap_t colormap_ = XCB_NONE;
    cairo_surface_t* surface_ = nullptr;
    bool composited_ = false;
    bool shown_ = false;
    std::string text_;
    std::uint16_t width_ = 150;
    std::uint16_t height_ = 34;
};

}  // namespace host::platform::x11
