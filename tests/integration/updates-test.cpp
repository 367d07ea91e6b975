// Updates through the real host, a frozen shell and the project's own views library, whose
// updater answers as each test tells it: the rows after the shell's, the start at launch, the
// update-check signal, and switching channels with the alerts the desktop is shown.
#include <gtest/gtest.h>

#include <csignal>

#include "desktop-session.h"

using namespace testing_support;

namespace {

const std::string stableFeed = "https://example.org/stable.xml";
const std::string betaFeed = "https://example.org/beta.xml";

const Json shellRows = Json::parse(R"([
    {"id": "hello", "title": "Hello", "enabled": true},
    {"id": "channels", "title": "Channel", "submenu": true},
    {"id": "channel.stable", "title": "Stable", "parent": "channels", "enabled": true},
    {"id": "channel.beta", "title": "Beta", "parent": "channels", "enabled": true}
])");

class Updates : public ::testing::Test {
protected:
    Updates() {
        writeText(fixture.contents() / "MacOS" / "shell", shellScript(), true);
        fixture.writeInfo(info());
        fixture.writeRuntime("demo-runtime.json", runtime({{"executable", "shell"}}));
        bundleTheViews();
    }

    static std::string shellScript() {
        return "#!/bin/sh\n"
               "printf '%s\\n' '" + Json({{"menu", shellRows}}).dump() + "'\n"
               "while IFS= read -r line; do printf '%s\\n' \"$line\" >> received; done\n";
    }
    static Json info() {
        return {{"CFBundleIdentifier", "app.example.demo"}, {"CFBundleVersion", "7"}, {"SUFeedURL", stableFeed},
                {"CFBundleURLTypes", Json::array({{{"CFBundleURLSchemes", {"demo"}}}})}};
    }
    static Json runtime(Json shell) {
        shell["menu"] = "child";
        shell["updateChoices"] = {{"key", "UpdateChannel"},
                                  {"rows", {{{"id", "channel.stable"}, {"choice", "stable"}, {"feed", stableFeed}},
                                            {{"id", "channel.beta"}, {"choice", "beta"}, {"feed", betaFeed}}}}};
        shell["menuAttribution"] = {{"id", "host.made-by"}, {"title", "Made by Example"}, {"url", "https://example.org/"}};
        return shell;
    }
    void bundleTheViews() const {
        fs::create_directories(fixture.contents() / "Frameworks");
        fs::copy_file(VIEWS_LIBRARY, fixture.contents() / "Frameworks" / "libViews.dylib",
                      fs::copy_options::overwrite_existing);
    }
    // The library's updater answers, read at each of its calls: renamed into place, so that a call
    // made while a test changes them never reads half a file.
    void updaterAnswers(const Json& answers) const {
        writeText(file("updater.json.new"), answers.dump());
        fs::rename(file("updater.json.new"), file("updater.json"));
    }

    std::unique_ptr<DesktopSession> start(std::vector<Json> setup = {}) {
        auto session = std::make_unique<DesktopSession>(
            fixture, std::move(setup), std::vector<std::string>{},
            std::map<std::string, std::string>{{"VIEWS_RECORD", file("views.jsonl").string()},
                                               {"VIEWS_UPDATER", file("updater.json").string()}});
        EXPECT_TRUE(session->started()) << session->why();
        return session;
    }

    fs::path file(const std::string& name) const { return fixture.root() / name; }
    std::vector<Json> records(const std::string& kind) const { return recordsOf(supportFolder(fixture) / "shell.jsonl", kind); }
    std::optional<Json> awaitRecord(const std::string& kind) const {
        std::optional<Json> found;
        RunningHost::eventually([&] {
            auto all = records(kind);
            if (!all.empty()) found = all.back();
            return found.has_value();
        });
        return found;
    }
    std::vector<Json> libraryCalls(const std::string& entry) const {
        std::vector<Json> calls;
        for (const Json& call : recordsOf(file("views.jsonl"))) {
            if (call.value("entry", "") == entry) calls.push_back(call);
        }
        return calls;
    }
    bool shellReceived(const Json& message) const {
        return RunningHost::eventually([&] {
            for (const Json& line : recordsOf(file("received"))) {
                if (line == message) return true;
            }
            return false;
        });
    }

    // The root menu's items, once a drawn menu satisfies `holds`.
    static std::optional<Json> menuWhere(DesktopSession& session, const std::function<bool(const Json& items)>& holds) {
        auto state = session.waitFor("status-items", [&](const Json& drawn) {
            const Json& items = drawn["items"];
            return !items.empty() && items[0]["menu"].is_object() && holds(items[0]["menu"]["items"]);
        });
        if (!state) return std::nullopt;
        return (*state)["items"][0]["menu"]["items"];
    }
    // The menu after the next opening, once it shows the check row as `enabled` and what `shows` asks for:
    // a redraw from before the opening may still be on its way.
    static std::optional<Json> openedMenu(DesktopSession& session, bool enabled = true,
                                          const std::function<bool(const Json& items)>& shows = nullptr) {
        session.desktop().mark();
        if (!session.send("open-menu")) return std::nullopt;
        return menuWhere(session, [&](const Json& items) {
            const Json* check = rowOf(items, "host.check-for-updates");
            return check && (*check)["enabled"] == enabled && (!shows || shows(items));
        });
    }
    static std::function<bool(const Json& items)> restartRowTitled(std::optional<std::string> title) {
        return [title](const Json& items) {
            const Json* restart = rowOf(items, "host.restart-to-update");
            return title ? restart && (*restart)["title"] == *title : !restart;
        };
    }
    static const Json* rowOf(const Json& items, const std::string& id) {
        for (const Json& item : items) {
            if (item.value("represented", "") == id) return &item;
        }
        return nullptr;
    }
    static std::vector<std::string> titlesOf(const Json& items) {
        std::vector<std::string> titles;
        for (const Json& item : items) titles.push_back(item.value("separator", false) ? "---" : item.value("title", ""));
        return titles;
    }
    static bool pick(DesktopSession& session, const Json& items, const std::string& title) {
        auto number = desktop::findItem({{"items", items}}, title);
        return number && session.send("pick", {{"item", *number}});
    }

    BundleFixture fixture;
};

TEST_F(Updates, WithoutAFrozenShellThereIsNoFeedNoRowAndNoCheck) {
    writeShellScript(fixture, shellScript(), runtime(Json::object()));
    fixture.writeInfo(info());  // the feed is there, but only a frozen bundle reads it
    auto session = start();
    auto items = menuWhere(*session, [](const Json& drawn) { return !drawn.empty(); });
    ASSERT_TRUE(items);
    EXPECT_EQ(titlesOf(*items), (std::vector<std::string>{"Hello", "Channel"}));
    session->host().signal(SIGURG);
    auto ignored = awaitRecord("update-check-ignored");
    ASSERT_TRUE(ignored);
    EXPECT_EQ((*ignored)["from"], "shell");
    EXPECT_EQ((*ignored)["feed"], nullptr);
    EXPECT_EQ((*ignored)["started"], false);
    EXPECT_FALSE(fs::exists(file("views.jsonl"))) << "the library is never asked";
    EXPECT_TRUE(records("updater-started").empty());
    EXPECT_TRUE(records("updater-failed").empty());
}

TEST_F(Updates, AFailedStartLeavesTheCheckRowDisabledWithoutARestartRow) {
    updaterAnswers({{"start", 5}, {"waiting", "1.0"}});
    auto session = start();
    auto failed = awaitRecord("updater-failed");
    ASSERT_TRUE(failed);
    EXPECT_EQ(*failed, Json({{"kind", "updater-failed"}, {"code", 5}, {"feed", stableFeed}, {"build", "7"},
                             {"at", (*failed)["at"]}, {"pid", session->host().pid()}}));
    auto items = openedMenu(*session, false);
    ASSERT_TRUE(items);
    EXPECT_EQ(titlesOf(*items), (std::vector<std::string>{"Hello", "Channel", "---", "Check for Updates…", "Made by Example"}));
    session->host().signal(SIGURG);
    auto ignored = awaitRecord("update-check-ignored");
    ASSERT_TRUE(ignored);
    EXPECT_EQ((*ignored)["feed"], stableFeed);
    EXPECT_EQ((*ignored)["started"], false);
    EXPECT_TRUE(libraryCalls("wickerly_check_for_updates").empty());
}

TEST_F(Updates, AMissingLibraryIsRecordedWithTheLoadersText) {
    fs::remove(fixture.contents() / "Frameworks" / "libViews.dylib");
    auto session = start();
    auto failed = awaitRecord("updater-failed");
    ASSERT_TRUE(failed);
    EXPECT_EQ((*failed)["why"], "symbol-missing");
    EXPECT_EQ((*failed)["views"], (fixture.contents() / "Frameworks" / "libViews.dylib").string());
    EXPECT_NE((*failed)["error"].get<std::string>().find("libViews.dylib"), std::string::npos) << *failed;
    EXPECT_TRUE(openedMenu(*session, false));
}

TEST_F(Updates, AWaitingUpdateShowsTheRestartRowAndEveryRowChecks) {
    updaterAnswers({{"waiting", "1.2.3"}});
    auto session = start();
    ASSERT_TRUE(awaitRecord("updater-started"));
    EXPECT_EQ(libraryCalls("wickerly_start_updater"), (std::vector<Json>{{{"entry", "wickerly_start_updater"}, {"feed", stableFeed}}}));
    auto items = openedMenu(*session);
    ASSERT_TRUE(items);
    EXPECT_EQ(titlesOf(*items), (std::vector<std::string>{"Hello", "Channel", "---", "Restart to Update (1.2.3)",
                                                          "Check for Updates…", "Made by Example"}));
    EXPECT_EQ((*rowOf(*items, "host.check-for-updates"))["identifier"], "menu-row:check-for-updates");
    EXPECT_EQ((*rowOf(*items, "host.restart-to-update"))["image"]["symbol"], "arrow.clockwise");

    updaterAnswers({{"waiting", ""}});
    items = openedMenu(*session, true, restartRowTitled("Restart to Update"));
    ASSERT_TRUE(items) << "no version, no parentheses";
    EXPECT_EQ((*items)[3]["title"], "Restart to Update");

    ASSERT_TRUE(pick(*session, *items, "Restart to Update"));
    ASSERT_TRUE(pick(*session, *items, "Check for Updates…"));
    ASSERT_TRUE(pick(*session, *items, "Made by Example"));
    EXPECT_TRUE(session->waitFor("open-url", [](const Json& s) { return s["url"] == "https://example.org/"; }));
    session->host().signal(SIGURG);
    EXPECT_TRUE(session->waitFor("activate", [](const Json& s) { return s["ignoringOtherApps"] == true; }));
    ASSERT_TRUE(RunningHost::eventually([&] { return records("update-check").size() == 3; }));
    std::vector<std::string> origins;
    for (const Json& check : records("update-check")) origins.push_back(check["from"]);
    EXPECT_EQ(origins, (std::vector<std::string>{"restart-to-update", "menu", "shell"}));
    EXPECT_EQ(libraryCalls("wickerly_check_for_updates").size(), 3u);
    ASSERT_TRUE(session->sync());
    EXPECT_FALSE(fs::exists(file("received"))) << "the host's rows never reach the shell";

    updaterAnswers(Json::object());
    EXPECT_TRUE(openedMenu(*session, true, restartRowTitled(std::nullopt))) << "gone once nothing waits";
}

TEST_F(Updates, AnAcceptedChannelSwitchIsStoredAndUsedAtTheNextStart) {
    {
        auto session = start();
        ASSERT_TRUE(awaitRecord("updater-started"));
        auto items = menuWhere(*session, [](const Json& drawn) { return !drawn.empty(); });
        ASSERT_TRUE(items);
        ASSERT_TRUE(pick(*session, *items, "Beta"));
        EXPECT_TRUE(shellReceived({{"opened", true}}));
        EXPECT_EQ(libraryCalls("wickerly_set_update_feed"),
                  (std::vector<Json>{{{"entry", "wickerly_set_update_feed"}, {"feed", betaFeed}}}));
        EXPECT_EQ(Json::parse(readText(fixture.home() / ".config" / "app.example.demo" / "user-defaults.json")),
                  Json({{"UpdateChannel", "beta"}}));
        ASSERT_TRUE(pick(*session, *items, "Beta"));  // already in force: nothing happens
        ASSERT_TRUE(session->sync());
        EXPECT_EQ(libraryCalls("wickerly_set_update_feed").size(), 1u);
        EXPECT_TRUE(session->statesOf("alert").empty());
        session->host().signal(SIGTERM);
        EXPECT_EQ(session->host().waitForTheEnd(), 143);
    }
    auto again = start();
    ASSERT_TRUE(RunningHost::eventually([&] { return records("updater-started").size() == 2; }));
    EXPECT_EQ(records("updater-started").back()["feed"], betaFeed);
}

TEST_F(Updates, ARefusedChannelSwitchIsRecordedAndAlerted) {
    updaterAnswers({{"setFeed", 7}});
    auto session = start();
    auto items = menuWhere(*session, [](const Json& drawn) { return !drawn.empty(); });
    ASSERT_TRUE(items);
    ASSERT_TRUE(pick(*session, *items, "Beta"));
    auto alert = session->waitFor("alert");
    ASSERT_TRUE(alert);
    EXPECT_EQ((*alert)["message"], "Couldn’t switch update channels");
    EXPECT_TRUE(session->send("alert-answer", {{"alert", (*alert)["alert"]}, {"button", 0}}));
    auto failed = awaitRecord("update-channel-change-failed");
    ASSERT_TRUE(failed);
    EXPECT_EQ((*failed)["choice"], "beta");
    EXPECT_EQ((*failed)["code"], 7);
    ASSERT_TRUE(session->sync());
    EXPECT_FALSE(fs::exists(fixture.home() / ".config" / "app.example.demo" / "user-defaults.json"));
    EXPECT_FALSE(fs::exists(file("received"))) << "the shell hears nothing of a refused switch";
}

TEST_F(Updates, AWaitingUpdateBlocksTheSwitchAndEveryTextIsTurkish) {
    updaterAnswers({{"waiting", "2.0"}});
    auto session = start({{{"event", "languages"}, {"languages", {"tr-TR", "en"}}}});
    ASSERT_TRUE(awaitRecord("updater-started"));
    auto items = openedMenu(*session);
    ASSERT_TRUE(items);
    EXPECT_EQ(titlesOf(*items), (std::vector<std::string>{"Hello", "Channel", "---", "Güncellemek İçin Yeniden Başlat (2.0)",
                                                          "Güncellemeleri Denetle…", "Made by Example"}));
    ASSERT_TRUE(pick(*session, *items, "Beta"));
    auto alert = session->waitFor("alert");
    ASSERT_TRUE(alert);
    EXPECT_EQ((*alert)["message"], "Bir güncelleme bekliyor");
    EXPECT_EQ((*alert)["informative"], "Kanalı değiştirmeden önce bekleyen güncellemeyi tamamla.");
    EXPECT_TRUE(session->send("alert-answer", {{"alert", (*alert)["alert"]}, {"button", 0}}));
    ASSERT_TRUE(session->sync());
    EXPECT_TRUE(libraryCalls("wickerly_set_update_feed").empty());
    EXPECT_TRUE(records("update-channel-change-failed").empty());
}

}  // namespace
