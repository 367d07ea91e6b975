// The cairo calls the host makes, loaded from libcairo on the first of them. Linked in, cairo
// and the twelve libraries only it needs would be mapped and relocated at every start, before the
// shell can be spawned, though most hosts never draw an icon or a badge. Without the library
// every call does nothing and returns nothing: no icon, no badge, never a crash.
#include <cairo-xcb.h>
#include <cairo.h>

#include <cstring>

#include "support/on-demand.h"

namespace {

host::OnDemandLibraries& cairoLibrary() {
    static host::OnDemandLibraries library{"libcairo.so.2"};
    return library;
}

// The library's own function of that name, or null.
template <typename Function>
Function loaded(const char* name) {
    return reinterpret_cast<Function>(cairoLibrary().symbol(name));
}

}  // namespace

#define FORWARD(name, ...) FORWARD_ON_DEMAND(cairoLibrary(), name, __VA_ARGS__)

extern "C" {

cairo_t* cairo_create(cairo_surface_t* target) { FORWARD(cairo_create, target); }
void cairo_destroy(cairo_t* cr) { FORWARD(cairo_destroy, cr); }
void cairo_set_operator(cairo_t* cr, cairo_operator_t op) { FORWARD(cairo_set_operator, cr, op); }
void cairo_set_source_rgb(cairo_t* cr, double red, double green, double blue) {
    FORWARD(cairo_set_source_rgb, cr, red, green, blue);
}
void cairo_set_source_rgba(cairo_t* cr, double red, double green, double blue, double alpha) {
    FORWARD(cairo_set_source_rgba, cr, red, green, blue, alpha);
}
void cairo_set_line_width(cairo_t* cr, double width) { FORWARD(cairo_set_line_width, cr, width); }
void cairo_move_to(cairo_t* cr, double x, double y) { FORWARD(cairo_move_to, cr, x, y); }
void cairo_new_sub_path(cairo_t* cr) { FORWARD(cairo_new_sub_path, cr); }
void cairo_arc(cairo_t* cr, double xc, double yc, double radius, double angle1, double angle2) {
    FORWARD(cairo_arc, cr, xc, yc, radius, angle1, angle2);
}
void cairo_close_path(cairo_t* cr) { FORWARD(cairo_close_path, cr); }
void cairo_paint(cairo_t* cr) { FORWARD(cairo_paint, cr); }
void cairo_stroke(cairo_t* cr) { FORWARD(cairo_stroke, cr); }
void cairo_fill(cairo_t* cr) { FORWARD(cairo_fill, cr); }
void cairo_fill_preserve(cairo_t* cr) { FORWARD(cairo_fill_preserve, cr); }
void cairo_select_font_face(cairo_t* cr, const char* family, cairo_font_slant_t slant, cairo_font_weight_t weight) {
    FORWARD(cairo_select_font_face, cr, family, slant, weight);
}
void cairo_set_font_size(cairo_t* cr, double size) { FORWARD(cairo_set_font_size, cr, size); }
void cairo_show_text(cairo_t* cr, const char* utf8) { FORWARD(cairo_show_text, cr, utf8); }
// The extents are zero when nothing measured them.
void cairo_text_extents(cairo_t* cr, const char* utf8, cairo_text_extents_t* extents) {
    std::memset(extents, 0, sizeof *extents);
    FORWARD(cairo_text_extents, cr, utf8, extents);
}
void cairo_font_extents(cairo_t* cr, cairo_font_extents_t* extents) {
    std::memset(extents, 0, sizeof *extents);
    FORWARD(cairo_font_extents, cr, extents);
}

cairo_device_t* cairo_device_reference(cairo_device_t* device) { FORWARD(cairo_device_reference, device); }
void cairo_device_finish(cairo_device_t* device) { FORWARD(cairo_device_finish, device); }
void cairo_device_destroy(cairo_device_t* device) { FORWARD(cairo_device_destroy, device); }

void cairo_surface_finish(cairo_surface_t* surface) { FORWARD(cairo_surface_finish, surface); }
void cairo_surface_destroy(cairo_surface_t* surface) { FORWARD(cairo_surface_destroy, surface); }
void cairo_surface_flush(cairo_surface_t* surface) { FORWARD(cairo_surface_flush, surface); }
cairo_device_t* cairo_surface_get_device(cairo_surface_t* surface) { FORWARD(cairo_surface_get_device, surface); }
cairo_status_t cairo_surface_write_to_png_stream(cairo_surface_t* surface, cairo_write_func_t write, void* closure) {
    static const auto real = loaded<decltype(&cairo_surface_write_to_png_stream)>("cairo_surface_write_to_png_stream");
    return real ? real(surface, write, closure) : CAIRO_STATUS_NULL_POINTER;
}

cairo_surface_t* cairo_image_surface_create(cairo_format_t format, int width, int height) {
    FORWARD(cairo_image_surface_create, format, width, height);
}
unsigned char* cairo_image_surface_get_data(cairo_surface_t* surface) { FORWARD(cairo_image_surface_get_data, surface); }
int cairo_image_surface_get_width(cairo_surface_t* surface) { FORWARD(cairo_image_surface_get_width, surface); }
int cairo_image_surface_get_height(cairo_surface_t* surface) { FORWARD(cairo_image_surface_get_height, surface); }
int cairo_image_surface_get_stride(cairo_surface_t* surface) { FORWARD(cairo_image_surface_get_stride, surface); }

cairo_surface_t* cairo_xcb_surface_create(xcb_connection_t* connection, xcb_drawable_t drawable,
                                          xcb_visualtype_t* visual, int width, int height) {
    FORWARD(cairo_xcb_surface_create, connection, drawable, visual, width, height);
}
void cairo_xcb_surface_set_size(cairo_surface_t* surface, int width, int height) {
    FORWARD(cairo_xcb_surface_set_size, surface, width, height);
}

}  // extern "C"
