// One mapping of the host's modifier symbols to Linux modifiers, for menu shortcuts and global
// hot keys alike: ⌃ Control, ⌥ Alt, ⇧ Shift, ⌘ Super.
#pragma once

#include <cstdint>

#include "platform/menu.h"

namespace host::platform {

struct LinuxModifier {
    const char* symbol;         // as chords and key equivalents write it
    std::uint32_t menuFlag;     // the key-equivalent modifier flag (menu.h)
    std::uint32_t hotKeyMask;   // the hot-key modifier mask
    const char* name;           // as dbusmenu shortcuts and the README name it
    std::uint16_t x11Mask;      // the X core protocol's modifier mask
};

// In the order shortcuts list them.
inline constexpr LinuxModifier LINUX_MODIFIERS[] = {
    {"\u2303", MODIFIER_CONTROL, 4096, "Control", 1u << 2},  // ControlMask
    {"\u2325", MODIFIER_OPTION, 2048, "Alt", 1u << 3},       // Mod1Mask
    {"\u21E7", MODIFIER_SHIFT, 512, "Shift", 1u << 0},       // ShiftMask
    {"\u2318", MODIFIER_COMMAND, 256, "Super", 1u << 6},     // Mod4Mask
};

}  // namespace host::platform
