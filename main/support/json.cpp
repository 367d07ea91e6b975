#include "support/json.h"

#include <cmath>
#include <limits>
#include <utility>

namespace host {
namespace {

bool isIntegral(double number) {
    return std::isfinite(number) && std::trunc(number) == number &&
           std::fabs(number) < 9.0e15;  // exactly representable as an integer
}

// Foundation writes 100.0 as 100; keep the host's output in that form.
Json withIntegralNumbers(const Json& value) {
    if (value.is_number_float()) {
        double number = value.get<double>();
        return isIntegral(number) ? Json(static_cast<std::int64_t>(number)) : value;
    }
    if (value.is_object()) {
        Json copy = Json::object();
        for (const auto& [key, member] : value.items()) copy[key] = withIntegralNumbers(member);
        return copy;
    }
    if (value.is_array()) {
        Json copy = Json::array();
        for (const auto& element : value) copy.push_back(withIntegralNumbers(element));
        return copy;
    }
    return value;
}

bool holdsFloats(const Json& value) {
    if (value.is_number_float()) return true;
    if (value.is_structured()) {
        for (const auto& element : value) {
            if (holdsFloats(element)) return true;
        }
    }
    return false;
}

std::string withoutLibraryPrefix(std::string message) {
    // "[json.exception.parse_error.101] parse error at ..." → "parse error at ..."
    if (!message.empty() && message.front() == '[') {
        auto end = message.find("] ");
        if (end != std::string::npos) message.erase(0, end + 2);
    }
    return message;
}

}  // namespace

std::optional<std::string> sortedJson(const Json& value) {
    try {
        // Invalid UTF-8 is replaced, as the platform's strings never hold it.
        auto dump = [](const Json& written) {
            return written.dump(-1, ' ', false, Json::error_handler_t::replace);
        };
        return holdsFloats(value) ? dump(withIntegralNumbers(value)) : dump(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::string jsonLine(const Json& value) {
    return sortedJson(value).value_or("{}");
}

bool nestedDeeperThan(std::string_view text, std::size_t limit) {
    std::size_t depth = 0;
    bool inString = false, escaped = false;
    for (const char character : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (character == '\\') escaped = true;
            else if (character == '"') inString = false;
        } else if (character == '"') {
            inString = true;
        } else if (character == '[' || character == '{') {
            if (++depth > limit) return true;
        } else if ((character == ']' || character == '}') && depth > 0) {
            --depth;
        }
    }
    return false;
}

std::optional<Json> parsedJson(std::string_view text, std::string* why) {
    if (nestedDeeperThan(text)) {
        if (why) *why = "nested deeper than " + std::to_string(JSON_NESTING_LIMIT);
        return std::nullopt;
    }
    try {
        if (!why) {
            Json parsed = Json::parse(text.begin(), text.end(), nullptr, false);
            if (parsed.is_discarded()) return std::nullopt;
            return parsed;
        }
        return Json::parse(text.begin(), text.end());
    } catch (const std::exception& error) {
        if (why) *why = withoutLibraryPrefix(error.what());
        return std::nullopt;
    }
}

const std::string* stringMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

const Json* objectMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found != object.end() && found->is_object() ? &*found : nullptr;
}

const Json* arrayMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(key);
    return found != object.end() && found->is_array() ? &*found : nullptr;
}

namespace {

template <typename Integer>
std::optional<Integer> integerMember(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(key);
    if (found == object.end()) return std::nullopt;
    if (found->is_number_unsigned()) {
        auto value = found->get<std::uint64_t>();
        if (std::in_range<Integer>(value)) return static_cast<Integer>(value);
    } else if (found->is_number_integer()) {
        auto value = found->get<std::int64_t>();
        if (std::in_range<Integer>(value)) return static_cast<Integer>(value);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::int32_t> int32Member(const Json& object, const char* key) {
    return integerMember<std::int32_t>(object, key);
}

std::optional<std::uint32_t> uint32Member(const Json& object, const char* key) {
    return integerMember<std::uint32_t>(object, key);
}

std::optional<double> numberMember(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(key);
    if (found == object.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

std::optional<bool> boolMember(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(key);
    if (found == object.end() || !found->is_boolean()) return std::nullopt;
    return found->get<bool>();
}

bool isArrayOfObjects(const Json& value) {
    if (!value.is_array()) return false;
    for (const auto& element : value) {
        if (!element.is_object()) return false;
    }
    return true;
}

bool isArrayOfStrings(const Json& value) {
    if (!value.is_array()) return false;
    for (const auto& element : value) {
        if (!element.is_string()) return false;
    }
    return true;
}

}  // namespace host
