// The user's settings file: where it lives, how values read back, and how writes replace it.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "platform/user-defaults.h"

using namespace host;
using platform::UserDefaults;
using testing_support::readText;
using testing_support::TemporaryFolder;
using testing_support::writeText;

namespace {

namespace fs = std::filesystem;

class UserDefaultsTest : public ::testing::Test {
protected:
    fs::path file() const { return folder.path() / "config" / "app.example.demo" / "user-defaults.json"; }

    TemporaryFolder folder;
};

TEST(UserDefaults, FileFollowsXdgConfigHomeThenHome) {
    struct Case {
        const char* identity;
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"app.id", "/x/config", "/h", "/x/config/app.id/user-defaults.json"},
        {"app.id", nullptr, "/h", "/h/.config/app.id/user-defaults.json"},
        {"app.id", "", "/h", "/h/.config/app.id/user-defaults.json"},
        {"app.id", "relative/config", "/h", "/h/.config/app.id/user-defaults.json"},
        {"app.id", "/x/config", nullptr, "/x/config/app.id/user-defaults.json"},
        {"app.id", nullptr, nullptr, ""},
        {"app.id", "", "", ""},
        {"app.id", nullptr, "relative-home", ""},
        {"", "/x/config", "/h", ""},
        {"..", "/x/config", "/h", ""},
        {"../elsewhere", "/x/config", "/h", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UserDefaults::fileFor(c.identity, c.xdg, c.home), fs::path(c.expected))
            << c.identity << " " << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

TEST_F(UserDefaultsTest, ValuesPersistAcrossInstancesInASortedFile) {
    std::string error;
    {
        UserDefaults writer(file());
        ASSERT_TRUE(writer.set("zeta", "last", &error)) << error;
        ASSERT_TRUE(writer.set("alpha", 1.0, &error)) << error;
        ASSERT_TRUE(writer.set("nested", {{"b", true}, {"a", {1, 2}}}, &error)) << error;
    }
    UserDefaults reader(file());
    EXPECT_EQ(reader.value("zeta"), Json("last"));
    EXPECT_EQ(reader.value("nested"), Json({{"a", {1, 2}}, {"b", true}}));
    EXPECT_FALSE(reader.value("missing"));
    EXPECT_EQ(readText(file()), "{\"alpha\":1,\"nested\":{\"a\":[1,2],\"b\":true},\"zeta\":\"last\"}\n");
}

TEST_F(UserDefaultsTest, ReadsSeeChangesMadeByAnotherWriter) {
    UserDefaults defaults(file());
    writeText(file(), R"({"theme":"dark"})");
    EXPECT_EQ(defaults.stringValue("theme"), "dark");
    writeText(file(), R"({"theme":"light"})");
    EXPECT_EQ(defaults.stringValue("theme"), "light");
}

TEST_F(UserDefaultsTest, SetReplacesTheFileAndKeepsTheOtherKeys) {
    writeText(file(), R"({"kept":{"deep":[1]},"changed":1})");
    UserDefaults defaults(file());
    ASSERT_TRUE(defaults.set("changed", 2));
    ASSERT_TRUE(defaults.set("added", "yes"));
    EXPECT_EQ(readText(file()), "{\"added\":\"yes\",\"changed\":2,\"kept\":{\"deep\":[1]}}\n");
    // Only the file itself is left in the folder: no temporary beside it.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(file().parent_path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"user-defaults.json"});
}

TEST_F(UserDefaultsTest, RemoveDropsOnlyThatKey) {
    UserDefaults defaults(file());
    ASSERT_TRUE(defaults.set("a", 1));
    ASSERT_TRUE(defaults.set("b", 2));
    ASSERT_TRUE(defaults.remove("a"));
    EXPECT_FALSE(defaults.value("a"));
    EXPECT_EQ(defaults.value("b"), Json(2));
    EXPECT_TRUE(defaults.remove("never-set"));
    ASSERT_TRUE(defaults.set("b", nullptr));  // null removes, as setting nil does
    EXPECT_EQ(readText(file()), "{}\n");
}

TEST_F(UserDefaultsTest, RemovingFromNoFileWritesNothing) {
    UserDefaults defaults(file());
    EXPECT_TRUE(defaults.remove("anything"));
    EXPECT_FALSE(fs::exists(file()));
}

TEST_F(UserDefaultsTest, BoolValueCoercesLikeThePlatform) {
    struct Case {
        Json stored;
        bool expected;
    } cases[] = {
        {true, true},      {false, false},    {1, true},        {0, false},       {-3, true},
        {0.5, true},       {0.0, false},      {"YES", true},    {"yes", true},    {"Yes", true},
        {"true", true},    {"TRUE", true},    {"1", true},      {"42", true},     {" 7 apples", true},
        {"-2", true},      {"0", false},      {"000", false},   {"NO", false},    {"false", false},
        {"", false},       {"yessir", false}, {"abc", false},   {Json::array({1}), false},
        {Json::object({{"a", 1}}), false},
    };
    UserDefaults defaults(file());
    for (const auto& c : cases) {
        ASSERT_TRUE(defaults.set("flag", c.stored));
        EXPECT_EQ(defaults.boolValue("flag"), c.expected) << c.stored.dump();
    }
    EXPECT_FALSE(defaults.boolValue("absent"));
}

TEST_F(UserDefaultsTest, StringValueGivesStringsAndNumbers) {
    struct Case {
        Json stored;
        std::optional<std::string> expected;
    } cases[] = {
        {"text", "text"}, {12, "12"}, {2.5, "2.5"}, {true, "1"}, {false, "0"},
        {Json::array({"a"}), std::nullopt}, {Json::object(), std::nullopt},
    };
    UserDefaults defaults(file());
    for (const auto& c : cases) {
        ASSERT_TRUE(defaults.set("key", c.stored));
        EXPECT_EQ(defaults.stringValue("key"), c.expected) << c.stored.dump();
    }
    EXPECT_EQ(defaults.stringValue("absent"), std::nullopt);
}

TEST_F(UserDefaultsTest, ABrokenFileReadsAsEmptyAndIsReplacedOnSet) {
    for (const char* broken : {"not json {", "[1,2]", "\"text\"", ""}) {
        writeText(file(), broken);
        UserDefaults defaults(file());
        EXPECT_FALSE(defaults.value("0")) << broken;
        EXPECT_FALSE(defaults.boolValue("0")) << broken;
        std::string error;
        ASSERT_TRUE(defaults.set("k", 1, &error)) << broken << ": " << error;
        EXPECT_EQ(readText(file()), "{\"k\":1}\n") << broken;
    }
}

TEST_F(UserDefaultsTest, AFileThatCannotBeReplacedIsAnError) {
    // A folder where the file should be can be neither read nor renamed over.
    fs::create_directories(file() / "in-the-way");
    UserDefaults defaults(file());
    EXPECT_FALSE(defaults.value("k"));
    std::string error;
    EXPECT_FALSE(defaults.set("k", 1, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(defaults.set("k", 1));  // no place for the error is fine too
    EXPECT_TRUE(fs::is_directory(file() / "in-the-way"));
}

TEST(UserDefaults, NoHomeMeansNothingIsStoredAndNothingCrashes) {
    UserDefaults defaults(UserDefaults::fileFor("app.example.demo", nullptr, nullptr));
    EXPECT_TRUE(defaults.file().empty());
    EXPECT_FALSE(defaults.value("k"));
    EXPECT_FALSE(defaults.boolValue("k"));
    EXPECT_FALSE(defaults.stringValue("k"));
    std::string error;
    EXPECT_FALSE(defaults.set("k", 1, &error));
    EXPECT_NE(error.find("HOME"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(defaults.remove("k", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(defaults.set("k", 1));
}

}  // namespace
