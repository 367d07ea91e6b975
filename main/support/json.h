// JSON helpers shared by every subsystem.
#pragma once

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

// Parses a whole text; none (with the reason in *why when given) when it is not JSON.
std::optional<Json> parsedJson(std::string_view text, std::string* why = nullptr);

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
