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

// An object whose marker (kind and count) is followed by references to these objects.
std::string container(char marker, const std::vector<std::uint32_t>& references) {
    std::string object(1, marker);
    for (std::uint32_t reference : references) object += bigEndian(reference, 4);
    return object;
}

// Arrays inside one another, `depth` of them, each referring `fanOut` times to the next.
std::string binaryChain(std::uint32_t depth, std::uint32_t fanOut = 1) {
    std::vector<std::string> objects;
    for (std::uint32_t level = 1; level < depth; ++level) {
        objects.push_back(container(static_cast<char>(0xA0 | fanOut), std::vector<std::uint32_t>(fanOut, level)));
    }
    objects.push_back(container('\xA0', {}));
    return binaryList(objects);
}

std::string repeated(const std::string& text, std::size_t times) {
    std::string all;
    for (std::size_t time = 0; time < times; ++time) all += text;
    return all;
}
std::string xmlList(const std::string& body) { return R"(<?xml version="1.0"?><plist version="1.0">)" + body + "</plist>"; }
std::string xmlChain(std::size_t depth) { return xmlList(repeated("<array>", depth) + repeated("</array>", depth)); }

// Strings of UTF-16 units: "é", U+0000, "x"; "é", "x"; and "name" in ASCII.
TEST(PropertyList, StringsKeepUPlus0000AndKeysHoldingItAreRefused) {
    const std::string withNul("\x63\x00\xe9\x00\x00\x00\x78", 7), plain("\x62\x00\xe9\x00\x78", 5), name = "\x54name";
    auto value = parsedPropertyList(binaryList({container('\xD1', {1, 2}), name, withNul}));
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["name"], std::string("\xc3\xa9\0x", 4));
    EXPECT_EQ(parsedPropertyList(binaryList({container('\xD1', {1, 2}), withNul, name})), std::nullopt);
    auto plainKey = parsedPropertyList(binaryList({container('\xD1', {1, 2}), plain, name}));
    ASSERT_TRUE(plainKey);
    EXPECT_EQ((*plainKey)["\xc3\xa9x"], "name");
}

// In both forms; the empty forms of containers open no level. A binary list whose every level
// refers twice to the next stands for 2^depth values: a few kilobytes for 2^400 are refused, and
// telling so walks each container once.
TEST(PropertyList, NestingPastTheLimitAndSharedContainersPastTheMostValuesAreRefused) {
    const std::uint32_t limit = JSON_NESTING_LIMIT;
    const std::pair<std::string, bool> cases[] = {
        {binaryChain(limit), true},     {binaryChain(limit + 1), false}, {binaryChain(100000), false},
        {xmlChain(limit), true},        {xmlChain(limit + 1), false},    {xmlChain(200000), false},
        {xmlList("<array>" + repeated("<array/><dict/><array />", 1000) + "</array>"), true},
        {binaryChain(12, 2), true},     {binaryChain(400, 2), false},
    };
    for (const auto& [bytes, readable] : cases) EXPECT_EQ(parsedPropertyList(bytes).has_value(), readable) << bytes.size();
}

}  // namespace
