// The status menu through the real host: publications drawn for the desktop, picks and openings
// reaching the shell, branch updates while the menu is open, the hosted publication file and
// the Dock row remembered across runs.
#include <gtest/gtest.h>

#include <csignal>

#include "desktop-session.h"

using namespace testing_support;

namespace {

class StatusMenu : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    std::vector<Json> receivedByTheShell() const { return recordsOf(file("received")); }
    bool shellReceived(const Json& message) const {
        return RunningHost::eventually([&] {
            for (const Json& line : receivedByTheShell()) {
                if (line == message) return true;
            }
            return false;
        });
    }
    // A shell that publishes `rows`, keeps every line it receives and answers each opening of
    // the submenu "s" with a branch update.
    void writeMenuShell(const Json& rows, Json runtime = Json::object()) {
        runtime["menu"] = "child";
        const Json branch = {{"menuBranch", {{"id", "s"}, {"rows", Json::array({{{"id", "fresh"}, {"title", "Fresh"},
                                                                                   {"parent", "s"}, {"enabled", true}}})}}}};
        writeShellScript(fixture,
                         "printf '%s\\n' '" + Json({{"menu", rows}, {"submenuUpdates", true}}).dump() + "'\n"
                         "while IFS= read -r line; do\n"
                         "  printf '%s\\n' \"$line\" >> received\n"
                         "  case \"$line\" in *submenuOpened*) printf '%s\\n' '" + branch.dump() + "';; esac\n"
                         "done\n",
                         runtime);
    }
    // The latest menu tree the desktop was shown, once it has items.
    std::optional<Json> drawnMenu(DesktopSession& session, const std::string& title) {
        auto state = session.waitFor("status-items", [&](const Json& drawn) {
            const Json& items = drawn["items"];
            return !items.empty() && items[0]["menu"].is_object() && desktop::findItem(items[0]["menu"], title);
        });
        if (!state) return std::nullopt;
        return (*state)["items"][0];
    }

    BundleFixture fixture;
};

const Json demoRows = Json::parse(R"([
    {"kind": "header", "title": "Demo", "symbol": "sparkles", "tooltip": "Tip"},
    {"id": "hello", "title": "Say hello", "enabled": true, "key": "⌘H"},
    {"id": "s", "title": "More", "submenu": true},
    {"id": "inner", "title": "Inner", "parent": "s", "enabled": true}
])");

TEST_F(StatusMenu, APublicationBecomesTheMenuTheDesktopSees) {
    writeMenuShell(demoRows);
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    auto status = drawnMenu(session, "Inner");
    ASSERT_TRUE(status);
    EXPECT_EQ((*status)["button"]["image"]["symbol"], "sparkles");
    EXPECT_EQ((*status)["button"]["toolTip"], "Tip");
    EXPECT_EQ((*status)["autosaveName"], "app.example.demo");
    const Json& items = (*status)["menu"]["items"];
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1]["key"], "h");
    EXPECT_EQ(items[1]["modifiers"], 0x100000);
    EXPECT_EQ(items[2]["submenu"]["items"][0]["title"], "Inner");
    auto policy = session.waitFor("activation-policy", [](const Json& state) { return state["policy"] == "accessory"; });
    EXPECT_TRUE(policy) << "the first draw makes the host an accessory application";

    auto drawnRecords = recordsOf(supportFolder(fixture) / "shell.jsonl", "menu-drawn");
    ASSERT_EQ(drawnRecords.size(), 1u);
    EXPECT_EQ(drawnRecords[0]["statusItem"], true);
    EXPECT_EQ(drawnRecords[0]["published"], nullptr);
    EXPECT_EQ(drawnRecords[0]["menu"].size(), 4u);
}

TEST_F(StatusMenu, PicksAndOpeningsReachTheShell) {
    writeMenuShell(demoRows, {{"opened", "tell"}});
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    auto status = drawnMenu(session, "Inner");
    ASSERT_TRUE(status);
    ASSERT_TRUE(session.send("open-menu"));
    ASSERT_TRUE(session.send("pick", {{"item", *desktop::findItem((*status)["menu"], "Say hello")}}));
    ASSERT_TRUE(session.send("pick", {{"item", *desktop::findItem((*status)["menu"], "Inner")}}));
    EXPECT_TRUE(shellReceived({{"opened", true}}));
    EXPECT_TRUE(shellReceived({{"menu", "hello"}, {"title", "Say hello"}}));
    EXPECT_TRUE(shellReceived({{"menu", "inner"}, {"title", "Inner"}}));
}

TEST_F(StatusMenu, ABranchUpdateArrivesWhileTheSubmenuIsOpen) {
    writeMenuShell(demoRows);
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    auto status = drawnMenu(session, "Inner");
    ASSERT_TRUE(status);
    ASSERT_TRUE(session.send("open-menu", {{"item", *desktop::findItem((*status)["menu"], "More")}}));
    EXPECT_TRUE(shellReceived({{"submenuOpened", "s"}}));
    auto updated = drawnMenu(session, "Fresh");
    ASSERT_TRUE(updated);
    const Json& more = (*updated)["menu"]["items"][2]["submenu"]["items"];
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0]["title"], "Fresh");
    ASSERT_TRUE(session.send("pick", {{"item", more[0]["item"]}}));
    EXPECT_TRUE(shellReceived({{"menu", "fresh"}, {"title", "Fresh"}}));
}

TEST_F(StatusMenu, AFileRowPickCarriesItsBranch) {
    writeText(file("recent.json"), R"({"rows": [{"id": "doc", "title": "Report", "checked": true}]})");
    writeMenuShell(Json::array({{{"id", "recent"}, {"title", "Recent"}, {"submenu", true},
                                 {"submenuFile", file("recent.json").string()}, {"submenuSelectionMark", " ✓"}}}));
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    auto status = drawnMenu(session, "Opening…");
    ASSERT_TRUE(status);
    ASSERT_TRUE(session.send("open-menu", {{"item", *desktop::findItem((*status)["menu"], "Recent")}}));
    auto read = drawnMenu(session, "Report ✓");
    ASSERT_TRUE(read);
    ASSERT_TRUE(session.send("pick", {{"item", *desktop::findItem((*read)["menu"], "Report ✓")}}));
    EXPECT_TRUE(shellReceived({{"menu", "doc"}, {"title", "Report ✓"}, {"branch", "recent"}}));
}

TEST_F(StatusMenu, AHostedHostPublishesTheMenuFileInsteadOfAStatusItem) {
    const Json publication = Json::parse(R"([{"title": "Shared", "id": "b"}, {"id": "a", "zeta": 1, "alpha": 2}])");
    writeShellScript(fixture,
                     "printf '%s\\n' '" + Json({{"menu", demoRows}, {"publication", publication}}).dump() + "'\n"
                     "exec cat > received\n",
                     {{"menu", "child"}});
    DesktopSession session(fixture, {}, {}, {{"MENU_BAR_HOSTED", "1"}});
    ASSERT_TRUE(session.started()) << session.why();
    const fs::path menuFile = supportFolder(fixture) / "menu.json";
    ASSERT_TRUE(RunningHost::eventually([&] { return fs::exists(menuFile); }));
    EXPECT_EQ(readText(menuFile), R"([{"id":"b","title":"Shared"},{"alpha":2,"id":"a","zeta":1}])");
    ASSERT_TRUE(session.sync());
    auto status = session.statesOf("status-items");
    ASSERT_FALSE(status.empty());
    EXPECT_TRUE(status.back()["items"].empty()) << "a hosted host shows no status item";
    auto drawnRecords = recordsOf(supportFolder(fixture) / "shell.jsonl", "menu-drawn");
    ASSERT_EQ(drawnRecords.size(), 1u);
    EXPECT_EQ(drawnRecords[0]["published"], menuFile.string());
    EXPECT_EQ(drawnRecords[0]["hosted"], true);
}

TEST_F(StatusMenu, TheDockRowTogglesThePolicyAndIsRememberedAcrossRuns) {
    const Json rows = Json::parse(R"([
        {"id": "s", "title": "Settings", "submenu": true},
        {"id": "host.show-in-dock", "title": "Show in Dock", "parent": "s", "enabled": true}
    ])");
    writeMenuShell(rows);
    {
        DesktopSession session(fixture);
        ASSERT_TRUE(session.started()) << session.why();
        auto status = drawnMenu(session, "Show in Dock");
        ASSERT_TRUE(status);
        ASSERT_TRUE(session.send("pick", {{"item", *desktop::findItem((*status)["menu"], "Show in Dock")}}));
        EXPECT_TRUE(session.waitFor("activation-policy", [](const Json& s) { return s["policy"] == "regular"; }));
        ASSERT_TRUE(session.send("open-menu"));
        EXPECT_TRUE(drawnMenu(session, "Show in Dock ✓")) << "the row is marked the next time the menu opens";
        ASSERT_TRUE(session.sync());
        EXPECT_TRUE(receivedByTheShell().empty()) << "the dock row's pick stays in the host";
        session.host().signal(SIGTERM);
        EXPECT_EQ(session.host().waitForTheEnd(), 143);
    }
    EXPECT_EQ(Json::parse(readText(fixture.root() / "home" / ".config" / "app.example.demo" / "user-defaults.json")),
              Json({{"ShowInDockAndAppSwitcher", true}}));
    DesktopSession again(fixture);
    ASSERT_TRUE(again.started()) << again.why();
    EXPECT_TRUE(again.waitFor("activation-policy", [](const Json& s) { return s["policy"] == "regular"; }))
        << "the remembered choice is applied at the first draw";
}

}  // namespace
