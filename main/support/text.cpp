#include "support/text.h"

#include <glib.h>

namespace host {
namespace {

template <typename Change>
std::string changed(std::string_view text, Change change) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::string(text);
    gchar* result = change(text.data(), static_cast<gssize>(text.size()));
    std::string copy(result);
    g_free(result);
    return copy;
}

}  // namespace

std::string lowercased(std::string_view text) { return changed(text, g_utf8_strdown); }

std::string uppercased(std::string_view text) { return changed(text, g_utf8_strup); }

namespace {

constexpr gunichar zeroWidthJoiner = 0x200D;

// Whether a code point belongs to the character before it: the parts of the extended grapheme
// cluster rules that can occur in a key text.
bool extendsCluster(gunichar c, gunichar previous) {
    return g_unichar_ismark(c) || c == zeroWidthJoiner || previous == zeroWidthJoiner ||
           (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x1F3FB && c <= 0x1F3FF);
}

}  // namespace

std::optional<std::vector<std::string>> charactersOf(std::string_view text) {
    const auto length = static_cast<gssize>(text.size());
    if (!g_utf8_validate(text.data(), length, nullptr)) return std::nullopt;
    std::vector<std::string> characters;
    gunichar previous = 0;
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); p < end;) {
        const char* next = p + g_utf8_skip[static_cast<guchar>(*p)];
        const gunichar c = g_utf8_get_char(p);
        if (characters.empty() || !extendsCluster(c, previous)) characters.emplace_back();
        characters.back().append(p, next);
        previous = c;
        p = next;
    }
    return characters;
}

bool isLettersAndUnderscores(std::string_view text) {
    const auto length = static_cast<gssize>(text.size());
    if (!g_utf8_validate(text.data(), length, nullptr)) return false;
    const char* end = text.data() + text.size();
    for (const char* p = text.data(); p < end; p = g_utf8_next_char(p)) {
        const gunichar c = g_utf8_get_char(p);
        if (c != '_' && !g_unichar_isalpha(c)) return false;
    }
    return true;
}

std::string withInvalidUTF8Repaired(std::string_view text) {
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string copy(valid);
    g_free(valid);
    return copy;
}

}  // namespace host
