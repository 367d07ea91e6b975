#include "platform/x11/key-grabs.h"

#include <array>
#include <iterator>
#include <vector>

// xcb's XKB header names a member "explicit", which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>

#include "platform/freedesktop/linux-keys.h"
#include "platform/freedesktop/linux-modifiers.h"
#include "platform/x11/xcb-replies.h"

namespace host::platform::x11 {
namespace {

constexpr const char* RULES_NAMES = "_XKB_RULES_NAMES";
constexpr std::uint16_t DEFAULT_NUM_LOCK_MASK = XCB_MOD_MASK_2;
constexpr std::int32_t NO_KEY_FOR_THE_CHORD = -50;
// A press of a key that is still down within this time of its last event is the key's repeat.
constexpr xcb_timestamp_t REPEAT_WINDOW_MS = 1000;

constexpr std::uint16_t XKB_MAP_PARTS =
    XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
    XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
    XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;

constexpr std::uint16_t chordModifierBits() {
    std::uint16_t bits = 0;
    for (const LinuxModifier& modifier : LINUX_MODIFIERS) bits |= modifier.x11Mask;
    return bits;
}

// None when the mask has a bit no X modifier stands for.
std::optional<std::uint16_t> xModifiersOf(std::uint32_t hostModifiers) {
    std::uint16_t x = 0;
    for (const LinuxModifier& modifier : LINUX_MODIFIERS) {
        if (hostModifiers & modifier.hotKeyMask) {
            x |= modifier.x11Mask;
            hostModifiers &= ~modifier.hotKeyMask;
        }
    }
    if (hostModifiers != 0) return std::nullopt;
    return x;
}

// No lock, Caps Lock, Num Lock, both.
std::array<std::uint16_t, 4> lockVariants(std::uint16_t numLock) {
    return {0, XCB_MOD_MASK_LOCK, numLock, static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

}  // namespace

KeyboardLayout layoutOfTheModel(const std::string& model) {
    if (model.starts_with("jp") || contains(model, "jis")) return KeyboardLayout::jis;
    if (model == "pc102" || model.starts_with("pc105") || contains(model, "iso")) return KeyboardLayout::iso;
    return KeyboardLayout::ansi;
}

KeyGrabs::KeyGrabs(xcb_connection_t* connection, xcb_window_t root) : connection_(connection), root_(root) {}

KeyGrabs::~KeyGrabs() {
    if (keymap_) xkb_keymap_unref(keymap_);
    if (context_) xkb_context_unref(context_);
}

bool KeyGrabs::start(std::string* why) {
    std::uint8_t firstEvent = 0;
    if (!xkb_x11_setup_xkb_extension(connection_, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &firstEvent, nullptr)) {
        if (why) *why = "the display has no XKB extension";
        return false;
    }
    xkbEvents_ = firstEvent;
    keyboard_ = xkb_x11_get_core_keyboard_device_id(connection_);
    context_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (keyboard_ < 0 || !context_) {
        if (why) *why = "the display has no core keyboard";
        return false;
    }
    const auto device = static_cast<xcb_xkb_device_spec_t>(keyboard_);
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    xcb_xkb_select_events_aux(connection_, device, events, 0, 0, XKB_MAP_PARTS, XKB_MAP_PARTS, &details);
    // A held key then repeats as presses alone, with no release between them.
    const auto flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
    xcb_discard_reply(connection_, xcb_xkb_per_client_flags(connection_, device, flag, flag, 0, 0, 0).sequence);
    readTheKeymap();
    if (!keymap_ && why) *why = "the keyboard mapping cannot be read";
    return keymap_ != nullptr;
}

void KeyGrabs::readTheKeymap() {
    xkb_keymap* fresh = xkb_x11_keymap_new_from_device(context_, connection_, keyboard_, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (fresh) {
        if (keymap_) xkb_keymap_unref(keymap_);
        keymap_ = fresh;
    }
    numLock_ = numLockMask();
}

// The key that gives the keysym: unshifted in the first layout, then on any level of it, then
// unshifted in any layout.
std::optional<xcb_keycode_t> KeyGrabs::keyGiving(std::uint32_t keysym) const {
    if (!keymap_) return std::nullopt;
    const xkb_keycode_t first = xkb_keymap_min_keycode(keymap_);
    const xkb_keycode_t last = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(keymap_), 255);
    for (int pass = 0; pass < 3; ++pass) {
        for (xkb_keycode_t key = first; key <= last; ++key) {
            const xkb_layout_index_t layouts = pass == 2 ? xkb_keymap_num_layouts_for_key(keymap_, key) : 1;
            for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
                const xkb_level_index_t levels = pass == 1 ? xkb_keymap_num_levels_for_key(keymap_, key, layout) : 1;
                for (xkb_level_index_t level = 0; level < levels; ++level) {
                    const xkb_keysym_t* syms = nullptr;
                    const int count = xkb_keymap_key_get_syms_by_level(keymap_, key, layout, level, &syms);
                    for (int i = 0; i < count; ++i) {
                        if (syms[i] == keysym) return static_cast<xcb_keycode_t>(key);
                    }
                }
            }
        }
    }
    return std::nullopt;
}

std::optional<xcb_keycode_t> KeyGrabs::keycodeOf(std::uint32_t hostCode) const {
    const LinuxKey* key = linuxKeyOf(hostCode);
    if (!key || !keymap_) return std::nullopt;
    if (!key->byPlace) {
        if (auto found = keyGiving(key->keysym)) return found;
    }
    const xkb_keycode_t placed = xkb_keymap_key_by_name(keymap_, key->place);
    if (placed == XKB_KEYCODE_INVALID || placed > 255) return std::nullopt;
    return static_cast<xcb_keycode_t>(placed);
}

// Num Lock's modifier bit, as the modifier mapping gives it to the key of Num_Lock.
std::uint16_t KeyGrabs::numLockMask() const {
    auto numLockKey = keyGiving(XKB_KEY_Num_Lock);
    if (!numLockKey) return DEFAULT_NUM_LOCK_MASK;
    auto mapping = owned(xcb_get_modifier_mapping_reply(connection_, xcb_get_modifier_mapping(connection_), nullptr));
    if (!mapping) return DEFAULT_NUM_LOCK_MASK;
    const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (keys[modifier * perModifier + i] == *numLockKey) return static_cast<std::uint16_t>(1u << modifier);
        }
    }
    return DEFAULT_NUM_LOCK_MASK;
}

HotKeyRegistration KeyGrabs::grab(std::uint32_t code, std::uint32_t modifiers, HotKeyId id) {
    auto xModifiers = xModifiersOf(modifiers);
    auto keycode = keycodeOf(code);
    if (!xModifiers || !keycode) return {NO_KEY_FOR_THE_CHORD, 0};
    if (heldHere(*keycode, *xModifiers) || !grabEveryVariant(*keycode, *xModifiers)) return {HOT_KEY_EXISTS_STATUS, 0};
    grabs_[++lastReference_] = Grab{id, *keycode, *xModifiers, code};
    return {0, lastReference_};
}

void KeyGrabs::ungrab(std::uint64_t reference) {
    auto found = grabs_.find(reference);
    if (found == grabs_.end()) return;
    if (found->second.keycode != 0) {
        ungrabEveryVariant(found->second.keycode, found->second.modifiers, numLock_);
        keys_.erase(found->second.keycode);
    }
    grabs_.erase(found);
}

bool KeyGrabs::heldHere(xcb_keycode_t keycode, std::uint16_t modifiers) const {
    for (const auto& [reference, grab] : grabs_) {
        if (grab.keycode == keycode && grab.modifiers == modifiers) return true;
    }
    return false;
}

// All four grabs, or none: a variant another client holds refuses the chord. One round trip:
// the check of the last request waits for the answers to all of them.
bool KeyGrabs::grabEveryVariant(xcb_keycode_t keycode, std::uint16_t modifiers) {
    const auto locks = lockVariants(numLock_);
    std::array<xcb_void_cookie_t, 4> cookies{};
    for (std::size_t i = 0; i < locks.size(); ++i) {
        cookies[i] = xcb_grab_key_checked(connection_, 0, root_, modifiers | locks[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    std::array<bool, 4> granted{};
    bool refused = false;
    for (std::size_t i = locks.size(); i-- > 0;) {
        auto error = owned(xcb_request_check(connection_, cookies[i]));
        granted[i] = !error;
        refused = refused || error;
    }
    if (!refused) return true;
    for (std::size_t i = 0; i < locks.size(); ++i) {
        if (granted[i]) xcb_ungrab_key(connection_, keycode, root_, modifiers | locks[i]);
    }
    xcb_flush(connection_);
    return false;
}

void KeyGrabs::ungrabEveryVariant(xcb_keycode_t keycode, std::uint16_t modifiers, std::uint16_t numLock) {
    for (std::uint16_t locks : lockVariants(numLock)) xcb_ungrab_key(connection_, keycode, root_, modifiers | locks);
    xcb_flush(connection_);
}

std::optional<HotKeyId> KeyGrabs::pressed(const xcb_key_press_event_t& event) {
    KeyState& key = keys_[event.detail];
    const bool repeat = key.down && event.time - key.last < REPEAT_WINDOW_MS;
    key.down = true;
    key.last = event.time;
    if (repeat) return std::nullopt;
    const std::uint16_t modifiers = event.state & chordModifierBits();
    for (const auto& [reference, grab] : grabs_) {
        if (grab.keycode == event.detail && grab.modifiers == modifiers) return grab.id;
    }
    return std::nullopt;
}

void KeyGrabs::released(const xcb_key_release_event_t& event) {
    KeyState& key = keys_[event.detail];
    key.down = false;
    key.last = event.time;
}

bool KeyGrabs::takeMappingEvent(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7f;
    bool changed = false;
    if (type == XCB_MAPPING_NOTIFY) {
        changed = reinterpret_cast<const xcb_mapping_notify_event_t&>(event).request != XCB_MAPPING_POINTER;
    } else if (xkbEvents_ != 0 && type == xkbEvents_) {
        // XKB events share one event code; the second byte says which one it is.
        const std::uint8_t xkbType = event.pad0;
        changed = xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY;
    } else {
        return false;
    }
    if (changed) moveTheGrabs();
    return true;
}

// Every grab to the key the new mapping gives its chord; one that lost its key, or whose new
// key another client holds, waits for the next change. A grab whose key stays is left alone:
// the server tells of a new keyboard on every switch between keyboards, and a chord let go
// even for a round trip loses the presses that come meanwhile.
void KeyGrabs::moveTheGrabs() {
    const std::uint16_t numLockBefore = numLock_;
    readTheKeymap();
    std::vector<Grab*> moving;
    for (auto& [reference, grab] : grabs_) {
        const auto keycode = keycodeOf(grab.hostCode);
        if (keycode && *keycode == grab.keycode && numLock_ == numLockBefore) continue;
        if (grab.keycode != 0) {
            ungrabEveryVariant(grab.keycode, grab.modifiers, numLockBefore);
            keys_.erase(grab.keycode);
        }
        grab.keycode = 0;
        moving.push_back(&grab);
    }
    for (Grab* grab : moving) {
        auto keycode = keycodeOf(grab->hostCode);
        if (keycode && !heldHere(*keycode, grab->modifiers) && grabEveryVariant(*keycode, grab->modifiers)) {
            grab->keycode = *keycode;
        }
    }
}

KeyboardLayout KeyGrabs::layoutType() const {
    const xcb_atom_t names = atomNamed(connection_, RULES_NAMES);
    auto reply = owned(xcb_get_property_reply(connection_, propertyOf(connection_, root_, names), nullptr));
    // Rules, model, layout, variant and options, each ended by a zero byte.
    const std::string value = bytesOf(reply.get());
    const std::size_t modelStart = value.find('\0');
    if (modelStart == std::string::npos) return KeyboardLayout::ansi;
    return layoutOfTheModel(value.substr(modelStart + 1, value.find('\0', modelStart + 1) - modelStart - 1));
}

}  // namespace host::platform::x11
