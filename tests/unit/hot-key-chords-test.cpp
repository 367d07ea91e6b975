#include "hot-keys/hot-key-chords.h"

#include <gtest/gtest.h>

namespace host {
namespace {

using nlohmann::json;

TEST(ChordOf, ModifiersAreOredAndTheKeyIsUpperCased) {
    EXPECT_EQ(chordOf("⌘⇧k"), (Chord{40, 768}));
    EXPECT_EQ(chordOf("⌘⇧K"), chordOf("⌘⇧k"));
    EXPECT_EQ(chordOf("⌃⌥1"), (Chord{18, 4096 | 2048}));
    EXPECT_EQ(chordOf("⌘⌘A"), (Chord{0, 256}));
    EXPECT_EQ(chordOf("K"), (Chord{40, 0}));
    EXPECT_EQ(chordOf("⌘`"), (Chord{50, 256}));
}

TEST(ChordOf, TextsOutsideTheGrammarHaveNoChord) {
    EXPECT_EQ(chordOf(""), std::nullopt);
    EXPECT_EQ(chordOf("⌘⇧"), std::nullopt);      // the last modifier is taken as the key
    EXPECT_EQ(chordOf("⌘⇧F1"), std::nullopt);    // F is not a modifier
    EXPECT_EQ(chordOf("⌘K⇧"), std::nullopt);     // modifiers come first
    EXPECT_EQ(chordOf("⌘ "), std::nullopt);      // space has no code
    EXPECT_EQ(chordOf("⌘-"), std::nullopt);
    EXPECT_EQ(chordOf("⌘\xff"), std::nullopt);   // not UTF-8
    EXPECT_EQ(chordOf(std::string_view("⌘\0K", 5)), std::nullopt);
}

TEST(ChordOf, AMarkJoinsTheCharacterBeforeIt) {
    EXPECT_EQ(chordOf("⌘K\u0301"), std::nullopt);   // K with an acute accent is another key
    EXPECT_EQ(chordOf("⌘\u0301K"), std::nullopt);   // a marked ⌘ is no modifier
    EXPECT_EQ(chordOf("⌘A\uFE0F"), std::nullopt);
    EXPECT_EQ(chordOf("⌘A\u200DB"), std::nullopt);  // joined into one character
}

TEST(ChordOf, TheTopLeftKeyDependsOnTheKeyboard) {
    EXPECT_EQ(chordOf("⌥§", isoTopLeftKeyCode), (Chord{10, 2048}));
    EXPECT_EQ(chordOf("⌥§", ansiTopLeftKeyCode), (Chord{50, 2048}));
    EXPECT_EQ(chordOf("⌥§"), chordOf("⌥`"));
    EXPECT_EQ(chordOf("⌥`", isoTopLeftKeyCode), (Chord{50, 2048}));
}

TEST(HotKeyActionOf, NamesTheLastPathComponentElseTheHostElseTheText) {
    EXPECT_EQ(actionOf("app://open/palette"), "action:palette");
    EXPECT_EQ(actionOf("app://open-palette"), "action:open-palette");
    EXPECT_EQ(actionOf("app://open/"), "action:open");
    EXPECT_EQ(actionOf("app://open/a/b/"), "action:b");
    EXPECT_EQ(actionOf("app://open/with%20space?q=1#f"), "action:with space");
    EXPECT_EQ(actionOf("not a url"), "action:not a url");
    EXPECT_EQ(actionOf("app:///"), "action:app:///");
    EXPECT_EQ(actionOf(""), "action:");
}

TEST(HotKeyPublishedKey, AddsThePrefixOnce) {
    EXPECT_EQ(publishedKey("⌘K"), "key:⌘K");
    EXPECT_EQ(publishedKey("key:⌘K"), "key:⌘K");
    EXPECT_EQ(publishedKey("Key:⌘K"), "key:Key:⌘K");
}

TEST(HotKeyRegistersNow, AlwaysHoldsWhateverIsInFront) {
    EXPECT_TRUE(registersNow("always", std::nullopt));
    EXPECT_TRUE(registersNow("always", "com.example.editor"));
}

TEST(HotKeyRegistersNow, FrontHoldsOnlyForThatExactApplication) {
    const std::string when = "front:com.example.editor";
    EXPECT_TRUE(registersNow(when, "com.example.editor"));
    EXPECT_FALSE(registersNow(when, "com.example.Editor"));
    EXPECT_FALSE(registersNow(when, "com.example.editor2"));
    EXPECT_FALSE(registersNow(when, std::nullopt));
    EXPECT_TRUE(registersNow("front:", ""));
    EXPECT_FALSE(registersNow("front:", std::nullopt));
}

TEST(HotKeyRegistersNow, OtherConditionsNeverHold) {
    EXPECT_FALSE(registersNow("alway", std::nullopt));
    EXPECT_FALSE(registersNow("Always", "com.example.editor"));
    EXPECT_FALSE(registersNow("fornt:com.example.editor", "com.example.editor"));
    EXPECT_FALSE(registersNow("", "com.example.editor"));
}

TEST(HotKeyDeclarations, KeepsOrderAndFillsDefaults) {
    const auto hotKeys = declaredHotKeysOf(json::array({
        {{"key", "⌘K"}, {"url", "app://open/palette"}},
        {{"key", "⌘J"}, {"url", "app://jump"}, {"when", "front:com.example.editor"},
         {"action", "action:jump"}},
        {{"key", "⌘L"}, {"url", "app://l"}, {"when", 3}, {"action", false}},
    }));
    ASSERT_EQ(hotKeys.size(), 3u);
    EXPECT_EQ(hotKeys[0].key, "⌘K");
    EXPECT_EQ(hotKeys[0].url, "app://open/palette");
    EXPECT_EQ(hotKeys[0].when, "always");
    EXPECT_EQ(hotKeys[0].action, std::nullopt);
    EXPECT_EQ(hotKeys[1].when, "front:com.example.editor");
    EXPECT_EQ(hotKeys[1].action, "action:jump");
    EXPECT_EQ(hotKeys[2].when, "always");
    EXPECT_EQ(hotKeys[2].action, std::nullopt);
}

TEST(HotKeyDeclarations, ElementsWithoutStringKeyAndUrlAreDroppedAndIndicesMove) {
    const auto hotKeys = declaredHotKeysOf(json::array({
        {{"key", "⌘A"}},
        {{"key", "⌘B"}, {"url", 7}},
        {{"url", "app://c"}},
        {{"key", "⌘D"}, {"url", "app://d"}},
    }));
    ASSERT_EQ(hotKeys.size(), 1u);
    EXPECT_EQ(hotKeys[0].key, "⌘D");
}

TEST(HotKeyDeclarations, AnythingButAnArrayOfObjectsGivesNone) {
    const json good = {{"key", "⌘K"}, {"url", "app://k"}};
    EXPECT_TRUE(declaredHotKeysOf(json::array({good, "⌘J"})).empty());
    EXPECT_TRUE(declaredHotKeysOf(json::array({good, json::array()})).empty());
    EXPECT_TRUE(declaredHotKeysOf(good).empty());
    EXPECT_TRUE(declaredHotKeysOf(json()).empty());
    EXPECT_TRUE(declaredHotKeysOf(json::array()).empty());
    EXPECT_EQ(declaredHotKeysOf(json::array({good})).size(), 1u);
}

}  // namespace
}  // namespace host
