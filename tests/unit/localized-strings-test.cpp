// Preferred languages from the environment, .strings tables in every form, and which table wins.
#include <gtest/gtest.h>

#include <map>

#include "bundle-fixture.h"
#include "platform/localized-strings.h"

using namespace host::platform;
using testing_support::binaryPropertyList;
using testing_support::Json;
using testing_support::TemporaryFolder;
using testing_support::writeText;
using testing_support::xmlPropertyList;

namespace {

namespace fs = std::filesystem;
using Table = std::map<std::string, std::string>;
using Environment = std::map<std::string, std::string>;

std::vector<std::string> languagesFor(const Environment& environment) {
    return preferredLanguagesOf([&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    });
}

// UTF-16 bytes with a byte-order mark, in either byte order.
std::string utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char16_t unit : text) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

TEST(PreferredLanguages, FromTheEnvironment) {
    struct Case {
        Environment environment;
        std::vector<std::string> expected;
    } cases[] = {
        {{{"LANGUAGE", "tr_TR:de:en_US"}, {"LANG", "fr_FR.UTF-8"}}, {"tr-TR", "de", "en-US"}},
        {{{"LANGUAGE", ""}, {"LANG", "fr_FR.UTF-8"}}, {"fr-FR"}},
        {{{"LANG", "tr_TR.UTF-8@euro"}}, {"tr-TR"}},
        {{{"LC_ALL", "pt_BR.utf8"}, {"LC_MESSAGES", "de_DE"}, {"LANG", "fr_FR"}}, {"pt-BR"}},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "de_DE"}, {"LANG", "fr_FR"}}, {"de-DE"}},
        {{{"LANG", "C"}}, {}},
        {{{"LANG", "C.UTF-8"}}, {}},
        {{{"LANG", "POSIX"}}, {}},
        {{{"LC_ALL", "C"}, {"LANG", "fr_FR"}}, {}},  // LC_ALL overrides LANG even when it is C
        {{{"LANGUAGE", "C:POSIX"}, {"LANG", "es_ES.UTF-8"}}, {"es-ES"}},
        {{{"LANGUAGE", "fr::fr_FR:fr:C"}}, {"fr", "fr-FR"}},
        {{{"LANGUAGE", "sr_RS@latin:zh_hans_cn"}}, {"sr-RS", "zh-Hans-CN"}},
        {{{"LANGUAGE", "EN_gb"}}, {"en-GB"}},
        {{{"LANGUAGE", "x:1a:en_:../../etc:de"}}, {"de"}},
        {{}, {}},
    };
    for (const auto& c : cases) {
        std::string described;
        for (const auto& [name, value] : c.environment) described += name + "=" + value + " ";
        EXPECT_EQ(languagesFor(c.environment), c.expected) << described;
    }
}

TEST(StringsTable, PropertyLists) {
    Json dictionary = {{"Quit", "Çık"}, {"Open", "Aç"}, {"count", 3}};
    Table expected = {{"Open", "Aç"}, {"Quit", "Çık"}};  // values of other types are no translations
    EXPECT_EQ(parsedStringsTable(xmlPropertyList(dictionary)), expected);
    EXPECT_EQ(parsedStringsTable(binaryPropertyList(dictionary)), expected);
    EXPECT_EQ(parsedStringsTable("\xEF\xBB\xBF" + xmlPropertyList(dictionary)), expected);
    EXPECT_EQ(parsedStringsTable(xmlPropertyList(Json::array({"Quit"}))), std::nullopt);
    EXPECT_EQ(parsedStringsTable(binaryPropertyList("Quit")), std::nullopt);
}

TEST(StringsTable, OldStyleTextWithCommentsAndEscapes) {
    std::string text = R"(/* A header
   spanning lines */
"Quit" = "Çık";   // trailing comment
"say" = "She said \"hi\"\\ \n\tok\r";
"slashes // stay" = "/* in strings */";
unquoted_key.v2-x/y = bare.value_1;
"Pi" = "\U03C0 \U00e9 \UD83D\UDE00 \UD83D alone";
"Same";
"Quit" = "Çıkış";
"empty" = "";
)";
    Table expected = {
        {"Quit", "Çıkış"},  // the later entry wins
        {"say", "She said \"hi\"\\ \n\tok\r"},
        {"slashes // stay", "/* in strings */"},
        {"unquoted_key.v2-x/y", "bare.value_1"},
        {"Pi", "π é 😀 \uFFFD alone"},
        {"Same", "Same"},
        {"empty", ""},
    };
    EXPECT_EQ(parsedStringsTable(text), expected);
    EXPECT_EQ(parsedStringsTable("{ \"a\" = \"b\"; c = d; }\n"), (Table{{"a", "b"}, {"c", "d"}}));
    EXPECT_EQ(parsedStringsTable(""), Table{});
    EXPECT_EQ(parsedStringsTable("  /* only a comment */\n"), Table{});
}

TEST(StringsTable, Utf16WithAByteOrderMark) {
    std::u16string text = u"/* ü */\n\"Quit\" = \"Çık\";\n\"Smile\" = \"😀\";\n";
    Table expected = {{"Quit", "Çık"}, {"Smile", "😀"}};
    EXPECT_EQ(parsedStringsTable(utf16(text, false)), expected);
    EXPECT_EQ(parsedStringsTable(utf16(text, true)), expected);
    EXPECT_EQ(parsedStringsTable(utf16(text, false) + "\x41"), std::nullopt);  // half a code unit
}

TEST(StringsTable, MalformedInputIsNoTable) {
    const std::string malformed[] = {
        "\"a\" = \"b\"",          // no semicolon
        "\"a\" = ;",              // no value
        "\"a\" = \"unterminated;",
        "\"a\" \"b\";",
        "= \"b\";",
        "\"a\" = \"b\"; /* open comment",
        "{ \"a\" = \"b\";",       // no closing brace
        "\"a\" = \"b\"; }",
        "{ \"a\" = \"b\"; } extra",
        "\"a\" = \"\\U\";",       // no hex digits
        "\"a\" = \"b\\",
        "\"a\" = \"\xC3\";",      // invalid UTF-8
        "key with spaces = x;",
        "<plist><dict><key>a</key>",
        "bplist00 truncated",
        std::string("\"a\" = \"b\0\";", 11),
    };
    for (const auto& bytes : malformed) EXPECT_EQ(parsedStringsTable(bytes), std::nullopt) << bytes;
}

class LocalizedStringsTest : public ::testing::Test {
protected:
    void table(const std::string& language, const std::string& text) const {
        writeText(resources() / (language + ".lproj") / "Localizable.strings", text);
    }
    fs::path resources() const { return folder.path() / "Resources"; }

    TemporaryFolder folder;
};

TEST_F(LocalizedStringsTest, LookupOrder) {
    table("en", "\"Quit\" = \"Quit (en)\"; \"Help\" = \"Help (en)\"; \"Only en\" = \"en\";");
    table("Base", "\"Quit\" = \"Quit (Base)\"; \"Help\" = \"Help (Base)\";");
    table("tr", "\"Quit\" = \"Çık\";");
    table("pt", "\"Quit\" = \"Sair (pt)\"; \"Open\" = \"Abrir (pt)\";");
    table("pt_BR", "\"Quit\" = \"Sair (pt_BR)\";");
    table("zh-Hans", "\"Quit\" = \"退出\";");
    table("fr", xmlPropertyList({{"Quit", "Quitter"}}));
    writeText(folder.path() / "outside.lproj" / "Localizable.strings", "\"Quit\" = \"outside\";");
    struct Case {
        std::vector<std::string> languages;
        const char* key;
        const char* expected;
    } cases[] = {
        {{"tr-TR", "fr"}, "Quit", "Çık"},        // the region falls back to the language
        {{"fr", "tr"}, "Quit", "Quitter"},       // the first preferred language wins
        {{"tr"}, "Help", "Help (Base)"},         // Base before en
        {{"tr"}, "Only en", "en"},
        {{"pt-BR"}, "Quit", "Sair (pt_BR)"},     // the underscore spelling of the tag
        {{"pt-BR"}, "Open", "Abrir (pt)"},       // then the language alone
        {{"zh-Hans-CN"}, "Quit", "退出"},
        {{"de", "tr"}, "Quit", "Çık"},           // a language without a folder is passed over
        {{}, "Quit", "Quit (Base)"},
        {{"tr"}, "Nowhere", "Nowhere"},          // the key itself when no table has it
        {{"../outside"}, "Quit", "Quit (Base)"}, // a tag never leads out of the resources
    };
    for (const auto& c : cases) {
        std::string described;
        for (const auto& language : c.languages) described += language + " ";
        EXPECT_EQ(localizedString(resources(), c.key, c.languages), c.expected) << described << c.key;
    }
}

TEST_F(LocalizedStringsTest, AMalformedTableIsPassedOver) {
    table("de", "\"Quit\" = \"Beenden\"");  // no semicolon
    table("Base", "\"Quit\" = \"Quit (Base)\";");
    EXPECT_EQ(localizedString(resources(), "Quit", {"de"}), "Quit (Base)");
    fs::create_directories(resources() / "it.lproj" / "Localizable.strings");  // a folder, not a file
    EXPECT_EQ(localizedString(resources(), "Quit", {"it"}), "Quit (Base)");
    EXPECT_EQ(localizedString(folder.path() / "no-resources", "Quit", {"de"}), "Quit");
}

}  // namespace
