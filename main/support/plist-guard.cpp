#include "support/plist-guard.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

namespace host {
namespace {

// The binary form: a header, objects, a table of their offsets, and a trailer that says how
// big offsets and references are, how many objects there are, which is the top one and where
// the table starts. An object's first byte is its marker: the kind in the high four bits, a
// count in the low four (0xF: the count follows as an integer object).
constexpr std::string_view BINARY_HEADER = "bplist00";
constexpr std::size_t TRAILER_BYTES = 32;
constexpr unsigned INTEGER = 0x1, UNICODE_STRING = 0x6, ARRAY = 0xA, ORDERED_SET = 0xB, SET = 0xC,
                   DICTIONARY = 0xD;
constexpr unsigned COUNT_FOLLOWS = 0xF;

// More values than any bundle's lists hold, far fewer than would exhaust the memory.
constexpr std::uint64_t MOST_VALUES = 1 << 18;

struct Shape {
    unsigned kind = 0;
    std::uint64_t count = 0;   // elements; for a dictionary, its keys
    std::size_t payload = 0;   // where the elements (or references) start
};

bool isContainer(unsigned kind) { return kind == ARRAY || kind == ORDERED_SET || kind == SET || kind == DICTIONARY; }

class BinaryList {
public:
    explicit BinaryList(std::string_view bytes) : bytes_(bytes) {}

    // False when the trailer does not describe these bytes (the library refuses them too).
    bool open() {
        if (bytes_.size() < BINARY_HEADER.size() + TRAILER_BYTES || !bytes_.starts_with(BINARY_HEADER)) return false;
        const std::size_t trailer = bytes_.size() - TRAILER_BYTES;
        offsetBytes_ = byteAt(trailer + 6);
        referenceBytes_ = byteAt(trailer + 7);
        if (offsetBytes_ < 1 || offsetBytes_ > 8 || referenceBytes_ < 1 || referenceBytes_ > 8) return false;
        objects_ = *number(trailer + 8, 8);
        top_ = *number(trailer + 16, 8);
        const std::uint64_t table = *number(trailer + 24, 8);
        if (table > trailer || objects_ > (trailer - table) / offsetBytes_ || top_ >= objects_) return false;
        table_ = static_cast<std::size_t>(table);
        return true;
    }

    std::uint64_t objects() const { return objects_; }
    std::uint64_t top() const { return top_; }

    std::optional<Shape> shape(std::uint64_t object) const {
        if (object >= objects_) return std::nullopt;
        auto offset = number(table_ + static_cast<std::size_t>(object) * offsetBytes_, offsetBytes_);
        if (!offset || *offset >= bytes_.size() - TRAILER_BYTES) return std::nullopt;
        const unsigned marker = byteAt(static_cast<std::size_t>(*offset));
        Shape shape{marker >> 4, marker & 0xFu, static_cast<std::size_t>(*offset) + 1};
        if (shape.count != COUNT_FOLLOWS || (shape.kind != UNICODE_STRING && !isContainer(shape.kind))) return shape;
        const unsigned sizeMarker = shape.payload < bytes_.size() ? byteAt(shape.payload) : 0;
        const std::size_t size = std::size_t{1} << (sizeMarker & 0xFu);
        if (sizeMarker >> 4 != INTEGER || size > 8) return std::nullopt;
        auto count = number(shape.payload + 1, size);
        if (!count) return std::nullopt;
        shape.count = *count;
        shape.payload += 1 + size;
        return shape;
    }

    // How many references a container holds (keys, then values, for a dictionary); 0 when they
    // do not all fit in the bytes.
    std::uint64_t references(const Shape& shape) const {
        const std::uint64_t room = (bytes_.size() - std::min(bytes_.size(), shape.payload)) / referenceBytes_;
        const std::uint64_t count = shape.kind == DICTIONARY ? shape.count * 2 : shape.count;
        return shape.count <= room && count <= room ? count : 0;
    }

    std::optional<std::uint64_t> reference(const Shape& shape, std::uint64_t index) const {
        return number(shape.payload + static_cast<std::size_t>(index) * referenceBytes_, referenceBytes_);
    }

    bool holdsANul(const Shape& string) const {
        if (string.kind != UNICODE_STRING) return false;
        const std::size_t room = (bytes_.size() - std::min(bytes_.size(), string.payload)) / 2;
        const std::size_t units = static_cast<std::size_t>(std::min<std::uint64_t>(string.count, room));
        for (std::size_t unit = 0; unit < units; ++unit) {
            if (bytes_[string.payload + 2 * unit] == 0 && bytes_[string.payload + 2 * unit + 1] == 0) return true;
        }
        return false;
    }

private:
    unsigned byteAt(std::size_t at) const { return static_cast<unsigned char>(bytes_[at]); }

    std::optional<std::uint64_t> number(std::size_t at, std::size_t size) const {
        if (at > bytes_.size() || size > bytes_.size() - at) return std::nullopt;
        std::uint64_t value = 0;
        for (std::size_t k = 0; k < size; ++k) value = value << 8 | byteAt(at + k);
        return value;
    }

    std::string_view bytes_;
    std::size_t offsetBytes_ = 0, referenceBytes_ = 0, table_ = 0;
    std::uint64_t objects_ = 0, top_ = 0;
};

bool aKeyHoldsANul(const BinaryList& list) {
    for (std::uint64_t object = 0; object < list.objects(); ++object) {
        auto shape = list.shape(object);
        if (!shape || shape->kind != DICTIONARY) continue;
        const std::uint64_t keys = list.references(*shape) / 2;
        for (std::uint64_t key = 0; key < keys; ++key) {
            auto reference = list.reference(*shape, key);
            auto keyShape = reference ? list.shape(*reference) : std::nullopt;
            if (keyShape && list.holdsANul(*keyShape)) return true;
        }
    }
    return false;
}

// The library reads every reference afresh, so a container referred to twice is read twice: a
// few hundred bytes can stand for a tree of billions of values. The walk measures the tree the
// library would build, its depth and how many values it holds, with a stack of its own and each
// container's measure kept, so a shared container is walked once. It stops once past a limit.
bool binaryGrowsPast(const BinaryList& list, std::size_t depthLimit, std::uint64_t valuesLimit) {
    struct Measure {
        std::uint32_t depth = 0;  // 0 while unknown
        std::uint64_t values = 0;
        bool walking = false;
    };
    struct Frame {
        std::uint64_t object;
        Shape shape;
        std::uint64_t next = 0;
        Measure below;
    };
    auto top = list.shape(list.top());
    if (!top || !isContainer(top->kind)) return false;
    // Only containers reached are measured, and they count among the values, so at most
    // `valuesLimit` of them are kept.
    std::unordered_map<std::uint64_t, Measure> measures;
    std::vector<Frame> chain{{list.top(), *top, 0, {}}};
    measures[list.top()].walking = true;
    while (!chain.empty()) {
        Frame& frame = chain.back();
        if (frame.next < list.references(frame.shape)) {
            auto child = list.reference(frame.shape, frame.next++);
            auto shape = child ? list.shape(*child) : std::nullopt;
            if (!shape || !isContainer(shape->kind)) {
                frame.below.values += 1;
                continue;
            }
            Measure& known = measures[*child];
            if (known.walking) continue;  // a cycle: the library refuses it
            if (known.depth == 0) {
                if (chain.size() >= depthLimit) return true;
                known.walking = true;
                chain.push_back({*child, *shape, 0, {}});
                continue;
            }
            frame.below.depth = std::max(frame.below.depth, known.depth);
            frame.below.values += known.values;
            if (frame.below.values > valuesLimit) return true;
            continue;
        }
        const Measure whole{frame.below.depth + 1, frame.below.values + 1, false};
        measures[frame.object] = whole;
        chain.pop_back();
        if (chain.empty()) return whole.values > valuesLimit;
        chain.back().below.depth = std::max(chain.back().below.depth, whole.depth);
        chain.back().below.values += whole.values;
        if (chain.back().below.values > valuesLimit) return true;
    }
    return false;
}

bool isNameCharacter(char character) {
    return (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z') ||
           (character >= '0' && character <= '9') || character == '-' || character == '_' || character == '.' ||
           character == ':';
}

bool namesElement(std::string_view rest, std::string_view name) {
    return rest.starts_with(name) && (rest.size() == name.size() || !isNameCharacter(rest[name.size()]));
}

// Only arrays and dictionaries nest; their empty forms ("<array/>") do not open a level.
bool xmlNestsDeeperThan(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    for (std::size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
        const bool closing = at + 1 < text.size() && text[at + 1] == '/';
        const std::string_view name = text.substr(at + 1 + closing);
        if (!namesElement(name, "array") && !namesElement(name, "dict")) continue;
        if (closing) {
            if (depth > 0) --depth;
            continue;
        }
        const std::size_t end = text.find('>', at);
        if (end != std::string_view::npos && text[end - 1] == '/') continue;
        if (++depth > limit) return true;
    }
    return false;
}

}  // namespace

bool propertyListIsRefused(std::string_view bytes, std::size_t limit) {
    BinaryList binary(bytes);
    if (binary.open()) return aKeyHoldsANul(binary) || binaryGrowsPast(binary, limit, MOST_VALUES);
    if (bytes.starts_with(BINARY_HEADER)) return false;
    return xmlNestsDeeperThan(bytes, limit);
}

}  // namespace host
