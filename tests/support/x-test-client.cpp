#include "x-test-client.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <xcb/randr.h>
#include <xcb/xtest.h>

#include "platform/x11/xcb-replies.h"

namespace testing_support {

using host::platform::x11::owned;

XTestClient::XTestClient(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    // As a window manager: activation requests to the root come here.
    const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &events);
    sync();
}

XTestClient::~XTestClient() { xcb_disconnect(connection_); }

bool XTestClient::connected() const { return xcb_connection_has_error(connection_) == 0; }

xcb_atom_t XTestClient::atom(const std::string& name) {
    auto reply = owned(xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
    return reply ? reply->atom : 0;
}

void XTestClient::sync() { std::free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr)); }

void XTestClient::setProperty(xcb_window_t window, const std::string& name, xcb_atom_t type,
                              const std::vector<std::uint32_t>& values) {
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32,
                        static_cast<std::uint32_t>(values.size()), values.data());
    sync();
}

xcb_window_t XTestClient::makeWindow(const TestWindow& made) {
    const xcb_window_t window = xcb_generate_id(connection_);
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data;
    xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root_, made.x, made.y, made.width, made.height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const std::string wmClass = made.instance + '\0' + made.className + '\0';
    xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
    if (made.pid) setProperty(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, {static_cast<std::uint32_t>(*made.pid)});
    if (!made.type.empty()) setProperty(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, {atom(made.type)});
    xcb_map_window(connection_, window);
    sync();
    return window;
}

void XTestClient::destroyWindow(xcb_window_t window) {
    xcb_destroy_window(connection_, window);
    sync();
}

void XTestClient::listClients(const std::vector<xcb_window_t>& bottomToTop) {
    setProperty(root_, "_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW, bottomToTop);
    setProperty(root_, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, bottomToTop);
}

void XTestClient::activate(xcb_window_t window) { setProperty(root_, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, {window}); }

void XTestClient::setStates(xcb_window_t window, const std::vector<std::string>& states) {
    std::vector<std::uint32_t> atoms;
    for (const std::string& state : states) atoms.push_back(atom(state));
    setProperty(window, "_NET_WM_STATE", XCB_ATOM_ATOM, atoms);
}

void XTestClient::setFrameExtents(xcb_window_t window, std::uint32_t left, std::uint32_t right, std::uint32_t top,
                                  std::uint32_t bottom) {
    setProperty(window, "_NET_FRAME_EXTENTS", XCB_ATOM_CARDINAL, {left, right, top, bottom});
}

std::optional<xcb_window_t> XTestClient::activationRequested() {
    const xcb_atom_t activeWindow = atom("_NET_ACTIVE_WINDOW");
    while (auto event = owned(xcb_poll_for_event(connection_))) {
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE) continue;
        const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event.get());
        if (message->type == activeWindow) return message->window;
    }
    return std::nullopt;
}

namespace {

// The root's children, bottom to top.
std::vector<xcb_window_t> childrenOf(xcb_connection_t* connection, xcb_window_t root) {
    auto tree = owned(xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr));
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

}  // namespace

std::optional<xcb_window_t> XTestClient::newestWindowOf(std::int32_t pid) {
    const xcb_atom_t pidAtom = atom("_NET_WM_PID");
    std::optional<xcb_window_t> newest;
    for (xcb_window_t window : childrenOf(connection_, root_)) {
        auto property = owned(xcb_get_property_reply(
            connection_, xcb_get_property(connection_, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr));
        if (property && xcb_get_property_value_length(property.get()) == 4 &&
            *static_cast<std::int32_t*>(xcb_get_property_value(property.get())) == pid) {
            newest = newest ? std::max(*newest, window) : window;
        }
    }
    return newest;
}

bool XTestClient::isOnTop(xcb_window_t window) {
    const auto children = childrenOf(connection_, root_);
    return !children.empty() && children.back() == window;
}

std::optional<std::tuple<int, int, int, int>> XTestClient::geometryOf(xcb_window_t window) {
    auto geometry = owned(xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, window), nullptr));
    if (!geometry) return std::nullopt;
    return std::make_tuple(geometry->x, geometry->y, geometry->width, geometry->height);
}

bool XTestClient::reachesTheMapState(xcb_window_t window, std::uint8_t state) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        auto attributes = owned(
            xcb_get_window_attributes_reply(connection_, xcb_get_window_attributes(connection_, window), nullptr));
        if (attributes && attributes->override_redirect && attributes->map_state == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

xcb_keycode_t XTestClient::keycodeOf(std::uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto mapping = owned(xcb_get_keyboard_mapping_reply(
        connection_, xcb_get_keyboard_mapping(connection_, setup->min_keycode, static_cast<std::uint8_t>(count)), nullptr));
    if (!mapping) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    for (int key = 0; key < count; ++key) {
        if (syms[key * mapping->keysyms_per_keycode] == keysym) return static_cast<xcb_keycode_t>(setup->min_keycode + key);
    }
    return 0;
}

void XTestClient::press(xcb_keycode_t key, const std::vector<xcb_keycode_t>& held) {
    auto fake = [this](std::uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(connection_, type, code, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0);
    };
    for (xcb_keycode_t modifier : held) fake(XCB_KEY_PRESS, modifier);
    fake(XCB_KEY_PRESS, key);
    fake(XCB_KEY_RELEASE, key);
    for (auto modifier = held.rbegin(); modifier != held.rend(); ++modifier) fake(XCB_KEY_RELEASE, *modifier);
    sync();
}

void XTestClient::movePointer(std::int16_t x, std::int16_t y) {
    xcb_test_fake_input(connection_, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root_, x, y, 0);
    sync();
}

bool XTestClient::grab(xcb_keycode_t key, std::uint16_t modifiers) {
    auto error = owned(xcb_request_check(connection_, xcb_grab_key_checked(connection_, 0, root_, modifiers, key,
                                                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    return !error;
}

void XTestClient::mapKeysym(xcb_keycode_t key, std::uint32_t keysym) {
    const xcb_keysym_t syms[] = {keysym, keysym};
    xcb_change_keyboard_mapping(connection_, 1, key, 2, syms);
    sync();
}

// A mode of the new size on the one output, then the screen shrunk to it.
bool XTestClient::resizeTheScreen(std::uint16_t width, std::uint16_t height) {
    std::free(xcb_randr_query_version_reply(connection_, xcb_randr_query_version(connection_, 1, 5), nullptr));
    auto resources = owned(xcb_randr_get_screen_resources_current_reply(
        connection_, xcb_randr_get_screen_resources_current(connection_, root_), nullptr));
    if (!resources || resources->num_crtcs == 0 || resources->num_outputs == 0) return false;
    xcb_randr_crtc_t crtc = xcb_randr_get_screen_resources_current_crtcs(resources.get())[0];
    xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
    const std::string name = std::to_string(width) + "x" + std::to_string(height);
    xcb_randr_mode_info_t info{};
    info.width = width;
    info.height = height;
    info.dot_clock = 40000000;
    info.htotal = static_cast<std::uint16_t>(width + 256);
    info.vtotal = static_cast<std::uint16_t>(height + 28);
    info.name_len = static_cast<std::uint16_t>(name.size());
    auto mode = owned(xcb_randr_create_mode_reply(
        connection_, xcb_randr_create_mode(connection_, root_, info, static_cast<std::uint32_t>(name.size()), name.c_str()),
        nullptr));
    if (!mode) return false;
    xcb_randr_add_output_mode(connection_, output, mode->mode);
    auto set = owned(xcb_randr_set_crtc_config_reply(
        connection_,
        xcb_randr_set_crtc_config(connection_, crtc, XCB_CURRENT_TIME, resources->config_timestamp, 0, 0, mode->mode,
                                  XCB_RANDR_ROTATION_ROTATE_0, 1, &output),
        nullptr));
    if (!set || set->status != XCB_RANDR_SET_CONFIG_SUCCESS) return false;
    auto error = owned(xcb_request_check(connection_, xcb_randr_set_screen_size_checked(connection_, root_, width, height,
                                                                                      width / 4, height / 4)));
    return !error;
}

}  // namespace testing_support
