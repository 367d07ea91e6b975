// Global hot keys as passive key grabs on the root window. The host's key codes reach X key
// codes through the keysyms of the current keyboard mapping (or the key's place on the
// keyboard where no key gives the keysym), and follow every change of that mapping. Each chord
// is grabbed also with Caps Lock, Num Lock and both, so that neither lock blocks it. Main
// thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <xcb/xcb.h>

#include "platform/desktop.h"

struct xkb_context;
struct xkb_keymap;

namespace host::platform::x11 {

// The layout type an XKB model names: JIS for Japanese models, ISO for the 102/105-key ones,
// else ANSI.
KeyboardLayout layoutOfTheModel(const std::string& model);

class KeyGrabs {
public:
    KeyGrabs(xcb_connection_t* connection, xcb_window_t root);
    ~KeyGrabs();
    KeyGrabs(const KeyGrabs&) = delete;
    KeyGrabs& operator=(const KeyGrabs&) = delete;

    // Sets up XKB: the keymap, its change events and repeats without releases. False with the
    // reason when the server lacks XKB.
    bool start(std::string* why);

    // 0 and a reference when grabbed; HOT_KEY_EXISTS_STATUS when another client (or this
    // host) holds the chord; -50 when the chord has no key on this keyboard.
    HotKeyRegistration grab(std::uint32_t code, std::uint32_t modifiers, HotKeyId id);
    void ungrab(std::uint64_t reference);
    // References only grow: none above this one was given yet.
    std::uint64_t lastReference() const { return lastReference_; }

    // The hot key a key press reports: once per press, never for a repeat or a release.
    std::optional<HotKeyId> pressed(const xcb_key_press_event_t& event);
    void released(const xcb_key_release_event_t& event);
    // True when the event told of a new keyboard mapping: the grabs have moved with it.
    bool takeMappingEvent(const xcb_generic_event_t& event);

    KeyboardLayout layoutType() const;

private:
    struct Grab {
        HotKeyId id;
        xcb_keycode_t keycode = 0;  // 0 while the current mapping gives the chord no key
        std::uint16_t modifiers = 0;
        std::uint32_t hostCode = 0;
    };
    struct KeyState {
        bool down = false;
        xcb_timestamp_t last = 0;
    };

    void readTheKeymap();
    std::optional<xcb_keycode_t> keycodeOf(std::uint32_t hostCode) const;
    std::optional<xcb_keycode_t> keyGiving(std::uint32_t keysym) const;
    std::uint16_t numLockMask() const;
    bool grabEveryVariant(xcb_keycode_t keycode, std::uint16_t modifiers);
    void ungrabEveryVariant(xcb_keycode_t keycode, std::uint16_t modifiers, std::uint16_t numLock);
    bool heldHere(xcb_keycode_t keycode, std::uint16_t modifiers) const;
    void moveTheGrabs();

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    std::int32_t keyboard_ = -1;
    std::uint8_t xkbEvents_ = 0;
    std::uint16_t numLock_ = 0;
    std::map<std::uint64_t, Grab> grabs_;
    std::uint64_t lastReference_ = 0;
    std::map<xcb_keycode_t, KeyState> keys_;
};

}  // namespace host::platform::x11
