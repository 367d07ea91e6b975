// Property lists from outside: strings holding U+0000, keys that would make the plist library
// abort, and nesting that would exhaust the stack, in both forms.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/plist.h"

using namespace host;

namespace {

std::string bigEndian(std::uint64_t value, int bytes) {
    std::string out;
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift & 0xFF));
    return out;
}

// A binary list of these objects, the first on top; offsets and references take four bytes.
std::string binaryList(const std::vector<std::string>& objects) {
    std::string bytes = "bplist00";
    std::string table;
    for (const std::string& object : objects) {
        table += bigEndian(bytes.size(), 4);
        bytes += object;
    }
    const std::size_t tableAt = bytes.size();
    return bytes + table + std::string(6, '\0') + "\x04\x04" + bigEndian(objects.size(), 8) + bigEndian(0, 8) +
           bigEndian(tableAt, 8);
}

// A dictionary's count is of its keys; its references are the keys, then the values.
std::string container(unsigned kind, const std::vector<std::uint32_t>& references) {
    const std::size_t count = kind == 0xD ? references.size() / 2 : references.size();
    std::string object(1, static_cast<char>(kind << 4 | count));
    for (std::uint32_t reference : references) object += bigEndian(reference, 4);
    return object;
}
std::string array(const std::vector<std::uint32_t>& references) { return container(0xA, references); }
std::string dictionary(std::uint32_t key, std::uint32_t value) { return container(0xD, {key, value}); }
// Texts shorter than 15 characters, whose count fits the marker.
std::string ascii(const std::string& text) { return static_cast<char>(0x50 | text.size()) + text; }
std::string utf16(const std::u16string& text) {
    std::string object(1, static_cast<char>(0x60 | text.size()));
    for (char16_t unit : text) object += bigEndian(unit, 2);
    return object;
}

// Arrays inside one another, `depth` of them.
std::string binaryChain(std::uint32_t depth) {
    std::vector<std::string> objects;
    for (std::uint32_t level = 1; level < depth; ++level) objects.push_back(array({level}));
    objects.push_back(array({}));
    return binaryList(objects);
}

std::string xmlList(const std::string& body) {
    return R"(<?xml version="1.0" encoding="UTF-8"?><plist version="1.0">)" + body + "</plist>";
}
std::string xmlChain(std::size_t depth) {
    std::string open, close;
    for (std::size_t level = 0; level < depth; ++level) open += "<array>", close += "</array>";
    return xmlList(open + close);
}

TEST(PropertyList, StringsKeepUPlus0000AndKeysHoldingItAreRefused) {
    const std::u16string nul{u'\u00e9', u'\0', u'x'};
    auto value = parsedPropertyList(binaryList({dictionary(1, 2), ascii("name"), utf16(nul)}));
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["name"], std::string("\xc3\xa9\0x", 4)) << value->dump();
    EXPECT_EQ(parsedPropertyList(binaryList({dictionary(1, 2), utf16(nul), ascii("a")})), std::nullopt);
    auto plainKey = parsedPropertyList(binaryList({dictionary(1, 2), utf16({u'\u00e9', u'x'}), ascii("a")}));
    ASSERT_TRUE(plainKey);
    EXPECT_EQ((*plainKey)["\xc3\xa9x"], "a");
}

TEST(PropertyList, NestingPastTheLimitIsRefusedInBothForms) {
    const std::uint32_t limit = JSON_NESTING_LIMIT;
    const std::pair<std::string, bool> cases[] = {
        {binaryChain(limit), true},
        {binaryChain(limit + 1), false},
        {binaryChain(100000), false},
        {xmlChain(limit), true},
        {xmlChain(limit + 1), false},
        {xmlChain(200000), false},
        {xmlList("<array>" + [] {
             std::string empties;
             for (int k = 0; k < 1000; ++k) empties += "<array/><dict/><array />";
             return empties;
         }() + "</array>"),
         true},
    };
    for (const auto& [bytes, readable] : cases) EXPECT_EQ(parsedPropertyList(bytes).has_value(), readable) << bytes.size();
}

// Each level refers twice to the next: a few kilobytes that stand for 2^400 values are refused,
// and telling so walks each container once.
TEST(PropertyList, SharedContainersCountOncePerReference) {
    auto doubling = [](std::uint32_t levels) {
        std::vector<std::string> objects;
        for (std::uint32_t level = 1; level < levels; ++level) objects.push_back(array({level, level}));
        objects.push_back(array({}));
        return binaryList(objects);
    };
    EXPECT_TRUE(parsedPropertyList(doubling(12)));
    EXPECT_EQ(parsedPropertyList(doubling(400)), std::nullopt);
}

}  // namespace
