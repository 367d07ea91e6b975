// Declared hot keys and the key-chord grammar: pure functions, no registration here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace host {

struct HotKey {
    std::string key;                    // chord text such as ⌘⇧K
    std::string url;                    // delivered to the shell when the chord fires
    std::string when;                   // "always", or "front:" + bundle identifier
    std::optional<std::string> action;  // published action name; none means actionOf(url)
};

inline constexpr const char* hotKeysKey = "WickerlyHotKeys";
inline constexpr const char* frontWhenPrefix = "front:";
inline constexpr const char* publishedKeyPrefix = "key:";
inline constexpr const char* publishedActionPrefix = "action:";
inline constexpr std::int32_t unsupportedHotKeyStatus = -50;
inline constexpr std::int32_t unregisteredHotKeyStatus = -1;
// A four-character code such as 'WkHK', as the hot key service spells signatures.
constexpr std::uint32_t signatureOf(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(text[0])) << 24 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[1])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[2])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(text[3]));
}

inline constexpr std::uint32_t isoTopLeftKeyCode = 10;   // kVK_ISO_Section
inline constexpr std::uint32_t ansiTopLeftKeyCode = 50;  // kVK_ANSI_Grave

// The hot keys of the Info.plist value (already converted to JSON). Anything but an array of
// objects gives none; objects without string "key" and "url" are skipped.
std::vector<HotKey> declaredHotKeysOf(const nlohmann::json& value);

struct Chord {
    std::uint32_t code = 0;
    std::uint32_t modifiers = 0;
    friend bool operator==(const Chord&, const Chord&) = default;
};

// Zero or more modifier symbols (⌘ ⇧ ⌥ ⌃) then one key; none when outside the grammar.
std::optional<Chord> chordOf(std::string_view key, std::uint32_t topLeftKeyCode = ansiTopLeftKeyCode);

// "action:" + the URL's last path component, else its host, else the whole text.
std::string actionOf(std::string_view url);

// The text with the "key:" prefix ensured.
std::string publishedKey(std::string_view key);

// Whether a "when" condition holds while `front` (a bundle identifier, or none) is in front.
bool registersNow(std::string_view when, const std::optional<std::string>& front);

}  // namespace host
