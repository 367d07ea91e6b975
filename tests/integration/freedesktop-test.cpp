// The host on a desktop session of the test's own: a private bus on which the test plays the
// panel (its status notifier watcher and its menu calls), the notification server and logind.
#include <gtest/gtest.h>
#include <signal.h>

#include <climits>
#include <sstream>

#include "private-bus.h"
#include "running-host.h"

namespace testing_support {
namespace {

constexpr const char* ITEM_INTERFACE = "org.kde.StatusNotifierItem";
constexpr const char* MENU_INTERFACE = "com.canonical.dbusmenu";
constexpr const char* APPLICATION_PATH = "/app/example/demo";

struct LayoutRow {
    std::int32_t id = 0;
    std::int32_t parent = 0;
    std::string label;
    std::map<std::string, std::string> properties;  // as GVariant prints them
};

void flatten(GVariant* layout, std::int32_t parent, std::vector<LayoutRow>& rows) {
    gint32 id = 0;
    GVariant *properties = nullptr, *children = nullptr;
    g_variant_get(layout, "(i@a{sv}@av)", &id, &properties, &children);
    LayoutRow row{id, parent, "", {}};
    GVariantIter iter;
    g_variant_iter_init(&iter, properties);
    const gchar* key = nullptr;
    GVariant* value = nullptr;
    while (g_variant_iter_next(&iter, "{&sv}", &key, &value)) {
        gchar* text = g_variant_print(value, FALSE);
        row.properties[key] = text;
        if (std::string(key) == "label") row.label = g_variant_get_string(value, nullptr);
        g_free(text);
        g_variant_unref(value);
    }
    rows.push_back(row);
    g_variant_iter_init(&iter, children);
    GVariant* child = nullptr;
    while (g_variant_iter_next(&iter, "v", &child)) {
        flatten(child, id, rows);
        g_variant_unref(child);
    }
    g_variant_unref(properties);
    g_variant_unref(children);
}

// The demo's rows as its shell publishes them, and one row with every modifier and an underscore.
Json demoRows(const fs::path& recent, bool headerHidden = false) {
    Json header = {{"kind", "header"}, {"title", "Demo"}, {"symbol", "sparkles"}, {"badge", "circle.fill"},
                   {"pointSize", 16}, {"tooltip", "Menu-bar host demo"}};
    if (headerHidden) header["hidden"] = true;
    return Json::array({
        header,
        {{"id", "clock"}, {"title", "Opened at 10:00:00 (0 times)"}, {"enabled", false}},
        {{"kind", "separator"}},
        {{"id", "hello"}, {"title", "Say hello"}, {"enabled", true}, {"key", "⌘H"}, {"symbol", "paperplane"}},
        {{"id", "more"}, {"title", "More"}, {"submenu", true}, {"enabled", true}},
        {{"id", "count"}, {"title", "Picks so far: 0"}, {"parent", "more"}, {"enabled", true}},
        {{"id", "host.show-in-dock"}, {"title", "Show in Dock"}, {"parent", "more"}, {"enabled", true}},
        {{"id", "recent"}, {"title", "Recent"}, {"submenu", true}, {"enabled", true}, {"submenuFile", recent.string()},
         {"submenuSelectionMark", " ✓"}},
        {{"id", "note"}, {"title", "Show a note"}, {"enabled", true}, {"symbol", "doc"}},
        {{"id", "snake"}, {"title", "snake_case row"}, {"enabled", true}, {"key", "⌃⌥⇧⌘K"}},
        {{"kind", "separator"}},
        {{"id", "quit"}, {"title", "Quit Demo"}, {"enabled", true}, {"key", "⌘Q"}},
    });
}

class Freedesktop : public ::testing::Test {
protected:
    BundleFixture fixture;
    PrivateBus bus{fixture.root()};
    std::unique_ptr<BusConnection> panel;
    std::unique_ptr<RunningHost> host;

    void SetUp() override {
        ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
        panel = std::make_unique<BusConnection>(bus.address());
        ASSERT_NE(panel->get(), nullptr);
        // A theme that has one of the demo's symbols under its standard name.
        writeText(fixture.root() / "share/icons/hicolor/16x16/actions/mail-send-symbolic.png", "");
        writeText(recentFile(), R"({"rows": [{"id": "r1", "title": "Report.pdf", "checked": true},
            {"id": "r2", "title": "Notes.txt"}, {"separator": true},
            {"id": "older", "title": "Older", "submenu": [{"id": "r3", "title": "Plan.md"}]}]})");
    }

    fs::path recentFile() const { return fixture.root() / "recent.json"; }

    std::map<std::string, std::string> environment() const {
        auto variables = bus.environment();
        variables["XDG_DATA_DIRS"] = (fixture.root() / "share").string();
        return variables;
    }

    void writeTheApp(Json runtime = {{"menu", "child"}, {"opened", "tell"}}) {
        writeRelayShell(fixture, std::move(runtime));
        fixture.writeInfo({{"CFBundleIdentifier", "app.example.demo"},
                           {"CFBundleDisplayName", "Demo Display"},
                           {"CFBundleURLTypes", Json::array({{{"CFBundleURLSchemes", {"demo"}}}})}});
    }

    void start(std::vector<std::string> arguments = {}) {
        host = std::make_unique<RunningHost>(fixture, std::move(arguments), environment());
    }

    std::string itemName() const { return "org.kde.StatusNotifierItem-" + std::to_string(host->pid()) + "-1"; }

    std::vector<LayoutRow> layout(std::int32_t parent = 0, std::int32_t depth = -1) {
        std::vector<LayoutRow> rows;
        auto reply = menuCall("GetLayout", g_variant_new("(ii@as)", parent, depth, g_variant_new_strv(nullptr, 0)));
        if (!reply) return rows;
        GVariant* tree = g_variant_get_child_value(reply->get(), 1);
        flatten(tree, -1, rows);
        g_variant_unref(tree);
        return rows;
    }

    std::optional<Variant> menuCall(const std::string& method, GVariant* parameters, std::string* error = nullptr) {
        return panel->call(itemName(), "/MenuBar", MENU_INTERFACE, method, parameters, error);
    }

    std::optional<LayoutRow> rowLabelled(const std::string& label) {
        for (auto& row : layout()) {
            if (row.label == label) return row;
        }
        return std::nullopt;
    }

    std::int32_t idOf(const std::string& label) {
        auto row = rowLabelled(label);
        return row ? row->id : -1;
    }

    bool drawTheDemo(bool headerHidden = false) {
        tellTheHostAsTheShell(fixture, {{{"menu", demoRows(recentFile(), headerHidden)}}});
        return RunningHost::eventually([&] { return idOf("Quit Demo") > 0; });
    }

    std::string itemText(const char* property) {
        auto value = panel->property(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, property);
        return value ? textOf(value->get()) : "<none>";
    }

    bool shellReceived(const Json& message) {
        return RunningHost::eventually([&] {
            std::istringstream lines(readText(fixture.root() / "received"));
            for (std::string line; std::getline(lines, line);) {
                if (Json::parse(line, nullptr, false) == message) return true;
            }
            return false;
        });
    }

    std::vector<Json> deathRecords(const std::string& kind) { return recordsOf(supportFolder(fixture) / "shell.jsonl", kind); }

    bool quitFromTheDesktopEntry() {
        return panel->call("app.example.demo", APPLICATION_PATH, "org.freedesktop.Application", "ActivateAction",
                           g_variant_new("(s@av@a{sv})", "quit", g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0),
                                         g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)))
            .has_value();
    }

    bool ownsTheApplicationName() {
        auto reply = panel->call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "NameHasOwner", g_variant_new("(s)", "app.example.demo"));
        gboolean owned = FALSE;
        if (reply) g_variant_get(reply->get(), "(b)", &owned);
        return owned;
    }
};

TEST_F(Freedesktop, TheChoiceOfTheDesktopIsSaidOnStandardError) {
    writeShellScript(fixture, "exit 3\n");
    // No DISPLAY reaches the host: whatever the window system says of that follows.
    const std::string noDisplay = "no X display: ";
    struct Case {
        std::map<std::string, std::string> variables;
        std::string firstLine;
    } cases[] = {
        {{{"MENU_BAR_DESKTOP", "headless"}, {"DBUS_SESSION_BUS_ADDRESS", bus.address()}},
         "desktop: headless (MENU_BAR_DESKTOP=headless)"},
        {{{"MENU_BAR_DESKTOP", ""}},
         "desktop: headless (no session bus: DBUS_SESSION_BUS_ADDRESS is not set; " + noDisplay},
        {{{"MENU_BAR_DESKTOP", ""}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (fixture.root() / "none").string()}},
         "desktop: headless (no session bus: "},
        {environment(), "desktop: freedesktop (session bus " + bus.address() + "; " + noDisplay},
    };
    for (const auto& [variables, firstLine] : cases) {
        RunningHost run(fixture, {}, variables);
        EXPECT_EQ(run.waitForTheEnd(), 3);
        EXPECT_EQ(run.err().substr(0, firstLine.size()), firstLine) << run.err();
    }
}

TEST_F(Freedesktop, AHeadlessHostOwnsNoBusName) {
    writeTheApp();
    auto variables = environment();
    variables["MENU_BAR_DESKTOP"] = "headless";
    host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{}, variables);
    tellTheHostAsTheShell(fixture, {{{"focus", "replies"}}});
    ASSERT_TRUE(RunningHost::eventually([&] { return fs::exists(fixture.root() / "received"); }));
    EXPECT_FALSE(ownsTheApplicationName());
    EXPECT_FALSE(panel->property(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, "Id").has_value());
}

TEST_F(Freedesktop, TheStatusItemRegistersAndShowsTheDemosRows) {
    TestWatcher watcher(bus.address());
    ASSERT_TRUE(watcher.started());
    writeTheApp();
    start();
    ASSERT_TRUE(drawTheDemo());
    ASSERT_TRUE(RunningHost::eventually([&] { return watcher.registered() == std::vector<std::string>{itemName()}; }));

    const std::pair<const char*, std::string> item[] = {
        {"Category", "ApplicationStatus"}, {"Id", "app.example.demo"}, {"Title", "Demo Display"},
        {"Status", "Active"}, {"IconName", ""}, {"Menu", "/MenuBar"}, {"XAyatanaLabel", "Demo"}, {"XAyatanaLabelGuide", "Demo"},
    };
    for (const auto& [property, expected] : item) EXPECT_EQ(itemText(property), expected) << property;
    auto menuFlag = panel->property(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, "ItemIsMenu");
    ASSERT_TRUE(menuFlag);
    EXPECT_TRUE(g_variant_get_boolean(menuFlag->get()));
    auto toolTip = panel->property(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, "ToolTip");
    ASSERT_TRUE(toolTip);
    const gchar* toolTipTitle = nullptr;
    g_variant_get(toolTip->get(), "(&s@a(iiay)&s&s)", nullptr, nullptr, &toolTipTitle, nullptr);
    EXPECT_STREQ(toolTipTitle, "Menu-bar host demo");
    // The badge is drawn into the host's own pixmaps, square and 4 bytes a pixel.
    auto pixmaps = panel->property(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, "IconPixmap");
    ASSERT_TRUE(pixmaps);
    ASSERT_GT(g_variant_n_children(pixmaps->get()), 0u);
    for (std::size_t i = 0; i < g_variant_n_children(pixmaps->get()); ++i) {
        gint32 width = 0, height = 0;
        GVariant* bytes = nullptr;
        g_variant_get_child(pixmaps->get(), i, "(ii@ay)", &width, &height, &bytes);
        EXPECT_EQ(width, height);
        EXPECT_EQ(g_variant_n_children(bytes), static_cast<std::size_t>(width * height * 4));
        g_variant_unref(bytes);
    }

    auto rows = layout();
    const std::map<std::string, std::map<std::string, std::string>> expected = {
        {"Demo", {{"enabled", "false"}}},
        {"Opened at 10:00:00 (0 times)", {{"enabled", "false"}, {"visible", "true"}}},
        {"Say hello", {{"enabled", "true"}, {"icon-name", "'mail-send-symbolic'"}, {"shortcut", "[['Super', 'h']]"}}},
        {"More", {{"children-display", "'submenu'"}}},
        {"Picks so far: 0", {{"enabled", "true"}}},
        {"Show in Dock", {{"enabled", "true"}}},
        {"Recent", {{"children-display", "'submenu'"}}},
        {"Opening…", {{"enabled", "false"}}},
        {"snake__case row", {{"shortcut", "[['Control', 'Alt', 'Shift', 'Super', 'k']]"}}},
        {"Quit Demo", {{"shortcut", "[['Super', 'q']]"}}},
    };
    for (const auto& [label, properties] : expected) {
        auto row = std::find_if(rows.begin(), rows.end(), [&](const LayoutRow& each) { return each.label == label; });
        ASSERT_NE(row, rows.end()) << label;
        for (const auto& [name, value] : properties) EXPECT_EQ(row->properties[name], value) << label << " " << name;
    }
    // The header row stays first; symbols no theme has are drawn as PNG; separators are typed.
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[1].label, "Demo");
    EXPECT_EQ(rows[1].properties["icon-data"].substr(0, 24), "[0x89, 0x50, 0x4e, 0x47,");
    EXPECT_TRUE(rowLabelled("Show a note")->properties.contains("icon-data"));
    EXPECT_EQ(std::count_if(rows.begin(), rows.end(), [](auto& row) { return row.properties["type"] == "'separator'"; }), 2);
    EXPECT_EQ(rowLabelled("Picks so far: 0")->parent, idOf("More"));

    // A hidden header makes the item passive, announced by its signal.
    panel->recordSignals(ITEM_INTERFACE);
    ASSERT_TRUE(drawTheDemo(true));
    EXPECT_TRUE(RunningHost::eventually([&] { return itemText("Status") == "Passive"; }));
    EXPECT_TRUE(RunningHost::eventually([&] {
        auto seen = panel->signalsSeen();
        return std::find(seen.begin(), seen.end(), "NewStatus") != seen.end();
    }));
}

// The first watcher goes while the host's registration waits for its answer.
TEST_F(Freedesktop, AWatcherThatComesBackGetsTheItemAgain) {
    auto watcher = std::make_unique<TestWatcher>(bus.address(), false);
    writeTheApp();
    start();
    ASSERT_TRUE(drawTheDemo());
    ASSERT_TRUE(RunningHost::eventually([&] { return watcher->registered().size() == 1; }));
    watcher.reset();
    watcher = std::make_unique<TestWatcher>(bus.address());
    ASSERT_TRUE(watcher->started());
    EXPECT_TRUE(RunningHost::eventually([&] { return watcher->registered() == std::vector<std::string>{itemName()}; }));
    EXPECT_FALSE(host->waitForTheEnd(std::chrono::milliseconds(0)));
}

TEST_F(Freedesktop, ClicksAreShellPicksAndOpeningsDriveTheMenu) {
    writeTheApp();
    start();
    ASSERT_TRUE(drawTheDemo());
    auto event = [&](std::int32_t id, const char* name) {
        return menuCall("Event", g_variant_new("(isvu)", id, name, g_variant_new_int32(0), 0u)).has_value();
    };
    ASSERT_TRUE(event(idOf("Say hello"), "clicked"));
    EXPECT_TRUE(shellReceived({{"menu", "hello"}, {"title", "Say hello"}}));
    ASSERT_TRUE(event(0, "opened"));
    EXPECT_TRUE(shellReceived({{"opened", true}}));

    // The file submenu is read when it is about to show, and the answer says the layout changed.
    const std::int32_t recent = idOf("Recent");
    auto changed = menuCall("AboutToShow", g_variant_new("(i)", recent));
    ASSERT_TRUE(changed);
    gboolean needUpdate = FALSE;
    g_variant_get(changed->get(), "(b)", &needUpdate);
    EXPECT_TRUE(needUpdate);
    std::vector<std::string> labels;
    for (const auto& row : layout(recent, 1)) labels.push_back(row.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"Recent", "Report.pdf", "Notes.txt", "", "Older"}));
    EXPECT_EQ(rowLabelled("Report.pdf")->properties["toggle-state"], "1");
    ASSERT_TRUE(event(idOf("Report.pdf"), "clicked"));
    EXPECT_TRUE(shellReceived({{"menu", "r1"}, {"title", "Report.pdf ✓"}, {"branch", "recent"}}));

    // The Dock row, once on, shows as chosen after the next opening.
    ASSERT_TRUE(event(idOf("Show in Dock"), "clicked"));
    EXPECT_TRUE(RunningHost::eventually([&] {
        menuCall("AboutToShow", g_variant_new("(i)", 0));
        auto row = rowLabelled("Show in Dock");
        return row && row->properties["toggle-state"] == "1";
    }));
}

TEST_F(Freedesktop, BadCallsGetErrorsAndTheHostRunsOn) {
    writeTheApp();
    start();
    ASSERT_TRUE(drawTheDemo());
    const std::int32_t gone = idOf("Say hello");
    const std::int32_t separator = layout()[3].id;
    ASSERT_TRUE(drawTheDemo());  // a redraw: the old items are removed
    // The first draw's rows answer until the redraw is published.
    ASSERT_TRUE(RunningHost::eventually([&] {
        const std::int32_t now = idOf("Say hello");
        return now > 0 && now != gone;
    }));
    auto emptyNames = [] { return g_variant_new_strv(nullptr, 0); };
    struct Case {
        const char* what;
        const char* method;
        GVariant* parameters;
    } refused[] = {
        {"wrong types", "GetLayout", g_variant_new("(ss)", "0", "-1")},
        {"unknown parent", "GetLayout", g_variant_new("(ii@as)", 999999, -1, emptyNames())},
        {"unknown property", "GetProperty", g_variant_new("(is)", 0, "no-such-property")},
        {"removed item", "Event", g_variant_new("(isvu)", gone, "clicked", g_variant_new_int32(0), 0u)},
        {"separator clicked", "Event", g_variant_new("(isvu)", separator, "clicked", g_variant_new_int32(0), 0u)},
        {"unknown about to show", "AboutToShow", g_variant_new("(i)", -5)},
        {"only unknown events", "EventGroup",
         g_variant_new_parsed("([(%i, 'clicked', <0>, uint32 0)],)", gone)},
    };
    for (const auto& [what, method, parameters] : refused) {
        std::string error;
        EXPECT_FALSE(menuCall(method, g_variant_ref_sink(parameters), &error)) << what;
        EXPECT_FALSE(error.empty()) << what;
        g_variant_unref(parameters);
    }
    // A depth deeper than any menu is the whole tree.
    EXPECT_EQ(layout(0, INT_MAX).size(), layout(0, -1).size());
    std::string error;
    EXPECT_FALSE(panel->call(itemName(), "/StatusNotifierItem", ITEM_INTERFACE, "Activate",
                             g_variant_new("(s)", "x"), &error));
    EXPECT_FALSE(host->waitForTheEnd(std::chrono::milliseconds(0)));
    EXPECT_GT(idOf("Quit Demo"), 0);
}

TEST_F(Freedesktop, ASecondInstanceHandsItsArgumentsToTheFirst) {
    writeTheApp();
    start();
    ASSERT_TRUE(RunningHost::eventually([&] { return ownsTheApplicationName(); }));
    struct Case {
        std::vector<std::string> arguments;
        int status;
    } cases[] = {{{"demo://hello"}, 0}, {{}, 0}, {{"not-a-file-or-url"}, 1}};
    for (const auto& [arguments, status] : cases) {
        auto second = fixture.run(arguments, "", environment());
        EXPECT_EQ(second.status, status) << second.err;
    }
    EXPECT_TRUE(shellReceived({{"url", "demo://hello"}}));
    EXPECT_FALSE(host->waitForTheEnd(std::chrono::milliseconds(0)));
}

TEST_F(Freedesktop, AlertsAreAnsweredThroughTheNotificationServer) {
    TestNotificationServer server(bus.address(), {"actions", "body"});
    ASSERT_TRUE(server.started());
    writeTheApp();
    start();
    ASSERT_TRUE(RunningHost::eventually([&] { return ownsTheApplicationName(); }));
    // Cancel, then a dismissal (the cancel button), then Quit.
    const std::function<void(std::uint32_t)> answers[] = {
        [&](std::uint32_t id) { server.invoke(id, "1"); },
        [&](std::uint32_t id) { server.dismiss(id); },
        [&](std::uint32_t id) { server.invoke(id, "0"); },
    };
    std::size_t asked = 0;
    for (const auto& answer : answers) {
        ASSERT_TRUE(quitFromTheDesktopEntry());
        ASSERT_TRUE(RunningHost::eventually([&] { return server.shown().size() == asked + 1; }));
        const auto shown = server.shown()[asked++];
        EXPECT_EQ(shown.summary, "Quit Demo Display?");
        EXPECT_EQ(shown.body, "Every window and helper process of Demo Display will close.");
        EXPECT_EQ(shown.actions, (std::vector<std::string>{"0", "Quit", "1", "Cancel"}));
        answer(shown.id);
        if (asked < 3) {
            EXPECT_TRUE(RunningHost::eventually([&] { return deathRecords("quit-cancelled").size() == asked; }));
        }
    }
    EXPECT_EQ(host->waitForTheEnd(), 0);
    EXPECT_EQ(deathRecords("quit-confirmed").at(0)["asker"], "own");
}

// Whether or not it had answered the call that showed the alert, nobody chose: the quit is cancelled.
TEST_F(Freedesktop, AServerThatVanishesMidAlertIsACancel) {
    for (const bool answered : {true, false}) {
        SCOPED_TRACE(answered ? "after answering the call" : "before answering the call");
        auto server = std::make_unique<TestNotificationServer>(bus.address(), std::vector<std::string>{"actions"});
        if (!answered) server->withholdReplies();
        writeTheApp();
        start();
        ASSERT_TRUE(RunningHost::eventually([&] { return ownsTheApplicationName(); }));
        ASSERT_TRUE(quitFromTheDesktopEntry());
        ASSERT_TRUE(RunningHost::eventually([&] { return server->shown().size() == 1; }));
        server.reset();
        EXPECT_TRUE(RunningHost::eventually([&] { return deathRecords("quit-cancelled").size() == 1; }));
        EXPECT_FALSE(host->waitForTheEnd(std::chrono::milliseconds(0))) << host->err();
        host->signal(SIGTERM);
        host->waitForTheEnd();
        std::filesystem::remove(supportFolder(fixture) / "shell.jsonl");
    }
}

TEST_F(Freedesktop, WithoutActionsTheAlertTakesItsFirstButton) {
    TestNotificationServer server(bus.address(), {"body"});
    writeTheApp();
    start();
    ASSERT_TRUE(RunningHost::eventually([&] { return ownsTheApplicationName(); }));
    ASSERT_TRUE(quitFromTheDesktopEntry());
    EXPECT_EQ(host->waitForTheEnd(), 0);
    EXPECT_NE(host->err().find("alerts: the notification server offers no actions; each alert takes its first button\n"),
              std::string::npos)
        << host->err();
}

TEST_F(Freedesktop, AShutDownEndsTheShellWithoutAsking) {
    TestLogind logind(bus.address());
    ASSERT_TRUE(logind.started());
    writeTheApp();
    start();
    // The host subscribes in the background: announce until it hears.
    EXPECT_TRUE(RunningHost::eventually([&] {
        logind.announceTheShutdown();
        return host->waitForTheEnd(std::chrono::milliseconds(200)).has_value();
    }));
    EXPECT_EQ(host->waitForTheEnd(), 0);
    EXPECT_EQ(deathRecords("quit-confirmed").at(0)["asker"], "session");
}

}  // namespace
}  // namespace testing_support
