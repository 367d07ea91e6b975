// The status menu drawn from rows: items, the status button, branch updates, snapshots, file
// submenus and where openings and picks are reported. The desktop is headless here.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "menu-bar-app-menu/menu-owner.h"
#include "platform/desktop.h"

using namespace host;
using platform::Menu;
using platform::MenuItem;
using testing_support::TemporaryFolder;
using testing_support::writeText;

namespace {

class MenuOwnerTest : public ::testing::Test {
protected:
    explicit MenuOwnerTest(bool reportsOpenings = true) {
        MenuCallbacks callbacks;
        if (reportsOpenings) callbacks.didOpen = [this] { heard.push_back("opened"); };
        callbacks.didOpenBranch = [this](const std::string& id) { heard.push_back("branch " + id); };
        callbacks.didPick = [this](const std::string& id, const std::string& title) {
            heard.push_back("pick " + id + " " + title);
        };
        callbacks.didPickInBranch = [this](const std::string& branch, const std::string& id, const std::string& title) {
            heard.push_back("file pick " + branch + " " + id + " " + title);
        };
        owner = std::make_unique<MenuOwner>("app.example.demo", false, folder.path() / "menu.json", nullptr, callbacks);
    }

    // The rows of a tree: each element a row, one that is not an object a row without members.
    static FlatObjects flatRows(const Json& rows) {
        FlatObjects flat;
        for (const Json& row : rows) flat.emplace_back(row);
        return flat;
    }
    void draw(const Json& rows, bool reportsSubmenus = false) {
        owner->draw(flatRows(rows), std::nullopt, reportsSubmenus, std::nullopt);
    }
    const Menu& root() { return owner->menu(); }
    const platform::StatusItem& button() { return *owner->statusItem(); }
    // The first item of that title, depth first.
    MenuItem* itemTitled(const std::string& title, Menu* in = nullptr) {
        for (const auto& item : (in ? in : &owner->menu())->items()) {
            if (item->title() == title) return item.get();
            if (item->submenu()) {
                if (MenuItem* found = itemTitled(title, item->submenu())) return found;
            }
        }
        return nullptr;
    }
    void open(Menu& menu) { platform::openTheMenu(menu); }

    TemporaryFolder folder;
    std::unique_ptr<MenuOwner> owner;
    std::vector<std::string> heard;
};

TEST_F(MenuOwnerTest, AnEmptyListDrawsTheIdentityAndTheDefaultSymbol) {
    draw(Json::array());
    EXPECT_TRUE(root().items().empty());
    ASSERT_TRUE(owner->hasStatusItem());
    ASSERT_TRUE(button().image());
    EXPECT_EQ(button().image()->symbol, "rectangle.grid.2x2");
    EXPECT_EQ(button().image()->description, "app.example.demo");
    EXPECT_TRUE(button().image()->isTemplate);
    EXPECT_EQ(button().toolTip(), "app.example.demo");
    EXPECT_EQ(button().accessibilityLabel(), "app.example.demo");
    EXPECT_EQ(button().autosaveName(), "app.example.demo");
    EXPECT_EQ(platform::desktop().activationPolicy(), platform::ActivationPolicy::accessory);
}

TEST_F(MenuOwnerTest, RowsBecomeItemsWithTheirStateAndActions) {
    draw(Json::parse(R"([
        {"title": "Plain"},
        {"id": "go", "title": "Go", "enabled": true, "key": "⌘G", "symbol": "star"},
        {"id": "enabled-yes", "title": "Yes?", "enabled": "yes"},
        {"id": "sub", "title": "Sub", "enabled": true, "submenu": true},
        {"id": "in", "title": "In", "parent": "sub", "enabled": true},
        {"id": "lost", "title": "Lost", "parent": "nowhere"},
        {"id": "gone", "title": "Gone", "hidden": true},
        {"kind": "separator", "title": "ignored"},
        {"id": "d", "title": "Data", "data": true, "row": "r"},
        {"id": "r", "title": "Row", "row": "row-name"},
        {"id": "n", "title": "Number row", "row": 3}
    ])"));
    const auto& items = root().items();
    ASSERT_EQ(items.size(), 9u);
    EXPECT_FALSE(items[0]->enabled());
    EXPECT_FALSE(items[0]->action());
    EXPECT_EQ(items[0]->representedObject(), "");
    EXPECT_TRUE(items[1]->enabled());
    EXPECT_EQ(items[1]->keyEquivalent(), "g");
    EXPECT_EQ(items[1]->keyEquivalentModifierMask(), platform::MODIFIER_COMMAND);
    ASSERT_TRUE(items[1]->image());
    EXPECT_EQ(items[1]->image()->pointSize, 13);
    EXPECT_FALSE(items[2]->enabled()) << "only the boolean true enables";
    EXPECT_FALSE(items[3]->action()) << "a submenu row has no action";
    ASSERT_TRUE(items[3]->submenu());
    EXPECT_EQ(items[3]->submenu()->items().at(0)->title(), "In");
    EXPECT_EQ(items[4]->title(), "Lost") << "an unknown parent puts the row in the root menu";
    EXPECT_TRUE(items[5]->isSeparator());
    EXPECT_EQ(items[6]->identifier(), "d");
    EXPECT_EQ(items[7]->identifier(), "row-name");
    EXPECT_EQ(items[8]->identifier(), "n") << "a \"row\" that is not a string counts as absent";
}

TEST_F(MenuOwnerTest, PicksReportTheIdAndTitle) {
    draw(Json::parse(R"([{"title": "A", "enabled": true}, {"id": "b", "title": "B", "enabled": true}])"));
    itemTitled("A")->pick();
    itemTitled("B")->pick();
    EXPECT_EQ(heard, (std::vector<std::string>{"pick  A", "pick b B"}));
}

TEST_F(MenuOwnerTest, TheHeaderDrawsTheButtonAndIsAnItemToo) {
    draw(Json::parse(R"([
        {"kind": "header", "title": "Label", "pointSize": 16, "tooltip": "Tip", "badge": "circle.fill"},
        {"kind": "header", "title": "Second", "symbol": "star", "tooltip": "No"},
        {"kind": "header", "title": "Hidden", "hidden": true}
    ])"));
    ASSERT_EQ(root().items().size(), 2u);
    EXPECT_FALSE(root().items()[0]->enabled());
    ASSERT_TRUE(button().image());
    EXPECT_EQ(button().image()->symbol, "star") << "the symbol of the first header that names one";
    EXPECT_EQ(button().image()->pointSize, 16);
    EXPECT_EQ(button().image()->weight, platform::FONT_WEIGHT_REGULAR);
    ASSERT_TRUE(button().image()->badge);
    EXPECT_EQ(button().image()->badge->symbol, "circle.fill");
    EXPECT_EQ(button().toolTip(), "Tip");
    EXPECT_EQ(button().accessibilityLabel(), "Label");
}

TEST_F(MenuOwnerTest, AWeightAloneLeavesTheSymbolUnconfigured) {
    draw(Json::parse(R"([{"kind": "header", "weight": 0.4, "badge": "no.such.badge"}])"));
    ASSERT_TRUE(button().image());
    EXPECT_FALSE(button().image()->pointSize);
    EXPECT_FALSE(button().image()->badge) << "an unknown badge keeps the plain symbol";
}

TEST_F(MenuOwnerTest, AnUnknownSymbolGivesTheLabelAsTitleAndKeepsTheOldImage) {
    draw(Json::parse(R"([{"kind": "header", "title": "Mine", "symbol": "no.such.symbol"}])"));
    EXPECT_FALSE(button().image());
    EXPECT_EQ(button().title(), "Mine");
    draw(Json::parse(R"([{"kind": "header", "title": "Mine", "symbol": "star"}])"));
    EXPECT_EQ(button().image()->symbol, "star");
    EXPECT_EQ(button().title(), "Mine") << "the title set earlier stays beside the image";
    draw(Json::parse(R"([{"kind": "header", "title": "Other", "symbol": "no.such.symbol"}])"));
    EXPECT_EQ(button().image()->symbol, "star");
    EXPECT_EQ(button().title(), "Other");
}

TEST_F(MenuOwnerTest, TheSnapshotInlinesSubmenusAndIncludesTheFooter) {
    MenuFooter footer;
    footer.append = [](Menu& menu, MenuOwner& menuOwner) {
        auto item = std::make_shared<MenuItem>("Footer", menuOwner.pickAction());
        item->setRepresentedObject("host.footer");
        menu.addItem(item);
    };
    owner->draw(flatRows(Json::parse(R"([
        {"id": "s", "title": "S", "submenu": true, "enabled": true},
        {"id": "a", "title": "A", "parent": "s", "enabled": true},
        {"kind": "separator"},
        {"id": "b", "title": "B"}
    ])")),
                footer, false, std::nullopt);
    EXPECT_EQ(owner->drawnRows(), Json::parse(R"([
        {"id": "s", "title": "S", "enabled": true},
        {"id": "a", "title": "A", "enabled": true},
        {"id": "separator", "title": null},
        {"id": "b", "title": "B", "enabled": false},
        {"id": "host.footer", "title": "Footer", "enabled": true}
    ])"));
    itemTitled("Footer")->pick();
    EXPECT_EQ(heard.back(), "pick host.footer Footer");
}

// The record's text is the snapshot's serialisation, escapes, odd bytes and missing ids included.
TEST_F(MenuOwnerTest, TheSnapshotTextIsItsSerialisation) {
    draw(Json::parse(R"([
        {"id": "s", "title": "Quote \" back\\ tab\t é ✓", "submenu": true, "enabled": true},
        {"id": "a\u0001", "title": "", "parent": "s"},
        {"kind": "separator"},
        {"title": "no id", "enabled": true}
    ])"));
    itemTitled("no id")->setTitle(std::string("bad \xff byte"));
    std::string text;
    owner->appendDrawnRows(text);
    EXPECT_EQ(text, sortedJson(owner->drawnRows()));
    draw(Json::array());
    EXPECT_EQ((text.clear(), owner->appendDrawnRows(text), text), "[]");
}

TEST_F(MenuOwnerTest, TitlesAreLookedUpInTheDrawnRows) {
    draw(Json::parse(R"([{"id": "x", "kind": "separator", "title": "Sep"}, {"id": "x", "title": "X"},
                         {"id": "x", "title": "Later"}, {"id": "n", "title": 3}])"));
    EXPECT_EQ(owner->titleOf("x"), "X");
    EXPECT_EQ(owner->titleOf("n"), std::nullopt);
    EXPECT_EQ(owner->titleOf("missing"), std::nullopt);
}

// What a drawn owner shows: its snapshot, its button and the titles it checks picks against.
Json shownBy(MenuOwner& shown) {
    const platform::StatusItem& item = *shown.statusItem();
    Json button = {{"title", item.title()}, {"toolTip", item.toolTip()}, {"label", item.accessibilityLabel()},
                   {"visible", item.visible()}};
    if (const auto& image = item.image()) {
        button["symbol"] = image->symbol;
        button["pointSize"] = image->pointSize ? Json(*image->pointSize) : Json();
        button["weight"] = image->weight ? Json(*image->weight) : Json();
        button["badge"] = image->badge ? Json(image->badge->symbol) : Json();
    }
    Json titles = Json::object();
    for (const char* id : {"a", "b", "dup", "num", "sub", "in", "recent", "sep"}) {
        titles[id] = shown.titleOf(id) ? Json(*shown.titleOf(id)) : Json();
    }
    return {{"drawn", shown.drawnRows()}, {"button", button}, {"titles", titles}};
}

// The shell's rows come read flat from its message; drawn, they show what the tree of the
// same text shows, whatever the members' types, duplicates and order.
TEST_F(MenuOwnerTest, RowsReadFlatFromAMessageShowWhatTheirTreeShows) {
    const std::string rows = R"([{"kind":"header","title":"Head","title":"Header","pointSize":13.5,"weight":0.3,"badge":"circle.fill",)"
        R"("tooltip":"Tip","symbol":"star"},{"id":"a","title":"A ⌘","enabled":true,"key":"⌘A","symbol":"bolt"},)"
        R"({"id":"b","title":5,"enabled":"yes","hidden":false,"data":true,"row":"r"},{"id":"dup","title":"x","title":"Dup","row":7},)"
        R"({"id":"num","title":"N","enabled":1,"submenu":1,"parent":3},{"id":"sep","kind":"separator","title":"S"},)"
        R"({"id":"sub","title":"Sub","submenu":true,"enabled":true},{"id":"in","title":"In","parent":"sub","enabled":true},)"
        R"({"id":"recent","title":"Recent","submenu":true,"submenuFile":"/nonexistent/recent.json",)"
        R"("submenuFallback":[{"kind":"info","title":"None yet"},{"kind":"separator"}],"submenuFileBranch":["x"]},)"
        R"({"id":"gone","title":"Gone","hidden":true,"parent":"sub"},{"title":null,"id":"untitled"}])";
    draw(*parsedJson(rows));
    const Json fromTheTree = shownBy(*owner);

    MembersSetAside aside{nullptr, std::nullopt, "menu", std::nullopt};
    const std::string message = R"({"menu":)" + rows + "}";
    ASSERT_TRUE(objectKeeping(message, [](std::string_view) { return false; }, &aside) && aside.flat);
    MenuOwner flat("app.example.demo", false, folder.path() / "flat.json", nullptr, MenuCallbacks{});
    flat.draw(std::move(*aside.flat), std::nullopt, false, std::nullopt);
    EXPECT_EQ(shownBy(flat), fromTheTree);
}

TEST_F(MenuOwnerTest, BranchUpdatesReplaceOneSubmenuAndItsStoredRows) {
    const Json rows = Json::parse(R"([
        {"id": "s", "title": "S", "submenu": true},
        {"id": "old", "title": "Old", "parent": "s", "submenu": true},
        {"id": "older", "title": "Older", "parent": "old"},
        {"id": "keep", "title": "Keep"}
    ])");
    draw(rows, false);
    EXPECT_FALSE(owner->drawBranch("s", Json::array())) << "not while submenu updates are off";
    draw(rows, true);
    EXPECT_FALSE(owner->drawBranch("nowhere", Json::array()));
    ASSERT_TRUE(owner->drawBranch("s", Json::parse(R"([
        {"id": "new", "title": "New", "parent": "s"},
        {"id": "orphan", "title": "Orphan"}
    ])")));
    Menu* s = itemTitled("S")->submenu();
    ASSERT_EQ(s->items().size(), 1u);
    EXPECT_EQ(s->items()[0]->title(), "New");
    std::vector<std::string> ids;
    for (const FlatObject& row : owner->rows()) ids.push_back(row.string("id") ? *row.string("id") : "");
    EXPECT_EQ(ids, (std::vector<std::string>{"s", "keep", "new", "orphan"}));
    EXPECT_EQ(root().items().size(), 2u) << "a row without parent is dropped from a branch update";
}

TEST_F(MenuOwnerTest, OpeningsAreReportedForTheRootAndForReportedSubmenus) {
    draw(Json::parse(R"([{"id": "s", "title": "S", "submenu": true}])"), true);
    open(owner->menu());
    open(*itemTitled("S")->submenu());
    EXPECT_EQ(heard, (std::vector<std::string>{"opened", "branch s"}));
    heard.clear();
    draw(Json::parse(R"([{"id": "s", "title": "S", "submenu": true}])"), false);
    open(*itemTitled("S")->submenu());
    EXPECT_TRUE(heard.empty());
}

class QuietMenuOwnerTest : public MenuOwnerTest {
protected:
    QuietMenuOwnerTest() : MenuOwnerTest(false) {}
};

TEST_F(QuietMenuOwnerTest, WithoutOpeningReportsOrFooterTheRootHasNoDelegate) {
    draw(Json::array());
    EXPECT_EQ(owner->menu().delegate(), nullptr);
    MenuFooter footer;
    int refreshed = 0;
    footer.refresh = [&](Menu&, MenuOwner&) { ++refreshed; };
    owner->draw(FlatObjects{}, footer, false, std::nullopt);
    open(owner->menu());
    EXPECT_EQ(refreshed, 1);
    EXPECT_TRUE(heard.empty());
}

// Submenus filled from menu files.
class FileSubmenuTest : public MenuOwnerTest {
protected:
    std::string file() const { return (folder.path() / "recent.json").string(); }
    Menu& recent() { return *itemTitled("Recent")->submenu(); }
    std::vector<std::string> titles(const Menu& menu) {
        std::vector<std::string> all;
        for (const auto& item : menu.items()) all.push_back(item->isSeparator() ? "---" : item->title());
        return all;
    }
    void drawRecent(const std::string& extra = "") {
        draw(Json::parse(R"([{"id": "recent", "title": "Recent", "submenu": true, "submenuFile": ")" + file() +
                         R"(", "submenuSelectionMark": " ✓")" + extra + "}]"),
             true);
    }
};

TEST_F(FileSubmenuTest, TheFileIsReadEachTimeTheSubmenuOpens) {
    drawRecent();
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"Opening…"}));
    writeText(file(), R"([{"id": "a", "title": "A", "checked": true}, {"separator": true},
                          {"id": "b", "title": "B ✓", "checked": true, "enabled": false}])");
    open(recent());
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"A ✓", "---", "B ✓"}));
    EXPECT_TRUE(recent().items()[0]->enabled()) << "file rows are enabled by default";
    EXPECT_FALSE(recent().items()[2]->enabled());
    recent().items()[0]->pick();
    EXPECT_EQ(heard.back(), "file pick recent a A ✓");
    EXPECT_EQ(heard.front(), "branch recent") << "opening a declared file submenu is reported";

    writeText(file(), R"({"rows": [{"id": "c", "title": "C"}]})");
    open(recent());
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"C"}));
    writeText(file(), R"({"items": [{"id": "c", "title": "C"}]})");
    open(recent());
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"Menu unavailable"}));
    writeText(file(), "[]");
    open(recent());
    EXPECT_TRUE(recent().items().empty());
}

TEST_F(FileSubmenuTest, FallbackRowsStandInForAFileWithoutRows) {
    drawRecent(R"(, "submenuFallback": [{"kind": "info", "title": "Nothing yet"}, {"kind": "separator"},
                                       {"kind": "header", "title": "X"}])");
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"Nothing yet", "---"}));
    open(recent());  // no file at all
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"Nothing yet", "---"}));
    EXPECT_FALSE(recent().items()[0]->enabled());
}

TEST_F(FileSubmenuTest, TheShellsOwnRowsFollowTheFileRowsAcrossRereads) {
    writeText(file(), R"([{"id": "a", "title": "A"}])");
    draw(Json::parse(R"([{"id": "recent", "title": "Recent", "submenu": true, "submenuFile": ")" + file() + R"("},
                         {"id": "mine", "title": "Mine", "parent": "recent", "enabled": true}])"),
         true);
    open(recent());
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"A", "Mine"}));
    ASSERT_TRUE(owner->drawBranch("recent", Json::parse(R"([{"id": "new", "title": "New", "parent": "recent", "enabled": true}])")));
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"A", "New"}));
    open(recent());
    EXPECT_EQ(titles(recent()), (std::vector<std::string>{"A", "New"}));
    itemTitled("New")->pick();
    EXPECT_EQ(heard.back(), "pick new New") << "the shell's own rows are picked as ordinary rows";
}

TEST_F(FileSubmenuTest, NestedFileSubmenusFollowTheirBranchPathAndAreNotReported) {
    writeText(file(), R"([{"id": "2", "title": "Two", "submenu": [{"id": "x", "title": "X"}]},
                          {"id": "p", "title": "Plain", "submenu": [{"id": "y", "title": "Y"}]}])");
    drawRecent();
    open(recent());
    Menu& two = *itemTitled("Two")->submenu();
    EXPECT_EQ(titles(two), (std::vector<std::string>{"X"}));
    writeText(file(), R"([{"id": "2", "title": "Two", "submenu": [{"id": "z", "title": "Z"}]}])");
    heard.clear();
    open(two);
    EXPECT_EQ(titles(two), (std::vector<std::string>{"Z"}));
    EXPECT_TRUE(heard.empty());
    two.items()[0]->pick();
    EXPECT_EQ(heard.back(), "file pick recent z Z");
}

// Rows chained through "parent", each holding the next in its submenu; the row at `fileAt`
// declares a file submenu instead, which goes on with the file's own submenus.
Json chainOfRows(int rows, const std::string& file = "", int fileAt = -1) {
    Json chain = Json::array();
    for (int row = 0; row < rows; ++row) {
        Json entry = {{"id", "n" + std::to_string(row)}, {"title", "N"}, {"submenu", true}};
        if (row > 0) entry["parent"] = "n" + std::to_string(row - 1);
        if (row == fileAt) entry["submenuFile"] = file;
        chain.push_back(entry);
    }
    return chain;
}

int deepestBelow(const Menu& menu) {
    int deepest = 0;
    for (const auto& item : menu.items()) {
        if (item->submenu()) deepest = std::max(deepest, 1 + deepestBelow(*item->submenu()));
    }
    return deepest;
}

// However the chain is made (the shell's rows, a file's rows below them), the menu stops at the
// depth a menu file may reach; the rows below the cut are dropped, not moved.
TEST_F(FileSubmenuTest, SubmenuChainsAreCutAtTheMenuFileDepthLimit) {
    Json rows = chainOfRows(20000);
    rows.push_back({{"id", "after"}, {"title", "After"}});
    draw(rows, true);
    EXPECT_EQ(deepestBelow(owner->menu()), MENU_FILE_SUBMENU_DEPTH_LIMIT);
    EXPECT_EQ(owner->drawnRows().size(), MENU_FILE_SUBMENU_DEPTH_LIMIT + 2u);
    EXPECT_EQ(owner->menu().items().back()->title(), "After");

    writeText(file(), R"([{"id": "1", "title": "F1", "submenu": [{"id": "2", "title": "F2", "submenu": [
                            {"id": "3", "title": "F3", "submenu": [{"id": "4", "title": "F4"}]}]}]}])");
    draw(chainOfRows(MENU_FILE_SUBMENU_DEPTH_LIMIT - 1, file(), MENU_FILE_SUBMENU_DEPTH_LIMIT - 2), true);
    open(*itemTitled("Opening…")->menu());
    EXPECT_EQ(deepestBelow(owner->menu()), MENU_FILE_SUBMENU_DEPTH_LIMIT);
    EXPECT_TRUE(itemTitled("F2"));
    EXPECT_FALSE(itemTitled("F3"));
}

TEST_F(FileSubmenuTest, AFileNotGivenByAnAbsolutePathMakesAPlainSubmenu) {
    draw(Json::parse(R"([{"id": "recent", "title": "Recent", "submenu": true, "submenuFile": "menu.json"}])"));
    EXPECT_TRUE(recent().items().empty());
    EXPECT_EQ(asFileSubmenu(&recent()), nullptr);
}

TEST_F(FileSubmenuTest, AFileRowMovedOutOfTheMenuIsNotReported) {
    writeText(file(), R"([{"id": "a", "title": "A"}])");
    drawRecent();
    open(recent());
    std::shared_ptr<MenuItem> moved = recent().items()[0];
    Menu elsewhere;
    elsewhere.addItem(moved);
    heard.clear();
    moved->pick();
    EXPECT_TRUE(heard.empty());
}

}  // namespace
