// One mapping of the host's key codes (the Mac's virtual key codes of the ANSI layout) to Linux
// keys, for X grabs and portal shortcuts alike: the keysym each code stands for, and the key's
// place in XKB's key names for when no key of the keyboard gives that keysym. The top-left key
// of ISO keyboards (written § in chords) is found by its place alone, since § is elsewhere, and
// shifted, on most layouts that have it.
#pragma once

#include <cstdint>

#include <xkbcommon/xkbcommon-keysyms.h>

namespace host::platform {

struct LinuxKey {
    std::uint32_t code;
    std::uint32_t keysym;
    const char* place;
    bool byPlace = false;
};

inline constexpr LinuxKey LINUX_KEYS[] = {
    {0, XKB_KEY_a, "AC01"},   {1, XKB_KEY_s, "AC02"},   {2, XKB_KEY_d, "AC03"},   {3, XKB_KEY_f, "AC04"},
    {4, XKB_KEY_h, "AC06"},   {5, XKB_KEY_g, "AC05"},   {6, XKB_KEY_z, "AB01"},   {7, XKB_KEY_x, "AB02"},
    {8, XKB_KEY_c, "AB03"},   {9, XKB_KEY_v, "AB04"},   {10, XKB_KEY_section, "TLDE", true},
    {11, XKB_KEY_b, "AB05"},  {12, XKB_KEY_q, "AD01"},  {13, XKB_KEY_w, "AD02"},  {14, XKB_KEY_e, "AD03"},
    {15, XKB_KEY_r, "AD04"},  {16, XKB_KEY_y, "AD06"},  {17, XKB_KEY_t, "AD05"},  {18, XKB_KEY_1, "AE01"},
    {19, XKB_KEY_2, "AE02"},  {20, XKB_KEY_3, "AE03"},  {21, XKB_KEY_4, "AE04"},  {22, XKB_KEY_6, "AE06"},
    {23, XKB_KEY_5, "AE05"},  {24, XKB_KEY_equal, "AE12"}, {25, XKB_KEY_9, "AE09"}, {26, XKB_KEY_7, "AE07"},
    {27, XKB_KEY_minus, "AE11"}, {28, XKB_KEY_8, "AE08"}, {29, XKB_KEY_0, "AE10"},
    {30, XKB_KEY_bracketright, "AD12"}, {31, XKB_KEY_o, "AD09"}, {32, XKB_KEY_u, "AD07"},
    {33, XKB_KEY_bracketleft, "AD11"}, {34, XKB_KEY_i, "AD08"}, {35, XKB_KEY_p, "AD10"},
    {36, XKB_KEY_Return, "RTRN"}, {37, XKB_KEY_l, "AC09"}, {38, XKB_KEY_j, "AC07"},
    {39, XKB_KEY_apostrophe, "AC11"}, {40, XKB_KEY_k, "AC08"}, {41, XKB_KEY_semicolon, "AC10"},
    {42, XKB_KEY_backslash, "BKSL"}, {43, XKB_KEY_comma, "AB08"}, {44, XKB_KEY_slash, "AB10"},
    {45, XKB_KEY_n, "AB06"},  {46, XKB_KEY_m, "AB07"},  {47, XKB_KEY_period, "AB09"}, {48, XKB_KEY_Tab, "TAB"},
    {49, XKB_KEY_space, "SPCE"}, {50, XKB_KEY_grave, "TLDE"}, {51, XKB_KEY_BackSpace, "BKSP"},
    {53, XKB_KEY_Escape, "ESC"}, {96, XKB_KEY_F5, "FK05"}, {97, XKB_KEY_F6, "FK06"}, {98, XKB_KEY_F7, "FK07"},
    {99, XKB_KEY_F3, "FK03"}, {100, XKB_KEY_F8, "FK08"}, {101, XKB_KEY_F9, "FK09"}, {103, XKB_KEY_F11, "FK11"},
    {109, XKB_KEY_F10, "FK10"}, {111, XKB_KEY_F12, "FK12"}, {115, XKB_KEY_Home, "HOME"},
    {116, XKB_KEY_Prior, "PGUP"}, {117, XKB_KEY_Delete, "DELE"}, {118, XKB_KEY_F4, "FK04"},
    {119, XKB_KEY_End, "END"}, {120, XKB_KEY_F2, "FK02"}, {121, XKB_KEY_Next, "PGDN"}, {122, XKB_KEY_F1, "FK01"},
    {123, XKB_KEY_Left, "LEFT"}, {124, XKB_KEY_Right, "RGHT"}, {125, XKB_KEY_Down, "DOWN"}, {126, XKB_KEY_Up, "UP"},
};

// None when the code stands for no key here.
constexpr const LinuxKey* linuxKeyOf(std::uint32_t code) {
    for (const LinuxKey& key : LINUX_KEYS) {
        if (key.code == code) return &key;
    }
    return nullptr;
}

}  // namespace host::platform
