// A client of a test's X server that plays the other applications and a small window manager:
// it makes windows that say their pid and class, keeps the EWMH client lists and the active
// window, hears activation requests, presses keys through XTEST and changes the screens.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <xcb/xcb.h>

namespace testing_support {

struct TestWindow {
    std::int16_t x = 0, y = 0;
    std::uint16_t width = 400, height = 300;
    std::optional<std::int32_t> pid;
    std::string instance = "app";
    std::string className = "App";
    std::string type;  // an EWMH window type name such as "_NET_WM_WINDOW_TYPE_DOCK"; none when empty

    TestWindow& at(std::int16_t left, std::int16_t top, std::uint16_t wide, std::uint16_t high) {
        x = left, y = top, width = wide, height = high;
        return *this;
    }
    TestWindow& ownedBy(std::int32_t owner) {
        pid = owner;
        return *this;
    }
    TestWindow& classed(std::string wmInstance, std::string wmClass) {
        instance = std::move(wmInstance), className = std::move(wmClass);
        return *this;
    }
    TestWindow& typed(std::string windowType) {
        type = std::move(windowType);
        return *this;
    }
};

class XTestClient {
public:
    explicit XTestClient(const std::string& display);
    ~XTestClient();
    XTestClient(const XTestClient&) = delete;
    XTestClient& operator=(const XTestClient&) = delete;

    bool connected() const;
    xcb_connection_t* connection() const { return connection_; }
    xcb_window_t root() const { return root_; }

    // A mapped top-level window.
    xcb_window_t makeWindow(const TestWindow& window);
    void destroyWindow(xcb_window_t window);

    // The window manager's part.
    void listClients(const std::vector<xcb_window_t>& bottomToTop);
    void activate(xcb_window_t window);
    void setStates(xcb_window_t window, const std::vector<std::string>& states);
    void setFrameExtents(xcb_window_t window, std::uint32_t left, std::uint32_t right, std::uint32_t top,
                         std::uint32_t bottom);
    void setProperty(xcb_window_t window, const std::string& name, xcb_atom_t type, const std::vector<std::uint32_t>& values);
    // The window of an activation request sent to the root, once one came.
    std::optional<xcb_window_t> activationRequested();

    // What another client put on the screen: the newest top-level window that says it is
    // `pid`'s, whether it is the topmost one, and its place.
    std::optional<xcb_window_t> newestWindowOf(std::int32_t pid);
    bool isOnTop(xcb_window_t window);
    std::optional<std::tuple<int, int, int, int>> geometryOf(xcb_window_t window);
    // Waits (generously) until the override-redirect window is so mapped (XCB_MAP_STATE_*):
    // another client's requests reach the server in their own time.
    bool reachesTheMapState(xcb_window_t window, std::uint8_t state);

    // Keys through XTEST: the key code that gives the keysym, and a press and release of it with
    // the modifier keys held around it.
    xcb_keycode_t keycodeOf(std::uint32_t keysym);
    void press(xcb_keycode_t key, const std::vector<xcb_keycode_t>& held = {});
    void movePointer(std::int16_t x, std::int16_t y);
    // Holds a chord as another application would; false when it could not.
    bool grab(xcb_keycode_t key, std::uint16_t modifiers);
    // Gives the keysym to another key as well: the keyboard mapping changes.
    void mapKeysym(xcb_keycode_t key, std::uint32_t keysym);

    // Changes the screen's size through RandR, which reconfigures the display.
    bool resizeTheScreen(std::uint16_t width, std::uint16_t height);

    xcb_atom_t atom(const std::string& name);
    // A round trip: every request so far has reached the server.
    void sync();

private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = 0;
};

}  // namespace testing_support
