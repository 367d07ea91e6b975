#include "platform/x11/badge-window.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include <cairo-xcb.h>
#include <xcb/shape.h>

#include "platform/x11/xcb-replies.h"

namespace host::platform::x11 {
namespace {

constexpr const char* WINDOW_TYPE = "_NET_WM_WINDOW_TYPE";
constexpr const char* NOTIFICATION_TYPE = "_NET_WM_WINDOW_TYPE_NOTIFICATION";
constexpr const char* PID = "_NET_WM_PID";
constexpr const char* NAME = "badge";
constexpr double BACKGROUND_ALPHA = 0.78;
// Without a compositor nothing shows through: the grey the translucent black gives on a light
// window.
constexpr double OPAQUE_GREY = 0.22;
constexpr double FONT_SIZE = 14;
constexpr const char* FONT = "sans-serif";

// The visual of that id, or the first true-colour visual of that depth.
xcb_visualtype_t* visualOf(xcb_screen_t* screen, std::uint8_t depth, std::optional<xcb_visualid_t> id) {
    for (auto depths = xcb_screen_allowed_depths_iterator(screen); depths.rem; xcb_depth_next(&depths)) {
        if (depths.data->depth != depth) continue;
        for (auto visuals = xcb_depth_visuals_iterator(depths.data); visuals.rem; xcb_visualtype_next(&visuals)) {
            if (id ? visuals.data->visual_id == *id : visuals.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR) {
                return visuals.data;
            }
        }
    }
    return nullptr;
}

void setProperty(xcb_connection_t* connection, xcb_window_t window, const char* name, xcb_atom_t type,
                 std::uint8_t format, std::uint32_t length, const void* data) {
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, window, atomNamed(connection, name), type, format, length, data);
}

bool hasShapes(xcb_connection_t* connection) {
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(connection, &xcb_shape_id);
    return shape && shape->present;
}

// The rows of a pill of that size, as few rectangles as rows of equal width allow.
std::vector<xcb_rectangle_t> pillRows(std::uint16_t width, std::uint16_t height) {
    const double radius = std::min(width, height) / 2.0;
    const double middle = height / 2.0;
    std::vector<xcb_rectangle_t> rows;
    for (std::uint16_t y = 0; y < height; ++y) {
        const double dy = y + 0.5 - middle;
        const double inside = std::sqrt(std::max(0.0, radius * radius - dy * dy));
        const auto inset = static_cast<std::int16_t>(std::lround(radius - inside));
        if (width <= 2 * inset) continue;
        if (!rows.empty() && rows.back().x == inset && rows.back().y + rows.back().height == y) {
            ++rows.back().height;
            continue;
        }
        rows.push_back({inset, static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width - 2 * inset), 1});
    }
    return rows;
}

std::uint16_t sizeOf(double length) { return static_cast<std::uint16_t>(std::clamp(std::lround(length), 1L, 32767L)); }
std::int16_t placeOf(double at) { return static_cast<std::int16_t>(std::clamp(std::lround(at), -32768L, 32767L)); }

}  // namespace

BadgeWindow::BadgeWindow(xcb_connection_t* connection, xcb_screen_t* screen, std::int32_t hostPid)
    : connection_(connection), screen_(screen), hostPid_(hostPid) {}

BadgeWindow::~BadgeWindow() { destroy(); }

void BadgeWindow::make(bool composited) {
    xcb_visualtype_t* visual = composited ? visualOf(screen_, 32, std::nullopt) : nullptr;
    composited_ = visual != nullptr;
    if (!visual) visual = visualOf(screen_, screen_->root_depth, screen_->root_visual);
    if (!visual) return;
    std::uint32_t mask = XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
    std::vector<std::uint32_t> values{composited_ ? 0 : screen_->black_pixel, 0, 1, XCB_EVENT_MASK_EXPOSURE};
    if (composited_) {
        // A depth other than the root's needs its own colormap.
        colormap_ = xcb_generate_id(connection_);
        xcb_create_colormap(connection_, XCB_COLORMAP_ALLOC_NONE, colormap_, screen_->root, visual->visual_id);
        mask |= XCB_CW_COLORMAP;
        values.push_back(colormap_);
    }
    window_ = xcb_generate_id(connection_);
    xcb_create_window(connection_, composited_ ? 32 : screen_->root_depth, window_, screen_->root, 0, 0, width_, height_,
                      0, XCB_WINDOW_CLASS_INPUT_OUTPUT, visual->visual_id, mask, values.data());
    // Clicks go through to the window below.
    if (hasShapes(connection_)) {
        xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED, window_, 0, 0,
                             0, nullptr);
    }
    const xcb_atom_t notification = atomNamed(connection_, NOTIFICATION_TYPE);
    setProperty(connection_, window_, WINDOW_TYPE, XCB_ATOM_ATOM, 32, 1, &notification);
    setProperty(connection_, window_, PID, XCB_ATOM_CARDINAL, 32, 1, &hostPid_);
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        std::char_traits<char>::length(NAME), NAME);
    surface_ = cairo_xcb_surface_create(connection_, window_, visual, width_, height_);
}

void BadgeWindow::destroy() {
    if (surface_) {
        // cairo keeps a device per connection, found again by its address: finished here, it
        // cannot outlive the connection and be taken for a later one at the same address.
        cairo_device_t* device = cairo_device_reference(cairo_surface_get_device(surface_));
        cairo_surface_finish(surface_);
        cairo_surface_destroy(surface_);
        cairo_device_finish(device);
        cairo_device_destroy(device);
        surface_ = nullptr;
    }
    if (window_ != XCB_WINDOW_NONE) xcb_destroy_window(connection_, window_);
    if (colormap_ != XCB_NONE) xcb_free_colormap(connection_, colormap_);
    window_ = XCB_WINDOW_NONE;
    colormap_ = XCB_NONE;
    shown_ = false;
}

void BadgeWindow::show(const std::string& text, const Rect& frame, bool composited) {
    if (window_ == XCB_WINDOW_NONE || composited != composited_) {
        destroy();
        make(composited);
        if (window_ == XCB_WINDOW_NONE) return;
    }
    text_ = text;
    width_ = sizeOf(frame.width);
    height_ = sizeOf(frame.height);
    const std::uint32_t values[] = {static_cast<std::uint32_t>(placeOf(frame.x)), static_cast<std::uint32_t>(placeOf(frame.y)),
                                    width_, height_, XCB_STACK_MODE_ABOVE};
    xcb_configure_window(connection_, window_,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT |
                             XCB_CONFIG_WINDOW_STACK_MODE,
                         values);
    cairo_xcb_surface_set_size(surface_, width_, height_);
    if (!composited_) shapeThePill(width_, height_);
    xcb_map_window(connection_, window_);
    shown_ = true;
    draw();
}

void BadgeWindow::hide() {
    if (window_ == XCB_WINDOW_NONE) return;
    xcb_unmap_window(connection_, window_);
    shown_ = false;
    xcb_flush(connection_);
}

bool BadgeWindow::takeEvent(const xcb_generic_event_t& event) {
    if ((event.response_type & 0x7f) != XCB_EXPOSE) return false;
    const auto& exposed = reinterpret_cast<const xcb_expose_event_t&>(event);
    if (exposed.window != window_) return false;
    if (exposed.count == 0) draw();
    return true;
}

// Without a compositor the corners cannot be see-through: the window takes the pill's shape.
void BadgeWindow::shapeThePill(std::uint16_t width, std::uint16_t height) {
    if (!hasShapes(connection_)) return;
    const std::vector<xcb_rectangle_t> rows = pillRows(width, height);
    xcb_shape_rectangles(connection_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_BANDED, window_, 0, 0,
                         static_cast<std::uint32_t>(rows.size()), rows.data());
}

void BadgeWindow::draw() {
    if (!surface_ || !shown_) return;
    cairo_t* cairo = cairo_create(surface_);
    cairo_set_operator(cairo, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cairo, 0, 0, 0, 0);
    cairo_paint(cairo);
    const double radius = std::min(width_, height_) / 2.0;
    const double middle = height_ / 2.0;
    cairo_new_sub_path(cairo);
    cairo_arc(cairo, width_ - radius, middle, radius, -std::numbers::pi / 2, std::numbers::pi / 2);
    cairo_arc(cairo, radius, middle, radius, std::numbers::pi / 2, 3 * std::numbers::pi / 2);
    cairo_close_path(cairo);
    if (composited_) cairo_set_source_rgba(cairo, 0, 0, 0, BACKGROUND_ALPHA);
    else cairo_set_source_rgb(cairo, OPAQUE_GREY, OPAQUE_GREY, OPAQUE_GREY);
    cairo_fill(cairo);
    cairo_set_operator(cairo, CAIRO_OPERATOR_OVER);
    cairo_select_font_face(cairo, FONT, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cairo, FONT_SIZE);
    cairo_text_extents_t text;
    cairo_font_extents_t font;
    cairo_text_extents(cairo, text_.c_str(), &text);
    cairo_font_extents(cairo, &font);
    cairo_move_to(cairo, (width_ - text.x_advance) / 2, (height_ + font.ascent - font.descent) / 2);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_show_text(cairo, text_.c_str());
    cairo_destroy(cairo);
    cairo_surface_flush(surface_);
    xcb_flush(connection_);
}

}  // namespace host::platform::x11
