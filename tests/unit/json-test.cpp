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
        EXPECT_EQ(objectKeepingByTheLibrary(text, keepsAOrB), expectedKeeping(text)) << "by the library: " << text;
    }
}

// Numbers, escapes and malformed texts, which RapidJSON reads or refuses on its own: each kept
// as the library reads it, by either reader.
TEST(ObjectKeeping, AgreesWithTheLibraryOnNumbersEscapesAndMalformedText) {
    for (const std::string& text : std::vector<std::string>{
             R"({"a":-0,"b":[0,-1,9223372036854775807,9223372036854775808,-9223372036854775808]})",
             R"({"a":18446744073709551616,"b":-9223372036854775809})", R"({"a":1e400})", R"({"a":1e-400,"b":-0.0})",
             R"({"a":0e57,"b":[-0.00E-3,10e2,0.5e1]})", "{\"a\":\"" + std::string(40, 'x') + "\x1e\"}",
             R"({"a":[1.0,2.5e3,1E2,0.1,-1.5e-7]})", R"({"a":"\ud83d\ude00 \u00e9 \u0000 \/"})", R"({"a":"\ud800"})",
             R"({"a":"\udc00"})", R"({"a":"\ud800x"})", R"({"a":01})", R"({"a":1.})", R"({"a":.5})", R"({"a":tru})",
             R"({"a":1} {})", "{\"a\":\"tab\there\"}", "{\"a\":\"\x7f\"}", "{\"a\":\"\xc3\"}", R"({"":1,"a":{"":2,"a":3,"a":4}})",
             " \t\r\n{\"b\":true}\n", R"({"a":[1,2,]})", R"({"a" 1})", std::string("{\"a\":\"x\0y\"}", 12),
             std::string("{\"a\":1}\0", 8), R"({"a":"\\ud800 is text"})"}) {
        // The longest is past what a reading keeps: its room is given back.
        for (const std::string& read : {text, std::string(300 << 10, ' ') + text}) {
            EXPECT_EQ(objectKeeping(read, keepsAOrB), expectedKeeping(text)) << read.size() << ": " << text;
            EXPECT_EQ(objectKeepingByTheLibrary(read, keepsAOrB), expectedKeeping(text)) << read.size() << ": " << text;
        }
    }
}

// Each row of a flat member finds every member as the tree's own accessors find it.
void expectFoundAlike(const FlatObject& flat, const Json& row, const std::string& read) {
    for (const auto& [name, value] : row.items()) {
        const std::string* text = stringMember(row, name.c_str());
        const std::string* flatText = stringMember(flat, name.c_str());
        EXPECT_EQ(text ? std::optional(*text) : std::nullopt, flatText ? std::optional(*flatText) : std::nullopt) << name << " in " << read;
        EXPECT_EQ(boolMember(row, name.c_str()), boolMember(flat, name.c_str())) << name << " in " << read;
        EXPECT_EQ(numberMember(row, name.c_str()), numberMember(flat, name.c_str())) << name << " in " << read;
        const Json* array = arrayMember(row, name.c_str());
        const Json* flatArray = arrayMember(flat, name.c_str());
        EXPECT_EQ(array ? *array : Json(), flatArray ? *flatArray : Json()) << name << " in " << read;
    }
}

// Members set aside are null in the object, by either reader. A written one comes back as the
// text sortedJson gives (sorted keys, the last of duplicates, integral floats as integers,
// escapes); a flat one as rows whose members are found as in the tree.
TEST(ObjectKeeping, SetsAsideAWrittenAndAFlatMemberAsTheTreeHasThem) {
    std::string manyMembers = R"([{"k7":"first")";  // more members than a row has, a duplicate among them
    for (int n = 70; n >= 0; --n) manyMembers += ",\"k" + std::to_string(n) + "\":" + (n % 3 ? std::to_string(n) : "\"t\"");
    manyMembers += "}]";
    for (const std::string& member : std::vector<std::string>{manyMembers,
             R"([{"title":"Caf\u00e9 \u2318K","id":"a","enabled":true},{"kind":"separator"}])",
             R"([{"z":1,"b":2.0,"a":[{"y":1.5,"x":-0.0}],"b":3}])", R"([{"t":"q\"b\\s\/\b\f\n\r\t\u0001\u001f\u007f"}])",
             R"([{"id":"p","parent":"s","submenu":true,"rows":[[],{},null,false]}])", R"([{"n":1e300,"m":123456789012345678}])",
             R"([{"big":18446744073709551615,"neg":-9223372036854775808,"f":1e15,"g":9e15,"h":0.30000000000000004}])",
             R"([{"title":"A","title":5,"x":null,"enabled":true,"enabled":"no"},{"title":5,"title":"B","hidden":false}])",
             R"([{"kind":"header","pointSize":16,"weight":0.3,"submenuFileBranch":["a"],"id":null}])",
             R"([{"\u00e9":1,"e":2,"E":3,"":4}])", R"([])", R"([1,"x"])", R"([{},2])", R"({"a":1})", R"("text")"}) {
        const std::string text = R"({"b":1,"publication":)" + member + R"(,"rows":)" + member + R"(,"c":2})";
        const Json whole = *parsedJson(text);
        const Json& rows = whole.at("rows");
        for (auto keeping : {objectKeeping, objectKeepingByTheLibrary}) {
            MembersSetAside aside{"publication", std::nullopt, "rows", std::nullopt};
            std::optional<Json> kept = keeping(text, keepsAOrB, &aside);
            ASSERT_TRUE(kept && aside.written) << text;
            EXPECT_EQ(kept->at("publication"), nullptr) << text;
            EXPECT_EQ(kept->at("rows"), nullptr) << text;
            EXPECT_EQ(kept->at("b"), 1) << text;
            EXPECT_EQ(aside.written->sorted, sortedJson(whole.at("publication"))) << text;
            EXPECT_EQ(aside.written->isArrayOfObjects, isArrayOfObjects(whole.at("publication"))) << text;
            ASSERT_EQ(aside.flat.has_value(), isArrayOfObjects(rows)) << text;
            if (!aside.flat) continue;
            ASSERT_EQ(aside.flat->size(), rows.size()) << text;
            for (std::size_t n = 0; n < rows.size(); ++n) expectFoundAlike((*aside.flat)[n], rows[n], text);
        }
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
