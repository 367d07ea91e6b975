// The X11 window system against a private Xvfb: the test's own client plays the other
// applications and the window manager, presses keys through XTEST and reads back what the host
// put on the screen.
#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <xcb/shape.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include "../unit/main-queue.h"
#include "bundle-fixture.h"
#include "platform/badge-panel.h"
#include "platform/processes.h"
#include "platform/x11/x11-window-system.h"
#include "private-x-server.h"
#include "x-test-client.h"

using namespace host::platform;
using testing_support::runTheLoopUntil;
using testing_support::TestWindow;

namespace {

constexpr std::int32_t HOST_PID = 900001;
constexpr std::uint32_t COMMAND = 256, SHIFT = 512, OPTION = 2048, CONTROL = 4096;
constexpr std::uint32_t SIGNATURE = 0x576b484b;  // 'WkHK'

using Change = std::pair<WorkspaceChange, std::int32_t>;

class X11WindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);  // as in the host: a dead display is an error, not a signal
        ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
        ASSERT_TRUE(client.connected());
        // The applications' entries come from the test's own folders alone.
        setenv("XDG_DATA_HOME", (folder.path() / "data").c_str(), 1);
        setenv("XDG_DATA_DIRS", (folder.path() / "none").c_str(), 1);
        testing_support::writeText(folder.path() / "data/applications/org.example.Editor.desktop",
                                   "[Desktop Entry]\nType=Application\nName=Editor\nExec=editor %F\nStartupWMClass=Editor\n");
        testing_support::writeText(folder.path() / "data/applications/tools/runner.desktop",
                                   "[Desktop Entry]\nType=Application\nName=Runner\nExec=" +
                                       executablePathOf(getpid()).value_or("?") + " --run\n");
    }

    void open() {
        std::string why;
        system = openTheX11WindowSystem(server.display().c_str(), HOST_PID, &why);
        ASSERT_TRUE(system) << why;
        system->setEvents({[this](WorkspaceChange change, const RunningApplication& application) {
                               changes.emplace_back(change, application.pid);
                               applications.push_back(application);
                           },
                           [this] { ++hostActivations; },
                           [this](HotKeyId id) {
                               presses.push_back(id.id);
                               return true;
                           },
                           [this](std::uint32_t flags) { displayFlags.push_back(flags); },
                           [this](const std::string& reason) { lost = reason; },
                           {}});
    }

    bool waitForChanges(std::size_t count) {
        return runTheLoopUntil([&] { return changes.size() >= count; });
    }

    // Presses until the press is heard: a grab moved by a new mapping takes a moment to move.
    bool pressUntilHeard(xcb_keycode_t key, const std::vector<xcb_keycode_t>& held) {
        const std::size_t before = presses.size();
        for (int attempt = 0; attempt < 50 && presses.size() == before; ++attempt) {
            client.press(key, held);
            bool heard = false;
            host::loop::Timer patience;
            patience.startOnce(0.2, [&] { heard = true; });
            host::loop::runTheLoopUntil([&] { return heard || presses.size() > before; });
        }
        return presses.size() > before;
    }

    testing_support::TemporaryFolder folder;
    testing_support::PrivateXServer server;
    testing_support::XTestClient client{server.display()};
    std::unique_ptr<WindowSystem> system;
    std::vector<Change> changes;
    std::vector<RunningApplication> applications;
    std::vector<std::uint32_t> presses;
    std::vector<std::uint32_t> displayFlags;
    std::optional<std::string> lost;
    int hostActivations = 0;
};

struct ChordCase {
    std::uint32_t code;
    std::uint32_t modifiers;
    std::uint32_t key;
    std::vector<std::uint32_t> held;
};

TEST_F(X11WindowSystemTest, ChordsArePressedOncePerPressWhateverTheLocks) {
    open();
    const ChordCase chords[] = {
        {40, COMMAND | SHIFT, XKB_KEY_k, {XKB_KEY_Super_L, XKB_KEY_Shift_L}},
        {18, OPTION, XKB_KEY_1, {XKB_KEY_Alt_L}},
        {10, CONTROL, XKB_KEY_grave, {XKB_KEY_Control_L}},  // the key left of 1
        {50, 0, XKB_KEY_grave, {}},
    };
    std::vector<std::pair<xcb_keycode_t, std::vector<xcb_keycode_t>>> keys;
    for (std::uint32_t i = 0; i < std::size(chords); ++i) {
        const HotKeyRegistration registration = system->registerHotKey(chords[i].code, chords[i].modifiers, {SIGNATURE, i}, 0);
        ASSERT_EQ(registration.status, 0) << "chord " << i;
        std::vector<xcb_keycode_t> held;
        for (std::uint32_t modifier : chords[i].held) held.push_back(client.keycodeOf(modifier));
        keys.emplace_back(client.keycodeOf(chords[i].key), held);
    }
    const xcb_keycode_t capsLock = client.keycodeOf(XKB_KEY_Caps_Lock), numLock = client.keycodeOf(XKB_KEY_Num_Lock);
    std::vector<std::uint32_t> expected;
    // No lock, Caps Lock, both, Num Lock alone: each toggle press changes one lock.
    for (xcb_keycode_t toggle : {xcb_keycode_t{0}, capsLock, numLock, capsLock}) {
        if (toggle) client.press(toggle);
        for (std::uint32_t i = 0; i < keys.size(); ++i) {
            client.press(keys[i].first, keys[i].second);
            expected.push_back(i);
        }
    }
    ASSERT_TRUE(runTheLoopUntil([&] { return presses.size() >= expected.size(); }));
    EXPECT_EQ(presses, expected);
}

TEST_F(X11WindowSystemTest, AChordHeldElsewhereIsRefusedAndAReleasedOneIsNotPressed) {
    open();
    const xcb_keycode_t j = client.keycodeOf(XKB_KEY_j), l = client.keycodeOf(XKB_KEY_l);
    ASSERT_TRUE(client.grab(j, XCB_MOD_MASK_4));
    EXPECT_EQ(system->registerHotKey(38, COMMAND, {SIGNATURE, 1}, 0).status, HOT_KEY_EXISTS_STATUS);
    const HotKeyRegistration first = system->registerHotKey(37, COMMAND, {SIGNATURE, 2}, 0);
    ASSERT_EQ(first.status, 0);
    EXPECT_EQ(system->registerHotKey(37, COMMAND, {SIGNATURE, 3}, 0).status, HOT_KEY_EXISTS_STATUS);
    // No key for that code, and a modifier bit X has no modifier for.
    EXPECT_EQ(system->registerHotKey(200, COMMAND, {SIGNATURE, 4}, 0).status, -50);
    EXPECT_EQ(system->registerHotKey(37, 1u << 16, {SIGNATURE, 5}, 0).status, -50);

    system->unregisterHotKey(first.reference);
    const HotKeyRegistration again = system->registerHotKey(37, SHIFT, {SIGNATURE, 6}, 0);
    ASSERT_EQ(again.status, 0);
    const xcb_keycode_t super = client.keycodeOf(XKB_KEY_Super_L), shift = client.keycodeOf(XKB_KEY_Shift_L);
    client.press(l, {super});
    client.press(l, {shift});
    ASSERT_TRUE(runTheLoopUntil([&] { return !presses.empty(); }));
    EXPECT_EQ(presses, std::vector<std::uint32_t>{6});
}

TEST_F(X11WindowSystemTest, ChordsFollowANewKeyboardMapping) {
    open();
    ASSERT_EQ(system->registerHotKey(40, OPTION, {SIGNATURE, 7}, 0).status, 0);
    const xcb_keycode_t k = client.keycodeOf(XKB_KEY_k), f12 = client.keycodeOf(XKB_KEY_F12);
    const xcb_keycode_t alt = client.keycodeOf(XKB_KEY_Alt_L);
    client.mapKeysym(f12, XKB_KEY_k);
    client.mapKeysym(k, XKB_KEY_F12);
    ASSERT_TRUE(pressUntilHeard(f12, {alt}));
    EXPECT_EQ(presses.back(), 7u);
}

TEST_F(X11WindowSystemTest, LaunchesActivationsHidesAndQuitsAreToldOnce) {
    const xcb_window_t editor = client.makeWindow(TestWindow().ownedBy(4001).classed("editor", "Editor"));
    client.listClients({editor});
    client.activate(editor);
    open();
    EXPECT_EQ(system->frontmostPid(), 4001);

    const std::int32_t self = getpid();
    const xcb_window_t runner1 = client.makeWindow(TestWindow().ownedBy(self).classed("run", "Run"));
    const xcb_window_t runner2 = client.makeWindow(TestWindow().ownedBy(self).classed("run", "Run"));
    const xcb_window_t anonymous = client.makeWindow(TestWindow().classed("x", "X"));
    const xcb_window_t host = client.makeWindow(TestWindow().ownedBy(HOST_PID).classed("host", "Host"));
    client.listClients({editor, runner1, runner2, anonymous, host});
    ASSERT_TRUE(waitForChanges(2));
    client.activate(runner2);
    ASSERT_TRUE(waitForChanges(3));
    client.setStates(runner1, {"_NET_WM_STATE_HIDDEN"});
    client.setStates(runner2, {"_NET_WM_STATE_HIDDEN"});
    ASSERT_TRUE(waitForChanges(4));
    client.setStates(runner1, {});
    ASSERT_TRUE(waitForChanges(5));
    client.listClients({editor, anonymous, host});
    ASSERT_TRUE(waitForChanges(6));
    client.activate(host);
    ASSERT_TRUE(waitForChanges(7));

    const std::vector<Change> expected{{WorkspaceChange::launched, self},       {WorkspaceChange::launched, HOST_PID},
                                       {WorkspaceChange::activated, self},      {WorkspaceChange::hidden, self},
                                       {WorkspaceChange::unhidden, self},       {WorkspaceChange::terminated, self},
                                       {WorkspaceChange::activated, HOST_PID}};
    EXPECT_EQ(changes, expected);
    EXPECT_EQ(hostActivations, 1);
    // Named by the entry whose program the process runs; the host's window has no entry.
    EXPECT_EQ(applications[0].bundleIdentifier, "tools-runner");
    EXPECT_EQ(applications[0].localizedName, "Runner");
    EXPECT_EQ(applications[0].bundlePath, (folder.path() / "data/applications/tools/runner.desktop").string());
    EXPECT_EQ(applications[1].bundleIdentifier, std::nullopt);

    const auto running = system->runningApplications();
    ASSERT_EQ(running.size(), 2u);
    EXPECT_EQ(running[0].bundleIdentifier, "org.example.Editor");
    EXPECT_EQ(running[0].localizedName, "Editor");
    EXPECT_EQ(running[0].policy, ActivationPolicy::regular);
}

TEST_F(X11WindowSystemTest, ActivationAsksTheManagerForTheTopmostShownWindow) {
    const xcb_window_t lower = client.makeWindow(TestWindow().ownedBy(4001));
    const xcb_window_t upper = client.makeWindow(TestWindow().ownedBy(4001));
    const xcb_window_t other = client.makeWindow(TestWindow().ownedBy(4002));
    client.listClients({lower, upper, other});
    client.setStates(upper, {"_NET_WM_STATE_HIDDEN"});
    open();
    EXPECT_TRUE(system->activate(4001));
    EXPECT_FALSE(system->activate(4999));
    client.sync();
    EXPECT_EQ(client.activationRequested(), lower);
}

TEST_F(X11WindowSystemTest, WindowsComeFrontToBackWithLayersAndFrames) {
    const xcb_window_t framed = client.makeWindow(TestWindow().at(100, 50, 400, 300).ownedBy(4001));
    const xcb_window_t dock = client.makeWindow(TestWindow().at(0, 0, 1280, 30).ownedBy(4002).typed("_NET_WM_WINDOW_TYPE_DOCK"));
    const xcb_window_t above = client.makeWindow(TestWindow().at(10, 10, 50, 60));
    const xcb_window_t note = client.makeWindow(TestWindow().at(900, 0, 300, 80).ownedBy(4003).typed("_NET_WM_WINDOW_TYPE_NOTIFICATION"));
    const xcb_window_t desktop = client.makeWindow(TestWindow().at(0, 0, 1280, 1024).ownedBy(4004).typed("_NET_WM_WINDOW_TYPE_DESKTOP"));
    const xcb_window_t hidden = client.makeWindow(TestWindow().ownedBy(4005));
    const xcb_window_t absurd = client.makeWindow(TestWindow().at(5, 6, 7, 8).ownedBy(4006));
    const xcb_window_t gone = client.makeWindow(TestWindow().ownedBy(4007));
    client.setFrameExtents(framed, 2, 2, 20, 2);
    client.setFrameExtents(absurd, 4000000000u, 0, 0, 0);
    client.setStates(above, {"_NET_WM_STATE_ABOVE"});
    client.setStates(hidden, {"_NET_WM_STATE_HIDDEN"});
    client.destroyWindow(gone);
    client.listClients({desktop, absurd, framed, hidden, gone, note, above, dock});
    open();

    const auto windows = system->onScreenWindows();
    const std::vector<std::tuple<std::int32_t, int, Rect>> expected{
        {4002, 20, {0, 0, 1280, 30}}, {0, 3, {10, 10, 50, 60}}, {4003, 101, {900, 0, 300, 80}},
        {4001, 0, {98, 30, 404, 322}}, {4006, 0, {5, 6, 7, 8}}};
    ASSERT_EQ(windows.size(), expected.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        EXPECT_EQ(windows[i].ownerPid, std::get<0>(expected[i])) << i;
        EXPECT_EQ(windows[i].layer, std::get<1>(expected[i])) << i;
        EXPECT_EQ(windows[i].bounds, std::get<2>(expected[i])) << i;
    }
    // The dock's owner has no normal window: an accessory.
    for (const auto& application : system->runningApplications()) {
        const bool accessory = application.pid == 4002 || application.pid == 4003 || application.pid == 4004;
        EXPECT_EQ(application.policy, accessory ? ActivationPolicy::accessory : ActivationPolicy::regular) << application.pid;
    }
}

TEST_F(X11WindowSystemTest, TheBadgeWindowStandsWhereThePanelSaysAndLetsClicksThrough) {
    for (bool composited : {false, true}) {
        SCOPED_TRACE(composited ? "composited" : "opaque");
        if (composited) {
            // A compositing manager owns the screen's selection.
            const xcb_window_t owner = client.makeWindow(TestWindow());
            xcb_set_selection_owner(client.connection(), owner, client.atom("_NET_WM_CM_S0"), XCB_CURRENT_TIME);
            client.sync();
        }
        open();
        BadgePanel panel;
        panel.setText("3 new");
        // 100 from the left, 200 up from the bottom of the 1024-high screen.
        panel.setFrame({100, 200, 150, 34});
        panel.orderFront();
        system->showTheBadgePanel(panel);
        auto badge = client.newestWindowOf(HOST_PID);
        ASSERT_TRUE(badge);
        ASSERT_TRUE(client.reachesTheMapState(*badge, XCB_MAP_STATE_VIEWABLE));
        EXPECT_EQ(client.geometryOf(*badge), std::make_tuple(100, 1024 - 200 - 34, 150, 34));
        auto* geometry = xcb_get_geometry_reply(client.connection(), xcb_get_geometry(client.connection(), *badge), nullptr);
        ASSERT_TRUE(geometry);
        EXPECT_EQ(geometry->depth, composited ? 32 : 24);
        std::free(geometry);
        // Clicks go through; without a compositor the corners are cut by the window's shape.
        for (auto kind : {XCB_SHAPE_SK_INPUT, XCB_SHAPE_SK_BOUNDING}) {
            auto* shape = xcb_shape_get_rectangles_reply(
                client.connection(), xcb_shape_get_rectangles(client.connection(), *badge, kind), nullptr);
            ASSERT_TRUE(shape);
            if (kind == XCB_SHAPE_SK_INPUT) EXPECT_EQ(shape->rectangles_len, 0u);
            else EXPECT_EQ(shape->rectangles_len > 1, !composited) << shape->rectangles_len;
            std::free(shape);
        }

        panel.orderOut();
        system->showTheBadgePanel(panel);
        EXPECT_TRUE(client.reachesTheMapState(*badge, XCB_MAP_STATE_UNMAPPED));
        system.reset();
    }
}

TEST_F(X11WindowSystemTest, ScreensChangeAsADisplayReconfigurationAndThePointerIsInScreenCoordinates) {
    open();
    EXPECT_EQ(system->screens(), (std::vector<Rect>{{0, 0, 1280, 1024}}));
    client.movePointer(300, 400);
    EXPECT_EQ(system->mouseLocation(), (Point{300, 1024 - 400}));
    ASSERT_TRUE(client.resizeTheScreen(800, 600));
    ASSERT_TRUE(runTheLoopUntil([&] { return displayFlags.size() >= 2; }));
    for (std::size_t i = 0; i < displayFlags.size(); ++i) {
        EXPECT_EQ(displayFlags[i], i % 2 == 0 ? DISPLAY_BEGIN_CONFIGURATION_FLAG : 0u) << i;
    }
    EXPECT_EQ(system->screens(), (std::vector<Rect>{{0, 0, 800, 600}}));
}

TEST_F(X11WindowSystemTest, ADisplayThatGoesAwayLeavesTheHeadlessDefaults) {
    const xcb_window_t window = client.makeWindow(TestWindow().ownedBy(4001));
    client.listClients({window});
    client.activate(window);
    open();
    const HotKeyRegistration grabbed = system->registerHotKey(40, COMMAND, {SIGNATURE, 1}, 0);
    ASSERT_EQ(grabbed.status, 0);
    BadgePanel panel;
    panel.orderFront();
    system->showTheBadgePanel(panel);
    server.end();
    ASSERT_TRUE(runTheLoopUntil([&] { return lost.has_value(); }));
    EXPECT_EQ(system->frontmostPid(), std::nullopt);
    EXPECT_TRUE(system->runningApplications().empty());
    EXPECT_TRUE(system->onScreenWindows().empty());
    EXPECT_EQ(system->screens(), (std::vector<Rect>{{0, 0, 1440, 900}}));
    // Chords register as headless ones do; releasing the lost display's grab keeps them.
    EXPECT_EQ(system->registerHotKey(40, COMMAND, {SIGNATURE, 2}, 0).status, 0);
    system->unregisterHotKey(grabbed.reference);
    EXPECT_EQ(system->registerHotKey(40, COMMAND, {SIGNATURE, 3}, 0).status, HOT_KEY_EXISTS_STATUS);
    EXPECT_FALSE(system->activate(4001));
    system->showTheBadgePanel(panel);
}

}  // namespace
