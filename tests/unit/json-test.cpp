// The JSON the host reads in part and writes by hand must agree with the library's own reading
// and writing of the same text.
#include "support/json.h"

#include <gtest/gtest.h>

namespace host {
namespace {

bool keepsAOrB(std::string_view name) { return name == "a" || name == "b"; }

// The object parsed whole, with every member but "a" and "b" made null.
std::optional<Json> expectedKeeping(const std::string& text) {
    auto whole = parsedJson(text);
    if (!whole || !whole->is_object()) return std::nullopt;
    for (auto& [name, value] : whole->items()) {
        if (!keepsAOrB(name)) value = nullptr;
    }
    return whole;
}

TEST(ObjectKeeping, KeepsTheNamedMembersAsTheParserReadsThemAndOnlyTheNamesOfTheRest) {
    const std::string deep = std::string(JSON_NESTING_LIMIT, '[') + std::string(JSON_NESTING_LIMIT, ']');
    const std::string tooDeep = "[" + deep + "]";
    for (const std::string& text : std::vector<std::string>{
             R"({"a":{"x":[1,{"y":null}],"z":"w"},"b":[[],{}],"c":{"a":1}})",
             R"({"a":1.5,"b":-7,"c":[1,2],"d":"e","a":"again"})",  // a later duplicate replaces
             R"( {"\u0061":"escaped","c":{"b":{"c":1}}} )", R"({"b":18446744073709551615,"c":true})",
             "{}", R"({"c":)" + deep + "}", R"({"a":)" + deep.substr(1, deep.size() - 2) + "}",
             R"({"c":)" + tooDeep + "}", R"({"a":)" + tooDeep + "}", "[1]", "12", "", "{", R"({"a":1} x)",
             "{\"a\":\"\xff\"}", R"({"a":1,})"}) {
        EXPECT_EQ(objectKeeping(text, keepsAOrB), expectedKeeping(text)) << text;
    }
}

TEST(AppendQuoted, WritesEachStringAsTheSerialiserDoes) {
    for (const std::string& text : std::vector<std::string>{"", "demo://open/1?x=1&y=2#f", "quote \" and \\ back", "tab\tnew\nline\x01\x1f\x7f",
                                   "caf\xc3\xa9 \xe2\x8c\x98", "bad \xff\xfe utf-8 \xc3", std::string("nul\0byte", 8)}) {
        std::string out = "<";
        appendQuoted(out, text);
        EXPECT_EQ(out, "<" + Json(text).dump(-1, ' ', false, Json::error_handler_t::replace)) << text;
    }
}

}  // namespace
}  // namespace host
