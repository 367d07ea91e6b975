#include "support/json-fast-reading.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <utility>
#include <vector>

namespace host {
namespace {

namespace dom = simdjson::dom;

// A parser keeps the memory of the longest text it read, some seven times the text (460 KiB
// after a 500-row menu's 62 KiB): one that grew past this is dropped after its read, so a rare
// long line does not stay in memory.
constexpr std::size_t KEPT_PARSER_CAPACITY = 256 << 10;

// nlohmann-json reads a number without a sign as unsigned, one with a sign as signed.
Json valueOf(dom::element element) {
    switch (element.type()) {
    case dom::element_type::ARRAY: {
        Json array = Json::array();
        auto& elements = array.get_ref<Json::array_t&>();
        const dom::array source = element.get_array().value_unsafe();
        elements.reserve(source.size());
        for (dom::element inner : source) elements.push_back(valueOf(inner));
        return array;
    }
    case dom::element_type::OBJECT: {
        Json object = Json::object();
        auto& members = object.get_ref<Json::object_t&>();
        const dom::object source = element.get_object().value_unsafe();
        for (dom::key_value_pair member : source) {
            // Keys often come in order: placed at the end without a search then.
            if (members.empty() || members.rbegin()->first < member.key) {
                members.emplace_hint(members.end(), std::string(member.key), valueOf(member.value));
            } else {
                members.insert_or_assign(std::string(member.key), valueOf(member.value));  // a later duplicate replaces
            }
        }
        return object;
    }
    case dom::element_type::INT64: {
        const std::int64_t number = element.get_int64().value_unsafe();
        return number < 0 ? Json(number) : Json(static_cast<std::uint64_t>(number));
    }
    case dom::element_type::UINT64: return Json(element.get_uint64().value_unsafe());
    case dom::element_type::DOUBLE: return Json(element.get_double().value_unsafe());
    case dom::element_type::STRING: return Json(std::string(element.get_string().value_unsafe()));
    case dom::element_type::BOOL: return Json(element.get_bool().value_unsafe());
    case dom::element_type::NULL_VALUE: break;
    }
    return nullptr;
}

// As the library writes a string that is valid UTF-8, which every string simdjson reads is:
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

// Sorts members[from, end) by name, keeping duplicates in order: the later one is written.
void sortByName(std::vector<dom::key_value_pair>& members, std::size_t from) {
    const auto begin = members.begin() + static_cast<std::ptrdiff_t>(from);
    const auto byName = [](const dom::key_value_pair& a, const dom::key_value_pair& b) { return a.key < b.key; };
    if (members.size() - from > 16) return std::stable_sort(begin, members.end(), byName);
    // A row's handful of members sorts faster in place than through stable_sort's buffer.
    for (auto next = begin; next != members.end(); ++next) {
        const dom::key_value_pair member = *next;
        auto at = next;
        for (; at != begin && byName(member, *(at - 1)); --at) *at = *(at - 1);
        *at = member;
    }
}

// As sortedJson writes the value: keys in byte order, the last of duplicates, integral
// floating-point numbers as integers (a number the host never rewrites otherwise goes through
// the library's own writer). `members` holds the members of the objects being written, each
// object's after its parent's.
void appendSorted(std::string& out, dom::element element, std::vector<dom::key_value_pair>& members) {
    switch (element.type()) {
    case dom::element_type::ARRAY: {
        out.push_back('[');
        bool first = true;
        const dom::array elements = element.get_array().value_unsafe();
        for (dom::element inner : elements) {
            if (!std::exchange(first, false)) out.push_back(',');
            appendSorted(out, inner, members);
        }
        out.push_back(']');
        return;
    }
    case dom::element_type::OBJECT: {
        const std::size_t from = members.size();
        const dom::object source = element.get_object().value_unsafe();
        for (dom::key_value_pair member : source) members.push_back(member);
        sortByName(members, from);
        const std::size_t end = members.size();
        out.push_back('{');
        bool first = true;
        for (std::size_t n = from; n < end; ++n) {
            if (n + 1 < end && members[n + 1].key == members[n].key) continue;
            if (!std::exchange(first, false)) out.push_back(',');
            appendQuotedUTF8(out, members[n].key).push_back(':');
            appendSorted(out, members[n].value, members);  // leaves `members` as it found it
        }
        members.erase(members.begin() + static_cast<std::ptrdiff_t>(from), members.end());
        out.push_back('}');
        return;
    }
    case dom::element_type::INT64: return appendInteger(out, element.get_int64().value_unsafe());
    case dom::element_type::UINT64: return appendInteger(out, element.get_uint64().value_unsafe());
    case dom::element_type::DOUBLE: {
        out += jsonLine(Json(element.get_double().value_unsafe()));
        return;
    }
    case dom::element_type::STRING: appendQuotedUTF8(out, element.get_string().value_unsafe()); return;
    case dom::element_type::BOOL: out += element.get_bool().value_unsafe() ? "true" : "false"; return;
    case dom::element_type::NULL_VALUE: out += "null"; return;
    }
}

WrittenMember writtenOut(dom::element element) {
    WrittenMember written;
    written.sorted.emplace();
    std::vector<dom::key_value_pair> members;
    appendSorted(*written.sorted, element, members);
    if (element.is_array()) {
        const dom::array elements = element.get_array().value_unsafe();
        written.isArrayOfObjects = true;
        for (dom::element inner : elements) written.isArrayOfObjects = written.isArrayOfObjects && inner.is_object();
    }
    return written;
}

// Objects with more members than this are read through a tree, where a duplicate name is
// found without a look at every member before it.
constexpr std::size_t FLAT_MEMBERS_READ_DIRECTLY = 64;

FlatObject flatObjectOf(dom::element element) {
    const dom::object source = element.get_object().value_unsafe();
    if (source.size() > FLAT_MEMBERS_READ_DIRECTLY) return FlatObject(valueOf(element));
    FlatObject object;
    object.reserve(source.size());
    bool other = false;
    for (dom::key_value_pair member : source) {
        switch (member.value.type()) {
        case dom::element_type::STRING: object.setString(member.key, member.value.get_string().value_unsafe()); break;
        case dom::element_type::BOOL: object.setBoolean(member.key, member.value.get_bool().value_unsafe()); break;
        case dom::element_type::NULL_VALUE: object.remove(member.key); break;
        default: object.remove(member.key), other = true;
        }
    }
    if (other) object.setWhole(valueOf(element));
    return object;
}

std::optional<FlatObjects> flatObjectsOf(dom::element element) {
    if (!element.is_array()) return std::nullopt;
    const dom::array elements = element.get_array().value_unsafe();
    for (dom::element inner : elements) {
        if (!inner.is_object()) return std::nullopt;
    }
    FlatObjects objects;
    objects.reserve(elements.size());
    for (dom::element inner : elements) objects.push_back(flatObjectOf(inner));
    return objects;
}

}  // namespace

FastReading readObjectKeeping(std::string_view text, bool (*keeps)(std::string_view name), MembersSetAside* aside,
                              Json& object) {
    thread_local std::unique_ptr<dom::parser> parser;
    if (!parser) {
        parser = std::make_unique<dom::parser>();
        if (parser->allocate(text.size(), JSON_NESTING_LIMIT) != simdjson::SUCCESS) return parser.reset(), FastReading::refused;
    }
    // The limit counts as objectKeeping does: a text nested deeper is refused, as it is there.
    dom::element root;
    const bool parsed = parser->parse(text.data(), text.size()).get(root) == simdjson::SUCCESS;
    FastReading reading = !parsed ? FastReading::refused : root.is_object() ? FastReading::read : FastReading::notAnObject;
    if (reading == FastReading::read) {
        object = Json::object();
        auto& members = object.get_ref<Json::object_t&>();
        std::optional<dom::element> written, flat;  // the last of each name
        const dom::object source = root.get_object().value_unsafe();
        for (dom::key_value_pair member : source) {
            const bool writes = aside && aside->writtenName && member.key == aside->writtenName;
            const bool flattens = aside && aside->flatName && member.key == aside->flatName;
            if (writes) written = member.value;
            if (flattens) flat = member.value;
            const bool kept = !writes && !flattens && keeps(member.key);
            members.insert_or_assign(std::string(member.key), kept ? valueOf(member.value) : nullptr);
        }
        if (written) aside->written = writtenOut(*written);
        if (flat) aside->flat = flatObjectsOf(*flat);
    }
    if (parser->capacity() > KEPT_PARSER_CAPACITY) parser.reset();
    return reading;
}

}  // namespace host
