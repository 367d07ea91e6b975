#include "platform/localized-strings.h"

#include <glib.h>

#include <algorithm>
#include <string_view>
#include <utility>

#include "platform/files.h"
#include "support/plist.h"

namespace host::platform {
namespace fs = std::filesystem;

namespace {

using Table = std::map<std::string, std::string>;

// Character classes by hand: the C library's depend on the process locale.
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// ---- Preferred languages

bool isSubtag(std::string_view text) {
    return !text.empty() && text.size() <= 8 &&
           std::all_of(text.begin(), text.end(), [](char c) { return isLetter(c) || isDigit(c); });
}

bool isLanguageSubtag(std::string_view text) {
    return text.size() >= 2 && text.size() <= 8 && std::all_of(text.begin(), text.end(), isLetter);
}

// BCP 47 case: regions upper ("TR"), scripts title ("Latn"), everything else lower.
std::string canonicalCase(std::string_view subtag) {
    std::string cased(subtag.size(), ' ');
    std::transform(subtag.begin(), subtag.end(), cased.begin(), lower);
    bool alphabetic = std::all_of(subtag.begin(), subtag.end(), isLetter);
    if (alphabetic && subtag.size() == 2) std::transform(cased.begin(), cased.end(), cased.begin(), upper);
    if (alphabetic && subtag.size() == 4) cased[0] = upper(cased[0]);
    return cased;
}

std::vector<std::string_view> piecesOf(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> pieces;
    for (;;) {
        std::size_t end = text.find_first_of(separators);
        pieces.push_back(text.substr(0, end));
        if (end == std::string_view::npos) return pieces;
        text.remove_prefix(end + 1);
    }
}

// "tr_TR.UTF-8@euro" → "tr-TR"; none for C, POSIX and what is not a locale name.
std::optional<std::string> languageTagOf(std::string_view locale) {
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") return std::nullopt;
    auto subtags = piecesOf(locale, "_-");
    if (!isLanguageSubtag(subtags[0])) return std::nullopt;
    std::string tag(subtags[0].size(), ' ');
    std::transform(subtags[0].begin(), subtags[0].end(), tag.begin(), lower);
    for (std::size_t i = 1; i < subtags.size(); ++i) {
        if (!isSubtag(subtags[i])) return std::nullopt;
        tag += "-" + canonicalCase(subtags[i]);
    }
    return tag;
}

void addOnce(std::vector<std::string>& list, std::string item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(std::move(item));
}

std::vector<std::string> tagsOfList(std::string_view list) {
    std::vector<std::string> tags;
    for (std::string_view name : piecesOf(list, ":")) {
        if (auto tag = languageTagOf(name)) addOnce(tags, std::move(*tag));
    }
    return tags;
}

// ---- Text of a table

std::optional<std::string> fromUtf16(std::string_view bytes, const char* encoding) {
    GError* failure = nullptr;
    gsize written = 0;
    gchar* converted =
        g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", encoding, nullptr, &written, &failure);
    g_clear_error(&failure);
    if (!converted) return std::nullopt;
    std::string text(converted, written);
    g_free(converted);
    return text;
}

// The bytes as UTF-8 without a byte-order mark; none when they are not valid text.
std::optional<std::string> utf8TextOf(std::string_view bytes) {
    std::optional<std::string> text;
    if (startsWith(bytes, "\xFF\xFE")) text = fromUtf16(bytes.substr(2), "UTF-16LE");
    else if (startsWith(bytes, "\xFE\xFF")) text = fromUtf16(bytes.substr(2), "UTF-16BE");
    else if (startsWith(bytes, "\xEF\xBB\xBF")) text = std::string(bytes.substr(3));
    else text = std::string(bytes);
    if (!text || !g_utf8_validate(text->data(), static_cast<gssize>(text->size()), nullptr)) return std::nullopt;
    return text;
}

void appendUtf8(std::string& out, char32_t point) {
    auto byte = [&](char32_t bits) { out += static_cast<char>(bits); };
    if (point < 0x80) {
        byte(point);
    } else if (point < 0x800) {
        byte(0xC0 | (point >> 6)), byte(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        byte(0xE0 | (point >> 12)), byte(0x80 | ((point >> 6) & 0x3F)), byte(0x80 | (point & 0x3F));
    } else {
        byte(0xF0 | (point >> 18)), byte(0x80 | ((point >> 12) & 0x3F));
        byte(0x80 | ((point >> 6) & 0x3F)), byte(0x80 | (point & 0x3F));
    }
}

int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    c = lower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool isUnquotedCharacter(char c) {
    return isLetter(c) || isDigit(c) || c == '_' || c == '.' || c == '/' || c == '-';
}

// The old-style text form: entries `key = value;` or `key;`, optionally inside braces.
class OldStyleTable {
public:
    explicit OldStyleTable(std::string_view text) : text_(text) {}

    std::optional<Table> parsed() {
        Table table;
        if (!skipBlanks()) return std::nullopt;
        bool braced = !atEnd() && peek() == '{';
        if (braced) ++at_;
        for (;;) {
            if (!skipBlanks()) return std::nullopt;
            if (atEnd()) return braced ? std::nullopt : std::optional(std::move(table));
            if (braced && peek() == '}') {
                ++at_;
                return skipBlanks() && atEnd() ? std::optional(std::move(table)) : std::nullopt;
            }
            if (!readEntryInto(table)) return std::nullopt;
        }
    }

private:
    bool atEnd() const { return at_ >= text_.size(); }
    char peek() const { return text_[at_]; }
    bool comesNext(std::string_view prefix) const { return startsWith(text_.substr(at_), prefix); }

    // False inside a comment that never ends.
    bool skipBlanks() {
        for (;;) {
            while (!atEnd() && isSpace(peek())) ++at_;
            if (comesNext("//")) {
                at_ = std::min(text_.find('\n', at_), text_.size());
            } else if (comesNext("/*")) {
                std::size_t end = text_.find("*/", at_ + 2);
                if (end == std::string_view::npos) return false;
                at_ = end + 2;
            } else {
                return true;
            }
        }
    }

    bool readEntryInto(Table& table) {
        auto key = word();
        if (!key || !skipBlanks() || atEnd()) return false;
        std::string value = *key;  // `"key";` alone stands for the key itself
        if (peek() == '=') {
            ++at_;
            if (!skipBlanks()) return false;
            auto given = word();
            if (!given || !skipBlanks() || atEnd()) return false;
            value = std::move(*given);
        }
        if (peek() != ';') return false;
        ++at_;
        table[*key] = std::move(value);  // a later entry wins, as in the platform's reader
        return true;
    }

    std::optional<std::string> word() {
        if (atEnd()) return std::nullopt;
        return peek() == '"' ? quoted() : unquoted();
    }

    std::optional<std::string> unquoted() {
        std::size_t start = at_;
        while (!atEnd() && isUnquotedCharacter(peek())) ++at_;
        if (at_ == start) return std::nullopt;
        return std::string(text_.substr(start, at_ - start));
    }

    std::optional<std::string> quoted() {
        ++at_;
        std::string out;
        while (!atEnd()) {
            char c = text_[at_++];
            if (c == '"') return out;
            if (c != '\\') out += c;
            else if (!readEscapeInto(out)) return std::nullopt;
        }
        return std::nullopt;
    }

    bool readEscapeInto(std::string& out) {
        if (atEnd()) return false;
        char c = text_[at_++];
        switch (c) {
        case 'n': out += '\n'; return true;
        case 't': out += '\t'; return true;
        case 'r': out += '\r'; return true;
        case 'U': return readUnicodeInto(out);
        default: out += c; return true;  // \" \\ and any other character stand for themselves
        }
    }

    // \Uxxxx holds a UTF-16 code unit, so characters past the first plane come as two.
    bool readUnicodeInto(std::string& out) {
        auto unit = codeUnit();
        if (!unit) return false;
        char32_t point = *unit;
        if (point >= 0xD800 && point <= 0xDBFF && comesNext("\\U")) {
            std::size_t beforeLow = at_;
            at_ += 2;
            auto low = codeUnit();
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) point = 0x10000 + ((point - 0xD800) << 10) + (*low - 0xDC00);
            else at_ = beforeLow;
        }
        if (point >= 0xD800 && point <= 0xDFFF) point = 0xFFFD;  // a lone half has no UTF-8 form
        appendUtf8(out, point);
        return true;
    }

    // One to four hex digits.
    std::optional<char32_t> codeUnit() {
        char32_t unit = 0;
        int digits = 0;
        for (; digits < 4 && !atEnd() && hexValue(peek()) >= 0; ++digits) unit = unit * 16 + hexValue(text_[at_++]);
        if (digits == 0) return std::nullopt;
        return unit;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<Table> tableOf(const std::optional<Json>& root) {
    if (!root || !root->is_object()) return std::nullopt;
    Table table;
    for (const auto& [key, value] : root->items()) {
        if (value.is_string()) table[key] = value.get<std::string>();
    }
    return table;
}

bool looksLikeXml(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && text[first] == '<';
}

// ---- Lookup

std::string underscored(std::string tag) {
    std::replace(tag.begin(), tag.end(), '-', '_');
    return tag;
}

// "pt-BR" → pt-BR, pt_BR, pt; then Base and en.
std::vector<std::string> folderNamesFor(const std::vector<std::string>& languages) {
    std::vector<std::string> names;
    for (std::string tag : languages) {
        if (tag.find('/') != std::string::npos || tag.starts_with(".")) continue;  // stays inside resources
        while (!tag.empty()) {
            addOnce(names, tag);
            addOnce(names, underscored(tag));
            std::size_t cut = tag.rfind('-');
            tag.resize(cut == std::string::npos ? 0 : cut);
        }
    }
    addOnce(names, "Base");
    addOnce(names, "en");
    return names;
}

}  // namespace

std::vector<std::string> preferredLanguagesOf(const std::function<const char*(const char*)>& environment) {
    if (!environment) return {};
    auto valueOf = [&](const char* name) {
        const char* value = environment(name);
        return std::string_view(value ? value : "");
    };
    // A LANGUAGE that names nothing usable ("C", ":") leaves the choice to the locale.
    auto tags = tagsOfList(valueOf("LANGUAGE"));
    if (!tags.empty()) return tags;
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string_view locale = valueOf(name);
        if (locale.empty()) continue;
        auto tag = languageTagOf(locale);
        return tag ? std::vector<std::string>{*tag} : std::vector<std::string>{};
    }
    return {};
}

std::optional<Table> parsedStringsTable(const std::string& bytes) {
    if (startsWith(bytes, "bplist")) return tableOf(parsedPropertyList(bytes));
    auto text = utf8TextOf(bytes);
    if (!text) return std::nullopt;
    if (looksLikeXml(*text)) return tableOf(parsedPropertyList(*text));
    return OldStyleTable(*text).parsed();
}

std::string localizedString(const fs::path& resources, const std::string& key,
                            const std::vector<std::string>& preferredLanguages) {
    for (const auto& name : folderNamesFor(preferredLanguages)) {
        auto bytes = contentsOf(resources / (name + ".lproj") / "Localizable.strings");
        auto table = bytes ? parsedStringsTable(*bytes) : std::nullopt;
        if (!table) continue;
        auto found = table->find(key);
        if (found != table->end()) return found->second;
    }
    return key;
}

}  // namespace host::platform
