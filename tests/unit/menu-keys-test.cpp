#include "menu-bar-app-menu/menu-keys.h"

#include <gtest/gtest.h>

#include <ostream>

#include "platform/menu.h"

namespace host {

void PrintTo(const MenuKey& key, std::ostream* out) {
    *out << "{\"" << key.equivalent << "\", 0x" << std::hex << key.mask << std::dec << "}";
}

namespace {

using platform::MODIFIER_COMMAND;
using platform::MODIFIER_CONTROL;
using platform::MODIFIER_OPTION;
using platform::MODIFIER_SHIFT;

struct KeyCase {
    const char* text;
    std::optional<MenuKey> expected;
};

void expectKeys(const std::vector<KeyCase>& cases) {
    for (const auto& [text, expected] : cases) EXPECT_EQ(menuKeyOf(text), expected) << "key text: " << text;
}

TEST(MenuKeyOf, LeadingGlyphsBecomeModifiersAndTheRestIsLowerCased) {
    expectKeys({
        {"⌘K", MenuKey{"k", MODIFIER_COMMAND}},
        {"⌘⇧K", MenuKey{"k", MODIFIER_COMMAND | MODIFIER_SHIFT}},
        {"⌃⌥⇧⌘X", MenuKey{"x", MODIFIER_CONTROL | MODIFIER_OPTION | MODIFIER_SHIFT | MODIFIER_COMMAND}},
        {"⌘⌘K", MenuKey{"k", MODIFIER_COMMAND}},
        {"K", MenuKey{"k", 0}},
        {"⌘F12", MenuKey{"f12", MODIFIER_COMMAND}},
        {"⌥Ä", MenuKey{"ä", MODIFIER_OPTION}},
        {"⌘É", MenuKey{"é", MODIFIER_COMMAND}},
    });
}

TEST(MenuKeyOf, KeyNamesGiveThePlatformsCharacters) {
    expectKeys({
        {"key:⌥Space", MenuKey{" ", MODIFIER_OPTION}},
        {"⌘↩", MenuKey{"\r", MODIFIER_COMMAND}},
        {"⎋", MenuKey{"\x1B", 0}},
        {"⌃⇥", MenuKey{"\t", MODIFIER_CONTROL}},
        {"⌘⌫", MenuKey{"\x7F", MODIFIER_COMMAND}},
        {"⌘↑", MenuKey{"\xEF\x9C\x80", MODIFIER_COMMAND}},
        {"⌘↓", MenuKey{"\xEF\x9C\x81", MODIFIER_COMMAND}},
        {"⌘←", MenuKey{"\xEF\x9C\x82", MODIFIER_COMMAND}},
        {"⌘→", MenuKey{"\xEF\x9C\x83", MODIFIER_COMMAND}},
    });
}

TEST(MenuKeyOf, KeyNamesAreCaseSensitive) {
    expectKeys({
        {"⌘space", MenuKey{"space", MODIFIER_COMMAND}},
        {"⌘SPACE", MenuKey{"space", MODIFIER_COMMAND}},
        {"None", MenuKey{"none", 0}},
    });
}

TEST(MenuKeyOf, TextsWithoutAKeyGiveNone) {
    expectKeys({
        {"none", std::nullopt},
        {"⌘none", std::nullopt},
        {"key:none", std::nullopt},
        {"", std::nullopt},
        {"⌘⇧", std::nullopt},
        {"key:", std::nullopt},
        {"key:⌃", std::nullopt},
    });
}

TEST(MenuKeyOf, OnlyAnExactLeadingPrefixAndLeadingGlyphsAreTaken) {
    expectKeys({
        {"KEY:⌘K", MenuKey{"key:⌘k", 0}},
        {"key:key:⌘K", MenuKey{"key:⌘k", 0}},
        {"K⌘", MenuKey{"k⌘", 0}},
        {"⌘K⇧", MenuKey{"k⇧", MODIFIER_COMMAND}},
        {" ⌘K", MenuKey{" ⌘k", 0}},
    });
}

TEST(MenuKeyOf, GlyphsAreComparedAsWholeCodePoints) {
    // U+2317 and U+2319 share their first two bytes with ⌘ (U+2318).
    expectKeys({
        {"⌗K", MenuKey{"⌗k", 0}},
        {"⌙K", MenuKey{"⌙k", 0}},
        {"\xE2\x8C", MenuKey{"\xE2\x8C", 0}},
    });
}

TEST(MenuKeyTables, HoldExactlyTheirEntries) {
    EXPECT_EQ(menuKeyModifiers().size(), 4u);
    EXPECT_EQ(menuKeyGlyphs().size(), 9u);
}

}  // namespace
}  // namespace host
