#include "menu-bar-app-menu/menu-files.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bundle-fixture.h"

namespace host {
namespace {

using nlohmann::json;
using testing_support::TemporaryFolder;
using testing_support::writeText;

const json threeRows = json::parse(R"([
    {"id": "a", "title": "A"},
    {"separator": true},
    {"id": "b", "title": "B", "enabled": false}
])");

std::vector<std::string> idsOf(const std::vector<FileMenuRow>& rows) {
    std::vector<std::string> ids;
    for (const auto& row : rows) ids.push_back(row.id.value_or(row.isSeparator() ? "-" : "?"));
    return ids;
}

// The ids of the rows at a branch of the file; none when the source gives no rows.
std::optional<std::vector<std::string>> idsAt(const std::filesystem::path& file, std::vector<std::string> branch) {
    const auto rows = FileMenuSource{file, std::move(branch)}.rows();
    if (!rows) return std::nullopt;
    return idsOf(*rows);
}

// A row whose submenu nests `levels` deep.
json nestedRow(int levels) {
    json row = {{"id", "leaf"}, {"title", "Leaf"}};
    for (int level = 0; level < levels; ++level) row = {{"id", "n"}, {"title", "N"}, {"submenu", json::array({row})}};
    return row;
}

TEST(MenuFileRows, ReadTheThreeRowExample) {
    const auto rows = fileMenuRowsOf(threeRows.dump());
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 3u);
    EXPECT_EQ((*rows)[0].id, "a");
    EXPECT_EQ((*rows)[0].title, "A");
    EXPECT_EQ((*rows)[0].enabled, std::nullopt);
    EXPECT_TRUE((*rows)[1].isSeparator());
    EXPECT_EQ((*rows)[2].enabled, false);
}

TEST(MenuFileRows, ReadEveryKeyAndIgnoreUnknownOnesAndNulls) {
    const auto rows = fileMenuRowsOf(R"([{"id": "x", "title": "X", "row": "r", "key": "⌘K", "symbol": "gear",
        "enabled": true, "separator": false, "data": true, "checked": true, "colour": 3, "title2": null,
        "submenu": [{"id": "y", "title": ""}]}, {"id": "z", "title": "Z", "key": null, "submenu": null}])");
    ASSERT_TRUE(rows);
    ASSERT_EQ(rows->size(), 2u);
    const FileMenuRow& row = (*rows)[0];
    EXPECT_EQ(row.row, "r");
    EXPECT_EQ(row.key, "⌘K");
    EXPECT_EQ(row.symbol, "gear");
    EXPECT_EQ(row.enabled, true);
    EXPECT_EQ(row.separator, false);
    EXPECT_EQ(row.data, true);
    EXPECT_EQ(row.checked, true);
    ASSERT_TRUE(row.submenu);
    EXPECT_EQ(idsOf(*row.submenu), std::vector<std::string>{"y"});
    EXPECT_EQ((*rows)[1].key, std::nullopt);
    EXPECT_EQ((*rows)[1].submenu, std::nullopt);
}

TEST(MenuFileRows, TheEnvelopeFormGivesTheSameRows) {
    const auto bare = fileMenuRowsOf(threeRows.dump());
    const auto wrapped = fileMenuRowsOf(json{{"rows", threeRows}, {"version", 2}}.dump());
    ASSERT_TRUE(bare);
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(idsOf(*wrapped), idsOf(*bare));
    EXPECT_EQ((*wrapped)[2].enabled, false);
    EXPECT_EQ(fileMenuRowsOf("[]"), std::vector<FileMenuRow>{});
    EXPECT_EQ(fileMenuRowsOf(R"({"rows": []})"), std::vector<FileMenuRow>{});
}

TEST(MenuFileRows, DocumentsThatAreNotMenuFilesAreUnreadable) {
    const char* documents[] = {
        "",
        "not json",
        "[{\"id\": \"a\", \"title\": \"A\"}",
        "{\"items\": [{\"id\": \"a\", \"title\": \"A\"}]}",
        "{\"rows\": null}",
        "{\"rows\": {\"id\": \"a\", \"title\": \"A\"}}",
        "{}",
        "\"rows\"",
        "42",
        "null",
        "[null]",
        "[[{\"id\": \"a\", \"title\": \"A\"}]]",
        "[\"a\"]",
        "[{\"id\": \"a\", \"title\": \"A\"}] trailing",
        "[{\"id\": \"a\", \"title\": \"\xFF\"}]",
    };
    for (const char* document : documents) EXPECT_EQ(fileMenuRowsOf(document), std::nullopt) << document;
}

TEST(MenuFileRows, AKeyOfTheWrongTypeAnywhereMakesTheFileUnreadable) {
    const char* rows[] = {
        R"({"id": "a", "title": "A", "enabled": "yes"})",
        R"({"id": 1, "title": "A"})",
        R"({"id": "a", "title": 1})",
        R"({"id": "a", "title": "A", "row": 2})",
        R"({"id": "a", "title": "A", "key": ["⌘K"]})",
        R"({"id": "a", "title": "A", "symbol": {}})",
        R"({"id": "a", "title": "A", "checked": 1})",
        R"({"id": "a", "title": "A", "data": "true"})",
        R"({"separator": "yes"})",
        R"({"separator": true, "title": 3})",
        R"({"id": "a", "title": "A", "submenu": true})",
        R"({"id": "a", "title": "A", "submenu": [{"id": "b", "title": "B", "enabled": 0}]})",
        R"({"id": "a", "title": "A", "submenu": [null]})",
    };
    for (const char* row : rows) {
        EXPECT_EQ(fileMenuRowsOf(std::string("[") + row + "]"), std::nullopt) << row;
        EXPECT_EQ(fileMenuRowsOf(std::string(R"({"rows": [)") + row + "]}"), std::nullopt) << row;
    }
}

TEST(MenuFileRows, OneInvalidRowAnywhereMakesTheFileUnreadable) {
    const char* rows[] = {
        R"({"id": "", "title": "A"})",
        R"({"id": "a"})",
        R"({"title": "A"})",
        R"({"id": "a", "title": null})",
        R"({"separator": false, "title": "A"})",
        R"({"id": "a", "title": "A", "submenu": [{"id": "b"}]})",
        R"({"id": "a", "title": "A", "submenu": [{"id": "b", "title": "B", "submenu": [{"id": ""}]}]})",
    };
    for (const char* row : rows) EXPECT_EQ(fileMenuRowsOf(std::string("[") + row + "]"), std::nullopt) << row;
}

TEST(MenuFileRows, ValidRowsNeedAnIdAndATitleButSeparatorsNeedNothing) {
    const char* rows[] = {
        R"({"id": "a", "title": ""})",
        R"({"separator": true})",
        R"({"separator": true, "submenu": [{"id": ""}]})",
        R"({"id": "a", "title": "A", "submenu": []})",
    };
    for (const char* row : rows) EXPECT_TRUE(fileMenuRowsOf(std::string("[") + row + "]")) << row;
}

TEST(MenuFileRows, SubmenusNestAtMostSixtyFourDeep) {
    EXPECT_TRUE(fileMenuRowsOf(json::array({nestedRow(MENU_FILE_SUBMENU_DEPTH_LIMIT)}).dump()));
    EXPECT_EQ(fileMenuRowsOf(json::array({nestedRow(MENU_FILE_SUBMENU_DEPTH_LIMIT + 1)}).dump()), std::nullopt);
}

TEST(MenuFileRows, AHugelyNestedDocumentIsUnreadableNotACrash) {
    const int levels = 200000;
    std::string deep;
    for (int level = 0; level < levels; ++level) deep += R"([{"id": "n", "title": "N", "submenu": )";
    deep += "[]";
    for (int level = 0; level < levels; ++level) deep += "}]";
    EXPECT_EQ(fileMenuRowsOf(deep), std::nullopt);
    EXPECT_EQ(fileMenuRowsOf(std::string(levels, '[') + std::string(levels, ']')), std::nullopt);
}

TEST(FileMenuRowBranchKey, IsTheRowElseADottedDecimalId) {
    struct Case {
        std::optional<std::string> id, row;
        bool hasSubmenu;
        std::optional<bool> separator;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"2", {}, true, {}, "2"},
        {"2.1", {}, true, {}, "2.1"},
        {"10.0.345", {}, true, {}, "10.0.345"},
        {"2a", {}, true, {}, std::nullopt},
        {"2.", {}, true, {}, std::nullopt},
        {".2", {}, true, {}, std::nullopt},
        {"2..1", {}, true, {}, std::nullopt},
        {"-2", {}, true, {}, std::nullopt},
        {" 2", {}, true, {}, std::nullopt},
        {"2\n", {}, true, {}, std::nullopt},
        {"\xD9\xA2", {}, true, {}, std::nullopt},  // an Arabic-Indic two
        {"", {}, true, {}, std::nullopt},
        {{}, {}, true, {}, std::nullopt},
        {"tools", "t", true, {}, "t"},
        {"2", "t", true, {}, "t"},
        {{}, "t", true, {}, "t"},
        {"2", "", true, {}, "2"},
        {"2", {}, false, {}, std::nullopt},
        {"2", "t", false, {}, std::nullopt},
        {"2", "t", true, true, std::nullopt},
        {"2", {}, true, false, "2"},
    };
    for (const auto& c : cases) {
        FileMenuRow row;
        row.id = c.id;
        row.row = c.row;
        row.separator = c.separator;
        if (c.hasSubmenu) row.submenu.emplace();
        EXPECT_EQ(row.branchKey(), c.expected) << "id " << c.id.value_or("-") << " row " << c.row.value_or("-");
    }
}

class FileMenuSourceRows : public testing::Test {
protected:
    std::filesystem::path write(const json& document, const std::string& name = "menu.json") {
        const auto file = folder_.path() / name;
        writeText(file, document.dump());
        return file;
    }
    TemporaryFolder folder_;
};

TEST_F(FileMenuSourceRows, ReadsTheTopRowsOfARegularFile) {
    EXPECT_EQ(idsAt(write(threeRows), {}), (std::vector<std::string>{"a", "-", "b"}));
}

TEST_F(FileMenuSourceRows, MissingFilesDirectoriesAndBadBytesGiveNone) {
    writeText(folder_.path() / "broken.json", "[{\"id\": \"a\"");
    std::filesystem::create_directory(folder_.path() / "folder.json");
    std::filesystem::create_symlink(folder_.path() / "gone.json", folder_.path() / "dangling.json");
    for (const char* name : {"missing.json", "folder.json", "broken.json", "dangling.json"}) {
        EXPECT_EQ((FileMenuSource{folder_.path() / name, {}}.rows()), std::nullopt) << name;
    }
    EXPECT_EQ((FileMenuSource{"", {}}.rows()), std::nullopt);
}

TEST_F(FileMenuSourceRows, FollowsASymlinkToAFile) {
    const auto file = write(threeRows);
    const auto link = folder_.path() / "link.json";
    std::filesystem::create_symlink(file, link);
    EXPECT_EQ(idsAt(link, {}), (std::vector<std::string>{"a", "-", "b"}));
}

TEST_F(FileMenuSourceRows, AnEmptyFileOrEmptyBranchGivesNoRowsNotNone) {
    const auto file = write(json::array({{{"id", "1"}, {"title", "One"}, {"submenu", json::array()}}}));
    EXPECT_EQ((FileMenuSource{write(json::array(), "empty.json"), {}}.rows()), std::vector<FileMenuRow>{});
    EXPECT_EQ((FileMenuSource{file, {"1"}}.rows()), std::vector<FileMenuRow>{});
}

TEST_F(FileMenuSourceRows, TheBranchPathMustMatchExactlyOneRowAtEachStep) {
    const json inner = json::array({{{"id", "x"}, {"title", "X"}}});
    const auto file = write(json::array({
        {{"id", "tools"}, {"title", "Tools"}, {"row", "2"}, {"submenu", inner}},
        {{"id", "2"}, {"title", "Two, without submenu"}},
        {{"id", "3"}, {"title", "Three"}, {"submenu", inner}},
        {{"id", "other"}, {"title", "Twin"}, {"row", "3"}, {"submenu", inner}},
        {{"separator", true}, {"row", "4"}, {"submenu", inner}},
        {{"id", "5"}, {"title", "Five"}, {"submenu", inner}},
    }));
    struct Case {
        std::vector<std::string> branch;
        bool found;
    };
    const Case cases[] = {
        {{"2"}, true},      // "row" 2; the id 2 has no submenu
        {{"5"}, true},      // numeric id
        {{"3"}, false},     // an id and a "row" give the same key
        {{"4"}, false},     // separators have no branch key
        {{"tools"}, false}, // "row" takes the place of the id
        {{"9"}, false},
        {{"2", "x"}, false},
        {{""}, false},
    };
    for (const auto& [branch, found] : cases) {
        const auto expected = found ? std::optional(std::vector<std::string>{"x"}) : std::nullopt;
        EXPECT_EQ(idsAt(file, branch), expected) << branch.front();
    }
}

TEST_F(FileMenuSourceRows, FollowsTheBranchThroughNestedSubmenus) {
    const auto file = write(json{{"rows", json::array({
        {{"id", "1"}, {"title", "One"}, {"submenu", json::array({
            {{"id", "1.1"}, {"title", "One.One"}, {"submenu", json::array({
                {{"id", "deep"}, {"title", "Deep"}, {"row", "bottom"}, {"submenu", json::array({
                    {{"id", "leaf"}, {"title", "Leaf"}}})}}})}},
            {{"id", "1.2"}, {"title", "One.Two"}}})}},
        {{"id", "1.1"}, {"title", "Elsewhere"}, {"submenu", json::array()}},
    })}});
    const FileMenuSource top{file, {}};
    const auto third = top.extended("1").extended("1.1").extended("bottom");
    EXPECT_EQ(third.file, file);
    EXPECT_EQ(third.branch, (std::vector<std::string>{"1", "1.1", "bottom"}));
    EXPECT_TRUE(top.branch.empty());

    EXPECT_EQ(idsOf(top.extended("1").rows().value_or(std::vector<FileMenuRow>{})),
              (std::vector<std::string>{"1.1", "1.2"}));
    EXPECT_EQ(idsAt(file, third.branch), std::vector<std::string>{"leaf"});
    EXPECT_EQ(idsAt(file, {"1.1"}), std::vector<std::string>{});
    EXPECT_EQ(idsAt(file, {"1", "bottom"}), std::nullopt);
}

TEST_F(FileMenuSourceRows, AnInvalidRowOffTheBranchStillMakesTheFileUnusable) {
    const auto file = write(json::array({
        {{"id", "1"}, {"title", "One"}, {"submenu", json::array({{{"id", "a"}, {"title", "A"}}})}},
        {{"id", "2"}, {"title", "Two"}, {"submenu", json::array({{{"id", "b"}}})}},
    }));
    EXPECT_EQ((FileMenuSource{file, {"1"}}.rows()), std::nullopt);
}

}  // namespace
}  // namespace host
