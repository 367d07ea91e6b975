// JSON helpers shared by every subsystem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

// One object read flat, for a reader of a few of its members many times over (a menu's rows):
// its string and boolean members, each found as stringMember and boolMember find it, and the
// object whole only when it has members of other types (numbers, arrays, objects), which
// numberMember and arrayMember then find there. A null member is no member.
class FlatObject {
public:
    FlatObject() = default;
    explicit FlatObject(const Json& object);
    // Replaces a member of that name: a later duplicate wins, as in the parser's tree.
    void setString(std::string_view name, std::string_view text);
    void setBoolean(std::string_view name, bool value);
    void remove(std::string_view name);
    void reserve(std::size_t members) { members_.reserve(members); }

    const std::string* string(std::string_view name) const;
    std::optional<bool> boolean(std::string_view name) const;
    const Json* whole() const { return whole_.get(); }
    void setWhole(Json object) { whole_ = std::make_shared<const Json>(std::move(object)); }

    struct Member {
        std::string name, text;  // text: a string member's
        bool isBoolean = false, flag = false;
    };
    const std::vector<Member>& members() const { return members_; }

private:
    std::vector<Member> members_;
    std::shared_ptr<const Json> whole_;  // shared: rows are copied when a branch is redrawn
};
using FlatObjects = std::vector<FlatObject>;

// Each object of the array read flat; none when it is not an array of objects.
std::optional<FlatObjects> flatObjectsOf(const Json& array);

const std::string* stringMember(const FlatObject& object, const char* key);
std::optional<bool> boolMember(const FlatObject& object, const char* key);
std::optional<double> numberMember(const FlatObject& object, const char* key);
const Json* arrayMember(const FlatObject& object, const char* key);

// Members objectKeeping hands back in another form than a value; each is null in the object.
struct MembersSetAside {
    // Written out (see WrittenMember).
    const char* writtenName = nullptr;
    std::optional<WrittenMember> written;
    // An array of objects read flat; none when the member is anything else.
    const char* flatName = nullptr;
    std::optional<FlatObjects> flat;
};

// One JSON object with only the members whose names `keeps` accepts parsed: every other member
// is there with a null value, so the object's size and names are the whole one's. None when
// the text is not one JSON object or nests deeper than JSON_NESTING_LIMIT; no deeper value is
// built. The members `aside` names, when there are, are null in the object too and handed back
// there (a later duplicate replacing an earlier one). No exception is thrown on the way. The text
// is read by RapidJSON, which agrees with nlohmann-json's reading and is several times faster;
// what RapidJSON would read otherwise or refuses is read by nlohmann-json.
std::optional<Json> objectKeeping(std::string_view text, bool (*keeps)(std::string_view name),
                                  MembersSetAside* aside = nullptr);
// The same by nlohmann-json alone: what objectKeeping falls back to, and is checked against.
std::optional<Json> objectKeepingByTheLibrary(std::string_view text, bool (*keeps)(std::string_view name),
                                              MembersSetAside* aside = nullptr);

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
