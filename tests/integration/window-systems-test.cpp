// The real host on window systems of the test's own: an X display (Xvfb) whose window manager,
// other applications and keyboard the test's client plays, and a session bus with a hot-key
// portal of the test's own where only Wayland is there. What the host put on the display is read
// back from the X server.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "fake-shortcuts-portal.h"
#include "private-bus.h"
#include "private-x-server.h"
#include "running-host.h"
#include "x-test-client.h"

using namespace testing_support;

namespace {

constexpr std::int32_t EDITOR = 4001;
constexpr std::int32_t VIEWER = 4002;
constexpr std::int64_t A_MINUTE = 60000;

const Json paletteChord = Json::array({{{"key", "⌘⇧K"}, {"url", "demo://palette"}}});
const Json palettePressed = {{"url", "demo://palette"}, {"source", "hotkey"}};

Json badge(std::int32_t pid, const std::string& text, std::int64_t ms) {
    return {{"badge", {{"pid", pid}, {"text", text}, {"ms", ms}}}};
}

// A bundle of the demo scheme around a relay shell, and what the host did with it.
class HostUnderTest : public ::testing::Test {
protected:
    void writeTheApp(Json info, Json runtime = Json::object()) {
        writeRelayShell(fixture, std::move(runtime));
        info["CFBundleIdentifier"] = "app.example.demo";
        info["CFBundleURLTypes"] = Json::array({{{"CFBundleURLSchemes", {"demo"}}}});
        fixture.writeInfo(info);
    }
    void start(const std::map<std::string, std::string>& environment) {
        host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{}, environment);
    }

    // How many lines the shell received that match, once there are at least `count`.
    std::size_t shellReceives(const std::function<bool(const Json&)>& matches, std::size_t count = 1) const {
        std::size_t found = 0;
        RunningHost::eventually([&] {
            const auto lines = recordsOf(fixture.root() / "received");
            found = static_cast<std::size_t>(std::count_if(lines.begin(), lines.end(), matches));
            return found >= count;
        });
        return found;
    }
    bool shellReceives(const Json& message, std::size_t count = 1) const {
        return shellReceives([&](const Json& line) { return line == message; }, count) >= count;
    }
    // The received lines from the first that matches on.
    std::vector<Json> receivedFrom(const std::function<bool(const Json&)>& first) const {
        auto lines = recordsOf(fixture.root() / "received");
        lines.erase(lines.begin(), std::find_if(lines.begin(), lines.end(), first));
        return lines;
    }

    bool activationHasStatuses(const std::vector<int>& statuses) const {
        return RunningHost::eventually([&] {
            Json file = Json::parse(readText(supportFolder(fixture) / "shortcut-activation.json"), nullptr, false);
            if (file.is_discarded()) return false;
            std::vector<int> found;
            for (const Json& row : file["rows"]) found.push_back(row["status"]);
            return found == statuses;
        });
    }

    BundleFixture fixture;
    std::unique_ptr<RunningHost> host;
};

class X11Desktop : public HostUnderTest {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);  // a display ended under the test's client is an error, not a signal
        ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
        ASSERT_TRUE(wm.connected());
        for (std::string name : {"Editor", "Viewer"}) {
            writeText(fixture.home() / ".local/share/applications" / ("org.example." + name + ".desktop"),
                      "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + name + "\nStartupWMClass=" + name + "\n");
        }
    }

    // The display and no session bus, unless `extra` names one.
    std::map<std::string, std::string> environment(const std::map<std::string, std::string>& extra = {}) const {
        std::map<std::string, std::string> variables{{"DISPLAY", server.display()},
                                                     {"MENU_BAR_DESKTOP", ""},
                                                     {"XDG_DATA_DIRS", (fixture.root() / "share").string()}};
        for (const auto& [name, value] : extra) variables[name] = value;
        return variables;
    }

    xcb_window_t windowOf(std::int32_t pid, const std::string& className) {
        return wm.makeWindow(TestWindow().ownedBy(pid).classed(className, className));
    }
    void pressThePaletteChord() {
        wm.press(wm.keycodeOf(XKB_KEY_k), {wm.keycodeOf(XKB_KEY_Super_L), wm.keycodeOf(XKB_KEY_Shift_L)});
    }

    PrivateXServer server;
    XTestClient wm{server.display()};
};

// The X11 libraries and GIO are loaded on first need: one that cannot be loaded leaves that
// display or bus unavailable, says which library, and the shell still runs.
TEST_F(X11Desktop, ALibraryThatCannotBeLoadedLeavesItsPartOutAndSaysWhich) {
    writeShellScript(fixture, "exit 3\n");
    const fs::path broken = fixture.root() / "broken-libraries";
    const std::string noBus = "unix:path=" + (fixture.root() / "no-bus").string();
    struct Case {
        const char* library;
        std::string bus;
        std::string firstLine;
    } cases[] = {
        {"libxcb-shape.so.0", "", "desktop: headless (no session bus: DBUS_SESSION_BUS_ADDRESS is not set; no X display: "
                              "the X11 libraries cannot be loaded: " + (broken / "libxcb-shape.so.0").string()},
        {"libgio-2.0.so.0", noBus, "desktop: freedesktop (no session bus: " + (broken / "libgio-2.0.so.0").string()},
    };
    for (const auto& [library, bus, firstLine] : cases) {
        fs::remove_all(broken);
        writeText(broken / library, "not a library");
        auto variables = environment({{"LD_LIBRARY_PATH", broken.string()}});
        if (!bus.empty()) variables["DBUS_SESSION_BUS_ADDRESS"] = bus;
        RunningHost run(fixture, {}, variables);
        EXPECT_EQ(run.waitForTheEnd(), 3) << library;
        EXPECT_EQ(run.err().substr(0, firstLine.size()), firstLine) << run.err();
    }
}

TEST_F(X11Desktop, ADeclaredChordIsPressedOncePerPressWhateverTheLocksAndARandRChangeIsADisplayChange) {
    writeTheApp({{"WickerlyHotKeys", paletteChord}, {"WickerlyDisplayChangeURL", "demo://displays"}});
    start(environment());
    ASSERT_TRUE(activationHasStatuses({0}));
    EXPECT_TRUE(host->err().starts_with("desktop: freedesktop (no session bus: DBUS_SESSION_BUS_ADDRESS is not set; X display " +
                                        server.display() + ")\n"))
        << host->err();

    pressThePaletteChord();
    wm.press(wm.keycodeOf(XKB_KEY_Caps_Lock));
    pressThePaletteChord();
    EXPECT_TRUE(shellReceives(palettePressed, 2));
    // The display's change comes after the presses and their releases: no release was a press.
    ASSERT_TRUE(wm.resizeTheScreen(800, 600));
    const Json displayChanged = {{"url", "demo://displays"}, {"source", "display-change"}};
    ASSERT_TRUE(shellReceives(displayChanged));
    const auto lines = receivedFrom([](const Json& line) { return line.contains("url"); });
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<Json>(lines.begin(), lines.begin() + 3),
              (std::vector<Json>{palettePressed, palettePressed, displayChanged}));
}

TEST_F(X11Desktop, AChordAnotherClientHoldsIsRefusedAndTakenOnTheNextActivation) {
    auto other = std::make_unique<XTestClient>(server.display());
    ASSERT_TRUE(other->grab(wm.keycodeOf(XKB_KEY_k), XCB_MOD_MASK_4 | XCB_MOD_MASK_SHIFT));
    writeTheApp({{"WickerlyHotKeys", paletteChord}});
    start(environment());
    ASSERT_TRUE(activationHasStatuses({-9878}));

    other.reset();  // its grab goes with its connection
    const xcb_window_t editor = windowOf(EDITOR, "Editor");
    wm.listClients({editor});
    wm.activate(editor);
    ASSERT_TRUE(activationHasStatuses({0}));
    pressThePaletteChord();
    EXPECT_TRUE(shellReceives(palettePressed));
}

// The snapshot whose active application is `front`, once one came.
std::function<bool(const Json&)> snapshotWithTheFront(const std::string& front) {
    return [front](const Json& line) {
        if (!line.contains("apps")) return false;
        std::vector<std::string> active;
        for (const Json& row : line["apps"]) {
            if (row["active"] == true) active.push_back(row["bundle"]);
        }
        return active == std::vector<std::string>{front};
    };
}

TEST_F(X11Desktop, SwitchingTheFrontWindowArmsTheChordsTellsTheAppsWatchAndReturnsTheFocus) {
    PrivateBus bus{fixture.root()};
    ASSERT_TRUE(bus.started()) << "dbus-daemon did not start";
    const xcb_window_t editor = windowOf(EDITOR, "Editor");
    const xcb_window_t viewer = windowOf(VIEWER, "Viewer");
    const xcb_window_t nobodys = wm.makeWindow(TestWindow().classed("x", "X"));  // no pid: no application
    wm.listClients({editor, viewer, nobodys});
    wm.activate(viewer);
    writeTheApp({{"WickerlyHotKeys",
                  Json::array({{{"key", "⌥1"}, {"url", "demo://editor/one"}, {"when", "front:org.example.Editor"}}})}});
    start(environment(bus.environment()));
    tellTheHostAsTheShell(fixture, {{{"watch", "apps"}}});
    ASSERT_TRUE(activationHasStatuses({-1}));
    ASSERT_GE(shellReceives(snapshotWithTheFront("org.example.Viewer")), 1u);
    const Json first = receivedFrom(snapshotWithTheFront("org.example.Viewer")).front();
    EXPECT_EQ(first["windows"], Json::array({{0, 0}, {VIEWER, 0}, {EDITOR, 0}}));
    const Json editorRow = {{"bundle", "org.example.Editor"}, {"name", "Editor"}, {"pid", EDITOR}, {"policy", 0},
                            {"active", false},
                            {"path", (fixture.home() / ".local/share/applications/org.example.Editor.desktop").string()}};
    EXPECT_NE(std::find(first["apps"].begin(), first["apps"].end(), editorRow), first["apps"].end()) << first;

    wm.activate(editor);
    ASSERT_TRUE(activationHasStatuses({0}));
    EXPECT_TRUE(shellReceives(snapshotWithTheFront("org.example.Editor")));
    wm.press(wm.keycodeOf(XKB_KEY_1), {wm.keycodeOf(XKB_KEY_Alt_L)});
    EXPECT_TRUE(shellReceives({{"url", "demo://editor/one"}, {"source", "hotkey"}}));
    wm.activate(viewer);
    ASSERT_TRUE(activationHasStatuses({-1}));

    // A link while the viewer is in front; then the host's own window comes to the front.
    BusConnection caller(bus.address());
    ASSERT_TRUE(caller.call("app.example.demo", "/app/example/demo", "org.freedesktop.Application", "Open",
                            g_variant_new("(^as@a{sv})", std::vector<const char*>{"demo://open/1", nullptr}.data(),
                                          g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0))));
    ASSERT_TRUE(shellReceives(Json{{"url", "demo://open/1"}}));
    const xcb_window_t hosts = windowOf(host->pid(), "Demo");
    wm.listClients({editor, viewer, nobodys, hosts});
    wm.activate(hosts);
    EXPECT_TRUE(shellReceives(snapshotWithTheFront("app.example.demo"))) << "the host's window is the host's bundle";
    std::vector<Json> focus;
    EXPECT_TRUE(RunningHost::eventually([&] {
        focus = recordsOf(supportFolder(fixture) / "links.jsonl");
        std::erase_if(focus, [](const Json& record) { return !record.contains("focus"); });
        return focus.size() >= 2;
    }));
    ASSERT_EQ(focus.size(), 2u);
    EXPECT_EQ(focus[0]["focus"], "launcher-active");
    EXPECT_EQ(focus[1]["focus"], "returned");
    EXPECT_EQ(focus[1]["to"], "org.example.Viewer");
    std::optional<xcb_window_t> asked;
    EXPECT_TRUE(RunningHost::eventually([&] { return (asked = wm.activationRequested()).has_value(); }));
    EXPECT_EQ(asked, viewer);
}

TEST_F(X11Desktop, ABadgeStandsOverTheFrontNormalWindowAndGoesAfterItsTime) {
    // The editor's normal window in its frame, and two windows of its own above it on other layers.
    const xcb_window_t normal = wm.makeWindow(TestWindow().at(100, 50, 400, 300).ownedBy(EDITOR));
    const xcb_window_t above = wm.makeWindow(TestWindow().at(150, 100, 200, 100).ownedBy(EDITOR));
    const xcb_window_t dock = wm.makeWindow(TestWindow().at(0, 0, 1280, 30).ownedBy(EDITOR).typed("_NET_WM_WINDOW_TYPE_DOCK"));
    wm.setFrameExtents(normal, 2, 2, 20, 2);
    wm.setStates(above, {"_NET_WM_STATE_ABOVE"});
    wm.listClients({normal, above, dock});
    wm.activate(normal);
    writeTheApp(Json::object(), {{"menu", "child"}});

    // 150 wide, centred on the framed window (98, 30, 404, 322), 52 below its top.
    const RunResult plan = fixture.run({"--badge-plan", R"({"badge":{"pid":4001,"text":"3 new","ms":600}})"}, "",
                                       environment());
    EXPECT_EQ(plan.status, 0) << plan.err;
    EXPECT_EQ(plan.out, R"({"badge":true,"frame":{"height":34,"width":150,"x":225,"y":82},"ignoresMouseEvents":true,)"
                        R"("ms":600,"nonactivating":true,"pid":4001,"window":{"height":322,"width":404,"x":98,"y":30}})"
                        "\n");

    start(environment());
    tellTheHostAsTheShell(fixture, {badge(EDITOR, "3 new", A_MINUTE)});
    std::optional<xcb_window_t> shown;
    ASSERT_TRUE(RunningHost::eventually([&] { return (shown = wm.newestWindowOf(host->pid())).has_value(); }));
    ASSERT_TRUE(wm.reachesTheMapState(*shown, XCB_MAP_STATE_VIEWABLE));
    EXPECT_EQ(wm.geometryOf(*shown), std::make_tuple(225, 82, 150, 34));
    EXPECT_TRUE(wm.isOnTop(*shown));

    tellTheHostAsTheShell(fixture, {badge(EDITOR, "soon gone", 100)});
    EXPECT_TRUE(wm.reachesTheMapState(*shown, XCB_MAP_STATE_UNMAPPED));
}

TEST_F(X11Desktop, ADisplayThatClosesUnderTheHostLeavesItRunningHeadless) {
    writeTheApp({{"WickerlyHotKeys", paletteChord}}, {{"menu", "child"}, {"hotkeys", "child"}});
    const xcb_window_t editor = windowOf(EDITOR, "Editor");
    wm.listClients({editor});
    wm.activate(editor);
    start(environment());
    ASSERT_TRUE(activationHasStatuses({0}));

    server.end();
    ASSERT_TRUE(RunningHost::eventually([&] { return host->err().find("desktop: the window system is gone (") != std::string::npos; }));
    // A badge draws nothing, and the shell's chords register as headless ones do.
    const Json rows = Json::array({{{"key", "⌘J"}, {"url", "demo://j"}, {"code", 38}, {"modifiers", 256}}});
    tellTheHostAsTheShell(fixture, {badge(EDITOR, "nowhere", 10), {{"hotkeys", rows}}});
    EXPECT_TRUE(shellReceives(Json{{"hotkeys", Json::array({{{"key", "⌘J"}, {"status", 0}}})}}));
    EXPECT_FALSE(hasEnded(host->pid()));
}

class WaylandDesktop : public HostUnderTest {
protected:
    void SetUp() override { ASSERT_TRUE(bus.started()) << "dbus-daemon did not start"; }

    // Wayland and the bus, no X display.
    std::map<std::string, std::string> environment() const {
        auto variables = bus.environment();
        variables["WAYLAND_DISPLAY"] = "wayland-test";
        return variables;
    }

    PrivateBus bus{fixture.root()};
};

TEST_F(WaylandDesktop, TheHotKeyPortalIsUsedWhereThereIsOne) {
    writeShellScript(fixture, "exit 3\n");
    const std::string said = "desktop: freedesktop (session bus " + bus.address() + "; no X display: DISPLAY is not set; ";
    struct Case {
        bool portal;
        std::string rest;
    } cases[] = {
        {false, "Wayland: no GlobalShortcuts portal: "},
        {true, "Wayland hot keys through the GlobalShortcuts portal)\n"},
    };
    std::optional<FakeShortcutsPortal> portal;
    for (const auto& [withThePortal, rest] : cases) {
        if (withThePortal) {
            ASSERT_TRUE(portal.emplace(bus.address(), FakeShortcutsPortal::Answers{}).ready());
        }
        RunningHost run(fixture, {}, environment());
        EXPECT_EQ(run.waitForTheEnd(), 3);
        EXPECT_TRUE(run.err().starts_with(said + rest)) << run.err();
    }
}

TEST_F(WaylandDesktop, ChordsThePortalRefusesShowTheirStatusAndAreAskedForAgain) {
    FakeShortcutsPortal portal(bus.address(), {0, 1, {}});  // the user declines every bind
    ASSERT_TRUE(portal.ready());
    writeTheApp({{"WickerlyHotKeys", paletteChord}}, {{"hotkeys", "child"}});
    start(environment());
    EXPECT_TRUE(activationHasStatuses({-128}));

    const Json rows = Json::array({{{"key", "⌥1"}, {"url", "demo://one"}, {"code", 18}, {"modifiers", 2048}}});
    const Json declined = {{"hotkeys", Json::array({{{"key", "⌥1"}, {"status", -128}}})}};
    tellTheHostAsTheShell(fixture, {{{"hotkeys", rows}}});
    EXPECT_TRUE(shellReceives(declined));
    // Publishing again registers the row again: the portal is asked, and declines, once more.
    tellTheHostAsTheShell(fixture, {{{"hotkeys", rows}}});
    EXPECT_TRUE(shellReceives(declined, 2));
    EXPECT_GE(portal.binds().size(), 3u);
}

}  // namespace
