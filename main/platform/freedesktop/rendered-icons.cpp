#include "platform/freedesktop/rendered-icons.h"

#include <cairo.h>

#include <cctype>
#include <map>
#include <numbers>

namespace host::platform {
namespace {

const int STATUS_ICON_SIZES[] = {16, 22, 24, 32, 48};
constexpr int ROW_ICON_SIZE = 16;

// The text's first character, upper-cased when it is ASCII; "?" for an empty text.
std::string initialOf(const std::string& text) {
    if (text.empty()) return "?";
    std::size_t length = 1;
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead >= 0xF0) length = 4;
    else if (lead >= 0xE0) length = 3;
    else if (lead >= 0xC0) length = 2;
    if (length == 1) return std::string(1, static_cast<char>(std::toupper(lead)));
    return text.substr(0, length);
}

void drawTheDisc(cairo_t* cairo, double size) {
    const double middle = size / 2;
    cairo_arc(cairo, middle, middle, size / 2 - 1, 0, 2 * std::numbers::pi);
    cairo_set_source_rgb(cairo, 0.25, 0.25, 0.25);
    cairo_fill_preserve(cairo);
    cairo_set_source_rgb(cairo, 0.95, 0.95, 0.95);
    cairo_set_line_width(cairo, size / 16 < 1 ? 1 : size / 16);
    cairo_stroke(cairo);
}

void drawTheInitial(cairo_t* cairo, double size, const std::string& initial) {
    cairo_select_font_face(cairo, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cairo, size * 0.6);
    cairo_text_extents_t extents;
    cairo_text_extents(cairo, initial.c_str(), &extents);
    cairo_move_to(cairo, size / 2 - extents.width / 2 - extents.x_bearing,
                  size / 2 - extents.height / 2 - extents.y_bearing);
    cairo_set_source_rgb(cairo, 1, 1, 1);
    cairo_show_text(cairo, initial.c_str());
}

// A clear ring first, so the dot stays legible over the disc.
void drawTheBadge(cairo_t* cairo, double size) {
    const double radius = size * 0.2;
    const double centre = size - radius - 0.5;
    cairo_set_operator(cairo, CAIRO_OPERATOR_CLEAR);
    cairo_arc(cairo, centre, centre, radius + 1.5, 0, 2 * std::numbers::pi);
    cairo_fill(cairo);
    cairo_set_operator(cairo, CAIRO_OPERATOR_OVER);
    cairo_arc(cairo, centre, centre, radius, 0, 2 * std::numbers::pi);
    cairo_set_source_rgb(cairo, 0.86, 0.2, 0.18);
    cairo_fill(cairo);
}

cairo_surface_t* drawn(int size, const std::string& text, bool badged) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, size, size);
    cairo_t* cairo = cairo_create(surface);
    drawTheDisc(cairo, size);
    drawTheInitial(cairo, size, initialOf(text));
    if (badged) drawTheBadge(cairo, size);
    cairo_destroy(cairo);
    cairo_surface_flush(surface);
    return surface;
}

// Cairo keeps premultiplied native-endian words; the tray protocol wants plain big-endian ARGB.
Pixmap pixmapOf(cairo_surface_t* surface) {
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    Pixmap pixmap{width, height, {}};
    pixmap.argb.reserve(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::ptrdiff_t>(y) * stride);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t word = row[x];
            const unsigned alpha = word >> 24;
            auto plain = [alpha](unsigned channel) {
                return static_cast<char>(alpha == 0 ? 0 : (channel * 255 + alpha / 2) / alpha);
            };
            pixmap.argb.push_back(static_cast<char>(alpha));
            pixmap.argb.push_back(plain((word >> 16) & 0xFF));
            pixmap.argb.push_back(plain((word >> 8) & 0xFF));
            pixmap.argb.push_back(plain(word & 0xFF));
        }
    }
    return pixmap;
}

cairo_status_t appendPng(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::vector<Pixmap> renderedStatusIcon(const std::string& text, bool badged) {
    std::vector<Pixmap> pixmaps;
    for (int size : STATUS_ICON_SIZES) {
        cairo_surface_t* surface = drawn(size, text, badged);
        pixmaps.push_back(pixmapOf(surface));
        cairo_surface_destroy(surface);
    }
    return pixmaps;
}

const std::string& renderedRowIconPng(const std::string& text) {
    static std::map<std::string, std::string> drawings;
    const std::string initial = initialOf(text);
    auto known = drawings.find(initial);
    if (known != drawings.end()) return known->second;
    std::string png;
    cairo_surface_t* surface = drawn(ROW_ICON_SIZE, text, false);
    if (cairo_surface_write_to_png_stream(surface, appendPng, &png) != CAIRO_STATUS_SUCCESS) png.clear();
    cairo_surface_destroy(surface);
    return drawings.emplace(initial, std::move(png)).first->second;
}

}  // namespace host::platform
