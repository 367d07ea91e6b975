// Key equivalents of menu rows: the "key" text of a row turned into what the menu item takes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace host {

struct MenuKey {
    std::string equivalent;  // what the item's key equivalent is set to
    std::uint32_t mask = 0;  // platform::MODIFIER_* flags
    friend bool operator==(const MenuKey&, const MenuKey&) = default;
};

// The leading glyphs that stand for modifiers: ⌘ ⇧ ⌥ ⌃.
const std::map<std::string, std::uint32_t>& menuKeyModifiers();

// Key names that stand for keys without a printable character of their own.
const std::map<std::string, std::string>& menuKeyGlyphs();

// The key equivalent and modifier mask of a row's "key" text; none when it gives no key equivalent.
std::optional<MenuKey> menuKeyOf(std::string_view text);

}  // namespace host
