// The X11 client libraries (xcb, its extensions, xkbcommon), loaded when a display is first
// opened: linked in, these eleven libraries would be mapped at every start, before the shell can be
// spawned, though a host on Wayland or without a desktop never calls them.
#include "platform/x11/x11-on-demand.h"

#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcbext.h>
// xcb's XKB header names a member "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include "support/on-demand.h"

namespace host::platform {
namespace {

OnDemandLibraries& x11Libraries() {
    static OnDemandLibraries libraries{"libxcb.so.1",          "libxcb-randr.so.0", "libxcb-shape.so.0",
                                       "libxcb-xkb.so.1",      "libxcb-ewmh.so.2",  "libxkbcommon.so.0",
                                       "libxkbcommon-x11.so.0"};
    return libraries;
}

}  // namespace

bool loadTheX11Libraries(std::string* why) { return x11Libraries().load(why); }

}  // namespace host::platform

#define FORWARD(name, ...) FORWARD_ON_DEMAND(host::platform::x11Libraries(), name, __VA_ARGS__)

extern "C" {

// The host's records of the extensions it asks about. The libraries keep their own, which the
// host's stand for (a second record would cost the display a second query).
xcb_extension_t xcb_randr_id = {"RANDR", 0};
xcb_extension_t xcb_shape_id = {"SHAPE", 0};

}  // extern "C"

namespace {

xcb_extension_t* librarysOwn(xcb_extension_t* extension) {
    const char* name = extension == &xcb_randr_id   ? "xcb_randr_id"
                       : extension == &xcb_shape_id ? "xcb_shape_id"
                                                    : nullptr;
    auto* own = name ? static_cast<xcb_extension_t*>(host::platform::x11Libraries().symbol(name)) : nullptr;
    return own ? own : extension;
}

}  // namespace

extern "C" {

const xcb_query_extension_reply_t* xcb_get_extension_data(xcb_connection_t* c, xcb_extension_t* ext) {
    FORWARD(xcb_get_extension_data, c, librarysOwn(ext));
}
xcb_void_cookie_t xcb_change_property(xcb_connection_t* c, uint8_t mode, xcb_window_t window, xcb_atom_t property,
                                      xcb_atom_t type, uint8_t format, uint32_t data_len, const void* data) {
    FORWARD(xcb_change_property, c, mode, window, property, type, format, data_len, data);
}
xcb_void_cookie_t xcb_change_window_attributes(xcb_connection_t* c, xcb_window_t window, uint32_t value_mask,
                                               const void* value_list) {
    FORWARD(xcb_change_window_attributes, c, window, value_mask, value_list);
}
xcb_void_cookie_t xcb_configure_window(xcb_connection_t* c, xcb_window_t window, uint16_t value_mask,
                                       const void* value_list) {
    FORWARD(xcb_configure_window, c, window, value_mask, value_list);
}
xcb_connection_t* xcb_connect(const char* displayname, int* screenp) { FORWARD(xcb_connect, displayname, screenp); }
int xcb_connection_has_error(xcb_connection_t* c) { FORWARD(xcb_connection_has_error, c); }
xcb_void_cookie_t xcb_create_colormap(xcb_connection_t* c, uint8_t alloc, xcb_colormap_t mid, xcb_window_t window,
                                      xcb_visualid_t visual) {
    FORWARD(xcb_create_colormap, c, alloc, mid, window, visual);
}
xcb_void_cookie_t xcb_create_window(xcb_connection_t* c, uint8_t depth, xcb_window_t wid, xcb_window_t parent,
                                    int16_t x, int16_t y, uint16_t width, uint16_t height, uint16_t border_width,
                                    uint16_t _class, xcb_visualid_t visual, uint32_t value_mask,
                                    const void* value_list) {
    FORWARD(xcb_create_window, c, depth, wid, parent, x, y, width, height, border_width, _class, visual, value_mask,
            value_list);
}
void xcb_depth_next(xcb_depth_iterator_t* i) { FORWARD(xcb_depth_next, i); }
xcb_visualtype_iterator_t xcb_depth_visuals_iterator(const xcb_depth_t* reply) {
    FORWARD(xcb_depth_visuals_iterator, reply);
}
xcb_void_cookie_t xcb_destroy_window(xcb_connection_t* c, xcb_window_t window) {
    FORWARD(xcb_destroy_window, c, window);
}
void xcb_discard_reply(xcb_connection_t* c, unsigned int sequence) { FORWARD(xcb_discard_reply, c, sequence); }
void xcb_disconnect(xcb_connection_t* c) { FORWARD(xcb_disconnect, c); }
xcb_intern_atom_cookie_t* xcb_ewmh_init_atoms(xcb_connection_t* c, xcb_ewmh_connection_t* ewmh) {
    FORWARD(xcb_ewmh_init_atoms, c, ewmh);
}
uint8_t xcb_ewmh_init_atoms_replies(xcb_ewmh_connection_t* ewmh, xcb_intern_atom_cookie_t* ewmh_cookies,
                                    xcb_generic_error_t** e) {
    FORWARD(xcb_ewmh_init_atoms_replies, ewmh, ewmh_cookies, e);
}
xcb_void_cookie_t xcb_ewmh_request_change_active_window(xcb_ewmh_connection_t* ewmh, int screen_nbr,
                                                        xcb_window_t window_to_activate,
                                                        xcb_ewmh_client_source_type_t source_indication,
                                                        xcb_timestamp_t timestamp, xcb_window_t current_active_window) {
    FORWARD(xcb_ewmh_request_change_active_window, ewmh, screen_nbr, window_to_activate, source_indication, timestamp,
            current_active_window);
}
int xcb_flush(xcb_connection_t* c) { FORWARD(xcb_flush, c); }
xcb_void_cookie_t xcb_free_colormap(xcb_connection_t* c, xcb_colormap_t cmap) { FORWARD(xcb_free_colormap, c, cmap); }
uint32_t xcb_generate_id(xcb_connection_t* c) { FORWARD(xcb_generate_id, c); }
int xcb_get_file_descriptor(xcb_connection_t* c) { FORWARD(xcb_get_file_descriptor, c); }
xcb_get_geometry_cookie_t xcb_get_geometry(xcb_connection_t* c, xcb_drawable_t drawable) {
    FORWARD(xcb_get_geometry, c, drawable);
}
xcb_get_geometry_reply_t* xcb_get_geometry_reply(xcb_connection_t* c, xcb_get_geometry_cookie_t cookie,
                                                 xcb_generic_error_t** e) {
    FORWARD(xcb_get_geometry_reply, c, cookie, e);
}
xcb_get_modifier_mapping_cookie_t xcb_get_modifier_mapping(xcb_connection_t* c) {
    FORWARD(xcb_get_modifier_mapping, c);
}
xcb_keycode_t* xcb_get_modifier_mapping_keycodes(const xcb_get_modifier_mapping_reply_t* reply) {
    FORWARD(xcb_get_modifier_mapping_keycodes, reply);
}
xcb_get_modifier_mapping_reply_t* xcb_get_modifier_mapping_reply(xcb_connection_t* c,
                                                                 xcb_get_modifier_mapping_cookie_t cookie,
                                                                 xcb_generic_error_t** e) {
    FORWARD(xcb_get_modifier_mapping_reply, c, cookie, e);
}
xcb_get_property_cookie_t xcb_get_property(xcb_connection_t* c, uint8_t _delete, xcb_window_t window,
                                           xcb_atom_t property, xcb_atom_t type, uint32_t long_offset,
                                           uint32_t long_length) {
    FORWARD(xcb_get_property, c, _delete, window, property, type, long_offset, long_length);
}
xcb_get_property_reply_t* xcb_get_property_reply(xcb_connection_t* c, xcb_get_property_cookie_t cookie,
                                                 xcb_generic_error_t** e) {
    FORWARD(xcb_get_property_reply, c, cookie, e);
}
void* xcb_get_property_value(const xcb_get_property_reply_t* reply) { FORWARD(xcb_get_property_value, reply); }
int xcb_get_property_value_length(const xcb_get_property_reply_t* reply) {
    FORWARD(xcb_get_property_value_length, reply);
}
xcb_get_selection_owner_cookie_t xcb_get_selection_owner(xcb_connection_t* c, xcb_atom_t selection) {
    FORWARD(xcb_get_selection_owner, c, selection);
}
xcb_get_selection_owner_reply_t* xcb_get_selection_owner_reply(xcb_connection_t* c,
                                                               xcb_get_selection_owner_cookie_t cookie,
                                                               xcb_generic_error_t** e) {
    FORWARD(xcb_get_selection_owner_reply, c, cookie, e);
}
const struct xcb_setup_t* xcb_get_setup(xcb_connection_t* c) { FORWARD(xcb_get_setup, c); }
xcb_get_window_attributes_cookie_t xcb_get_window_attributes(xcb_connection_t* c, xcb_window_t window) {
    FORWARD(xcb_get_window_attributes, c, window);
}
xcb_get_window_attributes_reply_t* xcb_get_window_attributes_reply(xcb_connection_t* c,
                                                                   xcb_get_window_attributes_cookie_t cookie,
                                                                   xcb_generic_error_t** e) {
    FORWARD(xcb_get_window_attributes_reply, c, cookie, e);
}
xcb_void_cookie_t xcb_grab_key_checked(xcb_connection_t* c, uint8_t owner_events, xcb_window_t grab_window,
                                       uint16_t modifiers, xcb_keycode_t key, uint8_t pointer_mode,
                                       uint8_t keyboard_mode) {
    FORWARD(xcb_grab_key_checked, c, owner_events, grab_window, modifiers, key, pointer_mode, keyboard_mode);
}
xcb_intern_atom_cookie_t xcb_intern_atom(xcb_connection_t* c, uint8_t only_if_exists, uint16_t name_len,
                                         const char* name) {
    FORWARD(xcb_intern_atom, c, only_if_exists, name_len, name);
}
xcb_intern_atom_reply_t* xcb_intern_atom_reply(xcb_connection_t* c, xcb_intern_atom_cookie_t cookie,
                                               xcb_generic_error_t** e) {
    FORWARD(xcb_intern_atom_reply, c, cookie, e);
}
xcb_void_cookie_t xcb_map_window(xcb_connection_t* c, xcb_window_t window) { FORWARD(xcb_map_window, c, window); }
xcb_generic_event_t* xcb_poll_for_event(xcb_connection_t* c) { FORWARD(xcb_poll_for_event, c); }
xcb_query_pointer_cookie_t xcb_query_pointer(xcb_connection_t* c, xcb_window_t window) {
    FORWARD(xcb_query_pointer, c, window);
}
xcb_query_pointer_reply_t* xcb_query_pointer_reply(xcb_connection_t* c, xcb_query_pointer_cookie_t cookie,
                                                   xcb_generic_error_t** e) {
    FORWARD(xcb_query_pointer_reply, c, cookie, e);
}
xcb_randr_get_crtc_info_cookie_t xcb_randr_get_crtc_info(xcb_connection_t* c, xcb_randr_crtc_t crtc,
                                                         xcb_timestamp_t config_timestamp) {
    FORWARD(xcb_randr_get_crtc_info, c, crtc, config_timestamp);
}
xcb_randr_get_crtc_info_reply_t* xcb_randr_get_crtc_info_reply(xcb_connection_t* c,
                                                               xcb_randr_get_crtc_info_cookie_t cookie,
                                                               xcb_generic_error_t** e) {
    FORWARD(xcb_randr_get_crtc_info_reply, c, cookie, e);
}
xcb_randr_get_output_info_cookie_t xcb_randr_get_output_info(xcb_connection_t* c, xcb_randr_output_t output,
                                                             xcb_timestamp_t config_timestamp) {
    FORWARD(xcb_randr_get_output_info, c, output, config_timestamp);
}
xcb_randr_get_output_info_reply_t* xcb_randr_get_output_info_reply(xcb_connection_t* c,
                                                                   xcb_randr_get_output_info_cookie_t cookie,
                                                                   xcb_generic_error_t** e) {
    FORWARD(xcb_randr_get_output_info_reply, c, cookie, e);
}
xcb_randr_get_output_primary_cookie_t xcb_randr_get_output_primary(xcb_connection_t* c, xcb_window_t window) {
    FORWARD(xcb_randr_get_output_primary, c, window);
}
xcb_randr_get_output_primary_reply_t* xcb_randr_get_output_primary_reply(xcb_connection_t* c,
                                                                         xcb_randr_get_output_primary_cookie_t cookie,
                                                                         xcb_generic_error_t** e) {
    FORWARD(xcb_randr_get_output_primary_reply, c, cookie, e);
}
xcb_randr_get_screen_resources_current_cookie_t xcb_randr_get_screen_resources_current(xcb_connection_t* c,
                                                                                       xcb_window_t window) {
    FORWARD(xcb_randr_get_screen_resources_current, c, window);
}
xcb_randr_crtc_t* xcb_randr_get_screen_resources_current_crtcs(
    const xcb_randr_get_screen_resources_current_reply_t* reply) {
    FORWARD(xcb_randr_get_screen_resources_current_crtcs, reply);
}
int xcb_randr_get_screen_resources_current_crtcs_length(const xcb_randr_get_screen_resources_current_reply_t* reply) {
    FORWARD(xcb_randr_get_screen_resources_current_crtcs_length, reply);
}
xcb_randr_get_screen_resources_current_reply_t* xcb_randr_get_screen_resources_current_reply(
    xcb_connection_t* c, xcb_randr_get_screen_resources_current_cookie_t cookie, xcb_generic_error_t** e) {
    FORWARD(xcb_randr_get_screen_resources_current_reply, c, cookie, e);
}
xcb_randr_query_version_cookie_t xcb_randr_query_version(xcb_connection_t* c, uint32_t major_version,
                                                         uint32_t minor_version) {
    FORWARD(xcb_randr_query_version, c, major_version, minor_version);
}
xcb_randr_query_version_reply_t* xcb_randr_query_version_reply(xcb_connection_t* c,
                                                               xcb_randr_query_version_cookie_t cookie,
                                                               xcb_generic_error_t** e) {
    FORWARD(xcb_randr_query_version_reply, c, cookie, e);
}
xcb_void_cookie_t xcb_randr_select_input(xcb_connection_t* c, xcb_window_t window, uint16_t enable) {
    FORWARD(xcb_randr_select_input, c, window, enable);
}
xcb_generic_error_t* xcb_request_check(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    FORWARD(xcb_request_check, c, cookie);
}
xcb_depth_iterator_t xcb_screen_allowed_depths_iterator(const xcb_screen_t* reply) {
    FORWARD(xcb_screen_allowed_depths_iterator, reply);
}
void xcb_screen_next(xcb_screen_iterator_t* i) { FORWARD(xcb_screen_next, i); }
xcb_screen_iterator_t xcb_setup_roots_iterator(const xcb_setup_t* reply) { FORWARD(xcb_setup_roots_iterator, reply); }
xcb_void_cookie_t xcb_shape_rectangles(xcb_connection_t* c, xcb_shape_op_t operation, xcb_shape_kind_t destination_kind,
                                       uint8_t ordering, xcb_window_t destination_window, int16_t x_offset,
                                       int16_t y_offset, uint32_t rectangles_len, const xcb_rectangle_t* rectangles) {
    FORWARD(xcb_shape_rectangles, c, operation, destination_kind, ordering, destination_window, x_offset, y_offset,
            rectangles_len, rectangles);
}
xcb_translate_coordinates_cookie_t xcb_translate_coordinates(xcb_connection_t* c, xcb_window_t src_window,
                                                             xcb_window_t dst_window, int16_t src_x, int16_t src_y) {
    FORWARD(xcb_translate_coordinates, c, src_window, dst_window, src_x, src_y);
}
xcb_translate_coordinates_reply_t* xcb_translate_coordinates_reply(xcb_connection_t* c,
                                                                   xcb_translate_coordinates_cookie_t cookie,
                                                                   xcb_generic_error_t** e) {
    FORWARD(xcb_translate_coordinates_reply, c, cookie, e);
}
xcb_void_cookie_t xcb_ungrab_key(xcb_connection_t* c, xcb_keycode_t key, xcb_window_t grab_window, uint16_t modifiers) {
    FORWARD(xcb_ungrab_key, c, key, grab_window, modifiers);
}
xcb_void_cookie_t xcb_unmap_window(xcb_connection_t* c, xcb_window_t window) { FORWARD(xcb_unmap_window, c, window); }
void xcb_visualtype_next(xcb_visualtype_iterator_t* i) { FORWARD(xcb_visualtype_next, i); }
xcb_xkb_per_client_flags_cookie_t xcb_xkb_per_client_flags(xcb_connection_t* c, xcb_xkb_device_spec_t deviceSpec,
                                                           uint32_t change, uint32_t value, uint32_t ctrlsToChange,
                                                           uint32_t autoCtrls, uint32_t autoCtrlsValues) {
    FORWARD(xcb_xkb_per_client_flags, c, deviceSpec, change, value, ctrlsToChange, autoCtrls, autoCtrlsValues);
}
xcb_void_cookie_t xcb_xkb_select_events_aux(xcb_connection_t* c, xcb_xkb_device_spec_t deviceSpec, uint16_t affectWhich,
                                            uint16_t clear, uint16_t selectAll, uint16_t affectMap, uint16_t map,
                                            const xcb_xkb_select_events_details_t* details) {
    FORWARD(xcb_xkb_select_events_aux, c, deviceSpec, affectWhich, clear, selectAll, affectMap, map, details);
}
struct xkb_context* xkb_context_new(enum xkb_context_flags flags) {
    FORWARD(xkb_context_new, flags);
}
void xkb_context_unref(struct xkb_context* context) { FORWARD(xkb_context_unref, context); }
xkb_keycode_t xkb_keymap_key_by_name(struct xkb_keymap* keymap, const char* name) {
    FORWARD(xkb_keymap_key_by_name, keymap, name);
}
int xkb_keymap_key_get_syms_by_level(struct xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout,
                                     xkb_level_index_t level, const xkb_keysym_t** syms_out) {
    FORWARD(xkb_keymap_key_get_syms_by_level, keymap, key, layout, level, syms_out);
}
xkb_keycode_t xkb_keymap_max_keycode(struct xkb_keymap* keymap) { FORWARD(xkb_keymap_max_keycode, keymap); }
xkb_keycode_t xkb_keymap_min_keycode(struct xkb_keymap* keymap) { FORWARD(xkb_keymap_min_keycode, keymap); }
xkb_layout_index_t xkb_keymap_num_layouts_for_key(struct xkb_keymap* keymap, xkb_keycode_t key) {
    FORWARD(xkb_keymap_num_layouts_for_key, keymap, key);
}
xkb_level_index_t xkb_keymap_num_levels_for_key(struct xkb_keymap* keymap, xkb_keycode_t key,
                                                xkb_layout_index_t layout) {
    FORWARD(xkb_keymap_num_levels_for_key, keymap, key, layout);
}
void xkb_keymap_unref(struct xkb_keymap* keymap) { FORWARD(xkb_keymap_unref, keymap); }
int xkb_keysym_get_name(xkb_keysym_t keysym, char* buffer, size_t size) {
    FORWARD(xkb_keysym_get_name, keysym, buffer, size);
}
int32_t xkb_x11_get_core_keyboard_device_id(xcb_connection_t* connection) {
    FORWARD(xkb_x11_get_core_keyboard_device_id, connection);
}
struct xkb_keymap* xkb_x11_keymap_new_from_device(struct xkb_context* context, xcb_connection_t* connection,
                                                  int32_t device_id, enum xkb_keymap_compile_flags flags) {
    FORWARD(xkb_x11_keymap_new_from_device, context, connection, device_id, flags);
}
int xkb_x11_setup_xkb_extension(xcb_connection_t* connection, uint16_t major_xkb_version, uint16_t minor_xkb_version,
                                enum xkb_x11_setup_xkb_extension_flags flags, uint16_t* major_xkb_version_out,
                                uint16_t* minor_xkb_version_out, uint8_t* base_event_out, uint8_t* base_error_out) {
    FORWARD(xkb_x11_setup_xkb_extension, connection, major_xkb_version, minor_xkb_version, flags, major_xkb_version_out,
            minor_xkb_version_out, base_event_out, base_error_out);
}

}  // extern "C"
