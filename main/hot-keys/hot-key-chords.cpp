#include "hot-keys/hot-key-chords.h"

#include "support/text.h"
#include "support/url.h"

#include <map>

namespace host {

namespace {

// Carbon virtual key codes of the ANSI layout; "§" is missing because its code depends on the
// keyboard.
const std::map<std::string, std::uint32_t>& fixedKeyCodes() {
    static const std::map<std::string, std::uint32_t> codes = {
        {"A", 0},   {"B", 11}, {"C", 8},  {"D", 2},  {"E", 14}, {"F", 3},  {"G", 5},  {"H", 4},
        {"I", 34},  {"J", 38}, {"K", 40}, {"L", 37}, {"M", 46}, {"N", 45}, {"O", 31}, {"P", 35},
        {"Q", 12},  {"R", 15}, {"S", 1},  {"T", 17}, {"U", 32}, {"V", 9},  {"W", 13}, {"X", 7},
        {"Y", 16},  {"Z", 6},  {"0", 29}, {"1", 18}, {"2", 19}, {"3", 20}, {"4", 21}, {"5", 23},
        {"6", 22},  {"7", 26}, {"8", 28}, {"9", 25}, {"`", 50},
    };
    return codes;
}

constexpr const char* topLeftKeyName = "\u00A7";

// Carbon modifier masks: cmdKey, shiftKey, optionKey, controlKey.
const std::map<std::string, std::uint32_t>& modifierMasks() {
    static const std::map<std::string, std::uint32_t> masks = {
        {"\u2318", 256}, {"\u21E7", 512}, {"\u2325", 2048}, {"\u2303", 4096}};
    return masks;
}

std::optional<std::uint32_t> keyCodeOf(const std::string& character, std::uint32_t topLeftKeyCode) {
    const std::string key = uppercased(character);
    if (key == topLeftKeyName) return topLeftKeyCode;
    const auto found = fixedKeyCodes().find(key);
    if (found == fixedKeyCodes().end()) return std::nullopt;
    return found->second;
}

std::optional<std::string> stringField(const nlohmann::json& object, const char* name) {
    const auto found = object.find(name);
    if (found == object.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

bool isArrayOfObjects(const nlohmann::json& value) {
    if (!value.is_array()) return false;
    for (const auto& element : value) {
        if (!element.is_object()) return false;
    }
    return true;
}

// The last component of a URL path, as Foundation names it: trailing slashes do not count, and
// the root path is "/" itself.
std::string lastPathComponentOf(std::string_view path) {
    if (path.empty()) return {};
    const auto lastKept = path.find_last_not_of('/');
    if (lastKept == std::string_view::npos) return "/";
    path = path.substr(0, lastKept + 1);
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The name actionOf publishes for a text: path component, else host, else none.
std::optional<std::string> nameInUrl(const std::string& text) {
    auto url = parsedURL(text);
    if (!url) return std::nullopt;
    std::string name = lastPathComponentOf(url->path);
    if (!name.empty() && name != "/") return name;
    if (!url->host || url->host->empty()) return std::nullopt;
    return url->host;
}

}  // namespace

std::vector<HotKey> declaredHotKeysOf(const nlohmann::json& value) {
    std::vector<HotKey> hotKeys;
    if (!isArrayOfObjects(value)) return hotKeys;
    for (const auto& element : value) {
        auto key = stringField(element, "key");
        auto url = stringField(element, "url");
        if (!key || !url) continue;
        hotKeys.push_back(HotKey{std::move(*key), std::move(*url),
                                 stringField(element, "when").value_or("always"),
                                 stringField(element, "action")});
    }
    return hotKeys;
}

std::optional<Chord> chordOf(std::string_view key, std::uint32_t topLeftKeyCode) {
    const auto characters = charactersOf(key);
    if (!characters || characters->empty()) return std::nullopt;
    Chord chord;
    for (std::size_t i = 0; i + 1 < characters->size(); ++i) {
        const auto mask = modifierMasks().find((*characters)[i]);
        if (mask == modifierMasks().end()) return std::nullopt;
        chord.modifiers |= mask->second;
    }
    const auto code = keyCodeOf(characters->back(), topLeftKeyCode);
    if (!code) return std::nullopt;
    chord.code = *code;
    return chord;
}

std::string actionOf(std::string_view url) {
    std::string text(url);
    // A NUL would cut the text short for the parser; such a text is no URL.
    const auto name = text.find('\0') == std::string::npos ? nameInUrl(text) : std::nullopt;
    return publishedActionPrefix + name.value_or(text);
}

std::string publishedKey(std::string_view key) {
    if (key.starts_with(publishedKeyPrefix)) return std::string(key);
    return publishedKeyPrefix + std::string(key);
}

bool registersNow(std::string_view when, const std::optional<std::string>& front) {
    if (when == "always") return true;
    if (!when.starts_with(frontWhenPrefix)) return false;
    return front && *front == when.substr(std::string_view(frontWhenPrefix).size());
}

}  // namespace host
