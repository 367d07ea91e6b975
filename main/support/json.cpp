#include "support/json.h"

#include "support/json-fast-reading.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

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

namespace {

// Builds the kept members as the parser's own tree builder would (a later duplicate name
// replacing an earlier one) and counts the depth of all of them, kept or not.
class ObjectKeeping final : public Json::json_sax_t {
public:
    ObjectKeeping(bool (*keeps)(std::string_view), const MembersSetAside* aside) : keeps_(keeps), aside_(aside) {}
    Json object;

    bool null() override { return scalar(nullptr); }
    bool boolean(bool value) override { return scalar(value); }
    bool number_integer(number_integer_t value) override { return scalar(value); }
    bool number_unsigned(number_unsigned_t value) override { return scalar(value); }
    bool number_float(number_float_t value, const string_t&) override { return scalar(value); }
    bool string(string_t& value) override { return scalar(std::move(value)); }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return open(Json::value_t::object); }
    bool start_array(std::size_t) override { return open(Json::value_t::array); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }
    bool key(string_t& name) override {
        if (skipped_ > 0) return true;
        Json& member = (*building_.back())[name];
        member = nullptr;
        skipNext_ = building_.size() == 1 && !keeps_(name) && !setAside(name);
        member_ = &member;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    template <typename Value>
    bool scalar(Value&& value) {
        if (skipped_ > 0 || std::exchange(skipNext_, false)) return true;
        place(Json(std::forward<Value>(value)));
        return true;
    }
    bool open(Json::value_t type) {
        if (++depth_ > JSON_NESTING_LIMIT) return false;
        if (skipped_ > 0 || std::exchange(skipNext_, false)) return ++skipped_, true;
        Json* opened = place(Json(type));
        if (building_.empty() && !opened->is_object()) return false;
        building_.push_back(opened);
        return true;
    }
    bool close() {
        --depth_;
        if (skipped_ > 0) return --skipped_, true;
        building_.pop_back();
        return true;
    }
    Json* place(Json&& value) {
        if (building_.empty()) {
            object = std::move(value);
            return &object;
        }
        Json& parent = *building_.back();
        if (!parent.is_array()) return &(*member_ = std::move(value));
        parent.push_back(std::move(value));
        return &parent.back();
    }

    bool setAside(const std::string& name) const {
        return aside_ && ((aside_->writtenName && name == aside_->writtenName) || (aside_->flatName && name == aside_->flatName));
    }

    bool (*keeps_)(std::string_view);
    const MembersSetAside* aside_;
    std::vector<Json*> building_;
    Json* member_ = nullptr;
    std::size_t depth_ = 0, skipped_ = 0;
    bool skipNext_ = false;
};

}  // namespace

std::optional<Json> objectKeeping(std::string_view text, bool (*keeps)(std::string_view name), MembersSetAside* aside) {
    Json object;
    switch (readObjectKeeping(text, keeps, aside, object)) {
    case FastReading::read: return object;
    case FastReading::notAnObject: return std::nullopt;
    case FastReading::refused: break;
    }
    return objectKeepingByTheLibrary(text, keeps, aside);
}

std::optional<Json> objectKeepingByTheLibrary(std::string_view text, bool (*keeps)(std::string_view name),
                                              MembersSetAside* aside) {
    ObjectKeeping builder(keeps, aside);
    if (!Json::sax_parse(text.begin(), text.end(), &builder) || !builder.object.is_object()) return std::nullopt;
    if (!aside) return std::move(builder.object);
    if (aside->writtenName) {
        if (auto found = builder.object.find(aside->writtenName); found != builder.object.end()) {
            aside->written = WrittenMember{sortedJson(*found), isArrayOfObjects(*found)};
            *found = nullptr;
        }
    }
    if (aside->flatName) {
        if (auto found = builder.object.find(aside->flatName); found != builder.object.end()) {
            aside->flat = flatObjectsOf(*found);
            *found = nullptr;
        }
    }
    return std::move(builder.object);
}

FlatObject::FlatObject(const Json& object) {
    if (!object.is_object()) return;
    members_.reserve(object.size());
    bool other = false;
    for (const auto& [name, value] : object.items()) {
        if (value.is_string()) members_.push_back({name, value.get_ref<const std::string&>(), false, false});
        else if (value.is_boolean()) members_.push_back({name, {}, true, value.get<bool>()});
        else other = other || !value.is_null();
    }
    if (other) setWhole(object);
}

void FlatObject::remove(std::string_view name) {
    std::erase_if(members_, [name](const Member& member) { return member.name == name; });
}

void FlatObject::setString(std::string_view name, std::string_view text) {
    remove(name);
    members_.push_back({std::string(name), std::string(text), false, false});
}

void FlatObject::setBoolean(std::string_view name, bool value) {
    remove(name);
    members_.push_back({std::string(name), {}, true, value});
}

const std::string* FlatObject::string(std::string_view name) const {
    for (const Member& member : members_) {
        if (member.name == name) return member.isBoolean ? nullptr : &member.text;
    }
    return nullptr;
}

std::optional<bool> FlatObject::boolean(std::string_view name) const {
    for (const Member& member : members_) {
        if (member.name == name) return member.isBoolean ? std::optional<bool>(member.flag) : std::nullopt;
    }
    return std::nullopt;
}

std::optional<FlatObjects> flatObjectsOf(const Json& array) {
    if (!isArrayOfObjects(array)) return std::nullopt;
    FlatObjects objects;
    objects.reserve(array.size());
    for (const Json& object : array) objects.emplace_back(object);
    return objects;
}

const std::string* stringMember(const FlatObject& object, const char* key) { return object.string(key); }

std::optional<bool> boolMember(const FlatObject& object, const char* key) { return object.boolean(key); }

std::optional<double> numberMember(const FlatObject& object, const char* key) {
    return object.whole() ? numberMember(*object.whole(), key) : std::nullopt;
}

const Json* arrayMember(const FlatObject& object, const char* key) {
    return object.whole() ? arrayMember(*object.whole(), key) : nullptr;
}

// Most text needs no escape: it is copied as it stands.
std::string& appendQuoted(std::string& out, std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
    if (!plain) return out += Json(std::string(text)).dump(-1, ' ', false, Json::error_handler_t::replace);
    out.push_back('"');
    out.append(text);
    out.push_back('"');
    return out;
}

// Members are found by a view of the name: the name as a C string would be measured again at
// every comparison of the search.
const std::string* stringMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(std::string_view(key));
    return found != object.end() && found->is_string() ? found->get_ptr<const std::string*>() : nullptr;
}

const Json* objectMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(std::string_view(key));
    return found != object.end() && found->is_object() ? &*found : nullptr;
}

const Json* arrayMember(const Json& object, const char* key) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(std::string_view(key));
    return found != object.end() && found->is_array() ? &*found : nullptr;
}

namespace {

template <typename Integer>
std::optional<Integer> integerMember(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(std::string_view(key));
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
    auto found = object.find(std::string_view(key));
    if (found == object.end() || !found->is_number()) return std::nullopt;
    return found->get<double>();
}

std::optional<bool> boolMember(const Json& object, const char* key) {
    if (!object.is_object()) return std::nullopt;
    auto found = object.find(std::string_view(key));
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
