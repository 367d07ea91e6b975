// JSON helpers shared by every subsystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace host {

using Json = nlohmann::json;

// The object serialised with sorted keys on one line, without a line feed; "{}" when it cannot
// be serialised. Integral floating-point numbers are written as integers, as the platform's
// JSON writer does.
std::string jsonLine(const Json& value);

// Serialised with sorted keys, or none when it cannot be; same number rule as jsonLine.
std::optional<std::string> sortedJson(const Json& value);

// Outside JSON nested deeper than this is refused before any value is built: values are copied,
// written and compared recursively, so a deep enough line would exhaust the stack. Deep enough
// for the deepest menu file the host reads.
inline constexpr std::size_t JSON_NESTING_LIMIT = 512;

// Whether `text` opens more than `limit` arrays or objects inside one another. One pass over the
// bytes that skips strings as the parser does, so it agrees with the parser on every prefix the
// parser accepts.
bool nestedDeeperThan(std::string_view text, std::size_t limit = JSON_NESTING_LIMIT);

// Parses a whole text; none (with the reason in *why when given) when it is not JSON or is nested
// deeper than JSON_NESTING_LIMIT. Without `why` no exception is thrown on the way, so malformed
// input stays cheap.
std::optional<Json> parsedJson(std::string_view text, std::string* why = nullptr);

// A member that is only ever written out, kept as the text sortedJson gives for it (none when
// it cannot be written) instead of as a tree of values.
struct WrittenMember {
    std::optional<std::string> sorted;
    bool isArrayOfObjects = false;
};

// One JSON object with only the members whose names `keeps` accepts parsed: every other member
// is there with a null value, so the object's size and names are the whole one's. None when
// the text is not one JSON object or nests deeper than JSON_NESTING_LIMIT; no deeper value is
// built. The member named `writtenName`, when there is one, is null in the object too and
// handed back in *written (a later duplicate replacing an earlier one). No exception is thrown
// on the way; a long text is read by simdjson, which agrees with nlohmann-json's reading and
// is several times faster.
std::optional<Json> objectKeeping(std::string_view text, bool (*keeps)(std::string_view name),
                                  const char* writtenName = nullptr, std::optional<WrittenMember>* written = nullptr);

// `text` as a JSON string, quotes included, appended to `out` exactly as the serialiser writes it
// (text that is not UTF-8 replaced).
std::string& appendQuoted(std::string& out, std::string_view text);

// Members read with their expected type; a value of another type counts as absent.
const std::string* stringMember(const Json& object, const char* key);
const Json* objectMember(const Json& object, const char* key);
const Json* arrayMember(const Json& object, const char* key);

// Integers (not floats, not booleans) that fit the type; anything else is none.
std::optional<std::int32_t> int32Member(const Json& object, const char* key);
std::optional<std::uint32_t> uint32Member(const Json& object, const char* key);
// Any JSON number.
std::optional<double> numberMember(const Json& object, const char* key);
std::optional<bool> boolMember(const Json& object, const char* key);

// True for an array whose every element is an object (an empty array included).
bool isArrayOfObjects(const Json& value);
// True for an array whose every element is a string.
bool isArrayOfStrings(const Json& value);

}  // namespace host
