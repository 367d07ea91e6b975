#include "support/json-fast-reading.h"

#include <glib.h>

// Strings are scanned sixteen bytes at a time; every x86-64 processor has SSE2.
#ifdef __SSE2__
#define RAPIDJSON_SSE2
#endif
#include <rapidjson/document.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <utility>
#include <vector>

namespace host {
namespace {

using Value = rapidjson::Value;

constexpr std::size_t SCANNED_BLOCK = 16;
// The copy a thread parses in keeps the room of its longest text, up to this.
constexpr std::size_t KEPT_COPY_CAPACITY = 256 << 10;

// Numbers are read to the nearest double, as strtod reads them; the parse does not recurse, and
// nothing deeper than JSON_NESTING_LIMIT gets to it. The text is parsed in place in a copy of its
// own, its UTF-8 checked as a whole beforehand (RapidJSON's own check, string by string, would
// forgo its scanning of sixteen bytes at a time).
constexpr unsigned PARSE_FLAGS = rapidjson::kParseFullPrecisionFlag | rapidjson::kParseIterativeFlag;

std::string_view textOf(const Value& value) { return {value.GetString(), value.GetStringLength()}; }

// RapidJSON takes an escaped low surrogate without a high one before it, which nlohmann-json
// refuses: a text with any escaped surrogate is left to nlohmann-json.
bool escapesASurrogate(std::string_view text) {
    for (std::size_t at = text.find("\\u"); at != std::string_view::npos; at = text.find("\\u", at + 1)) {
        if (at + 2 < text.size() && (text[at + 2] == 'd' || text[at + 2] == 'D')) return true;
    }
    return false;
}

// nlohmann-json refuses a control character written raw in a string; RapidJSON 1.1.0's scanning
// of sixteen bytes at a time takes one in a long string. Most texts hold no control byte at all,
// which one quick pass tells.
bool writesAControlCharacterInAString(std::string_view text) {
    if (std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) return false;
    bool inString = false, escaped = false;
    for (const char character : text) {
        if (!inString) {
            inString = character == '"';
        } else if (escaped) {
            escaped = false;
        } else if (character == '\\') {
            escaped = true;
        } else if (character == '"') {
            inString = false;
        } else if (static_cast<unsigned char>(character) < 0x20) {
            return true;
        }
    }
    return false;
}

// RapidJSON 1.1.0 reads a zero with an exponent (0e57, 0.0E-3) through a count of leading zero
// bits of zero, which is undefined: a text with an exponent after only zeros is left to
// nlohmann-json. Looked for anywhere, strings too: at worst such a text is read the slower way.
bool writesAZeroWithAnExponent(std::string_view text) {
    for (std::size_t at = 0; at < text.size(); ++at) {
        if ((text[at] | 0x20) != 'e') continue;  // 'e' or 'E'
        std::size_t start = at;
        while (start > 0 && (std::isdigit(static_cast<unsigned char>(text[start - 1])) || text[start - 1] == '.')) --start;
        const std::string_view mantissa = text.substr(start, at - start);
        if (mantissa.find('0') != std::string_view::npos && mantissa.find_first_not_of("0.") == std::string_view::npos)
            return true;
    }
    return false;
}

// nlohmann-json reads a number without a sign as unsigned, one with a sign as signed, and one
// too large for either as a double, as RapidJSON does.
Json valueOf(const Value& value) {
    switch (value.GetType()) {
    case rapidjson::kArrayType: {
        Json array = Json::array();
        auto& elements = array.get_ref<Json::array_t&>();
        elements.reserve(value.Size());
        for (const Value& inner : value.GetArray()) elements.push_back(valueOf(inner));
        return array;
    }
    case rapidjson::kObjectType: {
        Json object = Json::object();
        auto& members = object.get_ref<Json::object_t&>();
        for (const auto& member : value.GetObject()) {
            const std::string_view name = textOf(member.name);
            // Keys often come in order: placed at the end without a search then.
            if (members.empty() || members.rbegin()->first < name) {
                members.emplace_hint(members.end(), std::string(name), valueOf(member.value));
            } else {
                members.insert_or_assign(std::string(name), valueOf(member.value));  // a later duplicate replaces
            }
        }
        return object;
    }
    case rapidjson::kNumberType:
        if (value.IsUint64()) return Json(value.GetUint64());
        if (value.IsInt64()) return Json(value.GetInt64());
        return Json(value.GetDouble());
    case rapidjson::kStringType: return Json(std::string(textOf(value)));
    case rapidjson::kTrueType: return Json(true);
    case rapidjson::kFalseType: return Json(false);
    case rapidjson::kNullType: break;
    }
    return nullptr;
}

// As the library writes a string that is valid UTF-8, which every string RapidJSON reads is:
// the short escapes, other control characters as \u00xx, every other byte as it stands.
std::string& appendQuotedUTF8(std::string& out, std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t plainFrom = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const unsigned char byte = static_cast<unsigned char>(text[at]);
        if (byte >= 0x20 && byte != '"' && byte != '\\') continue;
        out.append(text.substr(plainFrom, at - plainFrom));
        plainFrom = at + 1;
        switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out.push_back(hex[byte >> 4]);
            out.push_back(hex[byte & 0xF]);
        }
    }
    out.append(text.substr(plainFrom));
    out.push_back('"');
    return out;
}

template <typename Integer>
void appendInteger(std::string& out, Integer number) {
    char digits[24];
    auto written = std::to_chars(digits, digits + sizeof digits, number);
    out.append(digits, written.ptr);
}

using Members = std::vector<const Value::Member*>;

// Sorts members[from, end) by name, keeping duplicates in order: the later one is written.
void sortByName(Members& members, std::size_t from) {
    const auto begin = members.begin() + static_cast<std::ptrdiff_t>(from);
    const auto byName = [](const Value::Member* a, const Value::Member* b) { return textOf(a->name) < textOf(b->name); };
    if (members.size() - from > 16) return std::stable_sort(begin, members.end(), byName);
    // A row's handful of members sorts faster in place than through stable_sort's buffer.
    for (auto next = begin; next != members.end(); ++next) {
        const Value::Member* member = *next;
        auto at = next;
        for (; at != begin && byName(member, *(at - 1)); --at) *at = *(at - 1);
        *at = member;
    }
}

// As sortedJson writes the value: keys in byte order, the last of duplicates, integral
// floating-point numbers as integers (a number the host never rewrites otherwise goes through
// the library's own writer). `members` holds the members of the objects being written, each
// object's after its parent's.
void appendSorted(std::string& out, const Value& value, Members& members) {
    switch (value.GetType()) {
    case rapidjson::kArrayType: {
        out.push_back('[');
        bool first = true;
        for (const Value& inner : value.GetArray()) {
            if (!std::exchange(first, false)) out.push_back(',');
            appendSorted(out, inner, members);
        }
        out.push_back(']');
        return;
    }
    case rapidjson::kObjectType: {
        const std::size_t from = members.size();
        for (const auto& member : value.GetObject()) members.push_back(&member);
        sortByName(members, from);
        const std::size_t end = members.size();
        out.push_back('{');
        bool first = true;
        for (std::size_t n = from; n < end; ++n) {
            if (n + 1 < end && textOf(members[n + 1]->name) == textOf(members[n]->name)) continue;
            if (!std::exchange(first, false)) out.push_back(',');
            appendQuotedUTF8(out, textOf(members[n]->name)).push_back(':');
            appendSorted(out, members[n]->value, members);  // leaves `members` as it found it
        }
        members.resize(from);
        out.push_back('}');
        return;
    }
    case rapidjson::kNumberType:
        if (value.IsUint64()) return appendInteger(out, value.GetUint64());
        if (value.IsInt64()) return appendInteger(out, value.GetInt64());
        out += jsonLine(Json(value.GetDouble()));
        return;
    case rapidjson::kStringType: appendQuotedUTF8(out, textOf(value)); return;
    case rapidjson::kTrueType: out += "true"; return;
    case rapidjson::kFalseType: out += "false"; return;
    case rapidjson::kNullType: out += "null"; return;
    }
}

WrittenMember writtenOut(const Value& value) {
    WrittenMember written;
    written.sorted.emplace();
    Members members;
    appendSorted(*written.sorted, value, members);
    written.isArrayOfObjects = value.IsArray() && std::all_of(value.Begin(), value.End(), [](const Value& inner) {
        return inner.IsObject();
    });
    return written;
}

// Objects with more members than this are read through a tree, where a duplicate name is
// found without a look at every member before it.
constexpr std::size_t FLAT_MEMBERS_READ_DIRECTLY = 64;

FlatObject flatObjectOf(const Value& value) {
    if (value.MemberCount() > FLAT_MEMBERS_READ_DIRECTLY) return FlatObject(valueOf(value));
    FlatObject object;
    object.reserve(value.MemberCount());
    bool other = false;
    for (const auto& member : value.GetObject()) {
        const std::string_view name = textOf(member.name);
        if (member.value.IsString()) object.setString(name, textOf(member.value));
        else if (member.value.IsBool()) object.setBoolean(name, member.value.GetBool());
        else if (member.value.IsNull()) object.remove(name);
        else object.remove(name), other = true;
    }
    if (other) object.setWhole(valueOf(value));
    return object;
}

std::optional<FlatObjects> flatObjectsOf(const Value& value) {
    if (!value.IsArray() || !std::all_of(value.Begin(), value.End(), [](const Value& inner) { return inner.IsObject(); })) {
        return std::nullopt;
    }
    FlatObjects objects;
    objects.reserve(value.Size());
    for (const Value& inner : value.GetArray()) objects.push_back(flatObjectOf(inner));
    return objects;
}

}  // namespace

FastReading readObjectKeeping(std::string_view text, bool (*keeps)(std::string_view name), MembersSetAside* aside,
                              Json& object) {
    // A NUL byte, which nlohmann-json never takes, fails the UTF-8 check too; in the copy it
    // would end the text early.
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr) || nestedDeeperThan(text) ||
        escapesASurrogate(text) || writesAZeroWithAnExponent(text) || writesAControlCharacterInAString(text)) {
        return FastReading::refused;
    }
    thread_local std::string copy;
    // RapidJSON scans strings in aligned sixteen-byte blocks, the last of which may reach past
    // the terminator: the copy holds that block too.
    copy.reserve(text.size() + SCANNED_BLOCK);
    copy.assign(text);
    rapidjson::Document document;
    document.ParseInsitu<PARSE_FLAGS>(copy.data());
    if (document.HasParseError() || !document.IsObject()) {
        if (copy.capacity() > KEPT_COPY_CAPACITY) std::string().swap(copy);
        return document.HasParseError() ? FastReading::refused : FastReading::notAnObject;
    }
    object = Json::object();
    auto& members = object.get_ref<Json::object_t&>();
    const Value *written = nullptr, *flat = nullptr;  // the last of each name
    for (const auto& member : document.GetObject()) {
        const std::string_view name = textOf(member.name);
        const bool writes = aside && aside->writtenName && name == aside->writtenName;
        const bool flattens = aside && aside->flatName && name == aside->flatName;
        if (writes) written = &member.value;
        if (flattens) flat = &member.value;
        const bool kept = !writes && !flattens && keeps(name);
        members.insert_or_assign(std::string(name), kept ? valueOf(member.value) : nullptr);
    }
    if (written) aside->written = writtenOut(*written);
    if (flat) aside->flat = flatObjectsOf(*flat);
    if (copy.capacity() > KEPT_COPY_CAPACITY) std::string().swap(copy);  // a rare long line is not kept
    return FastReading::read;
}

}  // namespace host
