#include "menu-bar-app-menu/menu-keys.h"

#include "platform/menu.h"
#include "support/text.h"

namespace host {
namespace {

constexpr std::string_view keyPrefix = "key:";
constexpr std::string_view noKey = "none";

// The modifier the text starts with, as a whole code point, and the glyph's length in bytes.
// UTF-8 has no code point whose encoding is a prefix of another's, so a byte prefix is one.
std::optional<std::pair<std::uint32_t, std::size_t>> leadingModifierOf(std::string_view text) {
    for (const auto& [glyph, flag] : menuKeyModifiers()) {
        if (text.starts_with(glyph)) return std::pair{flag, glyph.size()};
    }
    return std::nullopt;
}

}  // namespace

const std::map<std::string, std::uint32_t>& menuKeyModifiers() {
    static const std::map<std::string, std::uint32_t> modifiers = {
        {"\u2318", platform::MODIFIER_COMMAND},
        {"\u21E7", platform::MODIFIER_SHIFT},
        {"\u2325", platform::MODIFIER_OPTION},
        {"\u2303", platform::MODIFIER_CONTROL},
    };
    return modifiers;
}

const std::map<std::string, std::string>& menuKeyGlyphs() {
    // The arrows are the platform's function-key characters in the private use area.
    static const std::map<std::string, std::string> glyphs = {
        {"Space", " "},          {"\u21A9", "\r"},         {"\u238B", "\x1B"},
        {"\u21E5", "\t"},        {"\u232B", "\x7F"},       {"\u2191", "\uF700"},
        {"\u2193", "\uF701"},    {"\u2190", "\uF702"},     {"\u2192", "\uF703"},
    };
    return glyphs;
}

std::optional<MenuKey> menuKeyOf(std::string_view text) {
    if (text.starts_with(keyPrefix)) text.remove_prefix(keyPrefix.size());
    std::uint32_t mask = 0;
    while (auto modifier = leadingModifierOf(text)) {
        mask |= modifier->first;
        text.remove_prefix(modifier->second);
    }
    if (text.empty() || text == noKey) return std::nullopt;
    const auto glyph = menuKeyGlyphs().find(std::string(text));
    if (glyph != menuKeyGlyphs().end()) return MenuKey{glyph->second, mask};
    return MenuKey{lowercased(text), mask};
}

}  // namespace host
