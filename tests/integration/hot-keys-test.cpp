// Hot keys through the real host and the scripted desktop: the bundle's declared chords follow
// the front application and are published in the activation file, presses reach the shell, the
// shell's own chords report their statuses, and a remote client in front takes the chords its
// bridge routes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "desktop-session.h"
#include "loopback-connection.h"

using namespace testing_support;

namespace {

constexpr std::int32_t EDITOR = 4242;
constexpr std::int32_t OTHER = 4343;
constexpr std::int32_t REMOTE_CLIENT = 5151;
constexpr std::uint32_t CMD = 256, SHIFT = 512, OPTION = 2048, CONTROL = 4096;

struct Registered {
    std::uint32_t code;
    std::uint32_t modifiers;
    std::string signature;
    std::uint32_t id;
    friend bool operator<(const Registered& a, const Registered& b) {
        return std::tie(a.signature, a.id, a.code, a.modifiers) < std::tie(b.signature, b.id, b.code, b.modifiers);
    }
    friend bool operator==(const Registered&, const Registered&) = default;
};

std::set<Registered> registeredIn(const Json& state) {
    std::set<Registered> found;
    for (const Json& key : state["registered"]) {
        found.insert({key["code"], key["modifiers"], key["signature"], key["id"]});
    }
    return found;
}

class HotKeys : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    fs::path activationFile() const { return supportFolder(fixture) / "shortcut-activation.json"; }

    // A shell that publishes the lines of `publish` at start, keeps every line it receives, and
    // publishes an empty list of hot keys once it receives "demo://child/empty".
    void writeHotKeyShell(Json info, Json runtime, const std::vector<Json>& publish = {}) {
        std::string lines;
        for (const Json& line : publish) lines += line.dump() + "\n";
        writeText(file("publish"), lines);
        const std::string script =
            "printf '%s\\n' \"$$\" > '" + file("shell.pid").string() + "'\n"
            "cat '" + file("publish").string() + "'\n"
            "while IFS= read -r line; do\n"
            "  printf '%s\\n' \"$line\" >> '" + file("received").string() + "'\n"
            "  case \"$line\" in *demo://child/empty*) printf '%s\\n' '{\"hotkeys\":[]}';; esac\n"
            "done\n";
        writeShellScript(fixture, script, runtime);
        info["CFBundleIdentifier"] = "app.example.demo";
        info["CFBundleURLTypes"] = Json::array({{{"CFBundleURLSchemes", {"demo"}}}});
        fixture.writeInfo(info);
    }

    std::vector<Json> receivedByTheShell() const { return recordsOf(file("received")); }
    // Waits for a line the shell received that `matches`.
    std::optional<Json> shellReceives(const std::function<bool(const Json&)>& matches) const {
        std::optional<Json> found;
        RunningHost::eventually([&] {
            for (const Json& line : receivedByTheShell()) {
                if (matches(line)) found = line;
            }
            return found.has_value();
        });
        return found;
    }
    std::optional<Json> shellReceivesURL(const std::string& url) const {
        return shellReceives([&](const Json& line) { return line.value("url", "") == url; });
    }

    // The activation file once `matches` holds for it.
    std::optional<Json> activation(const std::function<bool(const Json&)>& matches) const {
        std::optional<Json> found;
        RunningHost::eventually([&] {
            Json parsed = Json::parse(readText(activationFile()), nullptr, false);
            if (parsed.is_discarded() || !matches(parsed)) return false;
            found = parsed;
            return true;
        });
        return found;
    }
    static std::vector<int> statusesIn(const Json& activation) {
        std::vector<int> statuses;
        for (const Json& row : activation["rows"]) statuses.push_back(row["status"]);
        return statuses;
    }
    std::optional<Json> activationWithStatuses(const std::vector<int>& statuses) const {
        return activation([&](const Json& file) { return statusesIn(file) == statuses; });
    }

    std::optional<Json> registrations(DesktopSession& session, const std::set<Registered>& expected) {
        auto found = session.waitFor("hot-keys", [&](const Json& state) { return registeredIn(state) == expected; });
        if (!found) {
            for (const Json& state : session.statesOf("hot-keys")) ADD_FAILURE() << "hot keys were " << state.dump();
        }
        return found;
    }

    BundleFixture fixture;
};

// ---- declared hot keys ----

const Json declaredHotKeys = Json::array({
    {{"key", "⌘⇧K"}, {"url", "demo://open/palette"}},
    {{"key", "⌥1"}, {"url", "demo://editor/one"}, {"when", "front:com.example.editor"}, {"action", "editor-one"}},
    {{"key", "⌘X"}, {"url", "demo://never"}, {"when", "sometimes"}},
    {{"key", "⌘F1"}, {"url", "demo://f1"}},
    {{"url", "demo://dropped"}},
    {{"key", "§"}, {"url", "demo://top-left/"}},
});

TEST_F(HotKeys, DeclaredChordsFollowTheFrontApplicationAndArePublished) {
    writeHotKeyShell({{"WickerlyHotKeys", declaredHotKeys}}, Json::object());
    DesktopSession session(fixture, {launchedApplication(EDITOR, "com.example.editor"),
                                     launchedApplication(OTHER, "com.example.other"),
                                     {{"event", "keyboard"}, {"layout", "ISO"}}});
    ASSERT_TRUE(session.started()) << session.why();

    EXPECT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {10, 0, "WkHK", 4}}))
        << "with nothing in front only the chords for always register; § is the ISO key";
    auto published = activationWithStatuses({0, -1, -1, -50, 0});
    ASSERT_TRUE(published);
    EXPECT_EQ((*published)["pid"], session.host().pid());
    EXPECT_TRUE((*published)["at"].is_string());
    const Json expectedRows = Json::array({
        {{"key", "key:⌘⇧K"}, {"action", "action:palette"}, {"args", Json::array()}, {"status", 0}, {"code", 40}},
        {{"key", "key:⌥1"}, {"action", "editor-one"}, {"args", Json::array()}, {"status", -1}, {"code", 18}},
        {{"key", "key:⌘X"}, {"action", "action:never"}, {"args", Json::array()}, {"status", -1}, {"code", 7}},
        {{"key", "key:⌘F1"}, {"action", "action:f1"}, {"args", Json::array()}, {"status", -50}, {"code", -1}},
        {{"key", "key:§"}, {"action", "action:top-left"}, {"args", Json::array()}, {"status", 0}, {"code", 10}},
    });
    EXPECT_EQ((*published)["rows"], expectedRows);
    const std::string text = readText(activationFile());
    EXPECT_TRUE(text.starts_with("{\"at\":")) << "sorted keys: " << text;
    EXPECT_NE(text.back(), '\n');

    ASSERT_TRUE(session.send("activated", {{"pid", EDITOR}}));
    EXPECT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {18, OPTION, "WkHK", 1}, {10, 0, "WkHK", 4}}));
    EXPECT_TRUE(activationWithStatuses({0, 0, -1, -50, 0}));

    ASSERT_TRUE(session.send("activated", {{"pid", OTHER}}));
    EXPECT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {10, 0, "WkHK", 4}}));
    EXPECT_TRUE(activationWithStatuses({0, -1, -1, -50, 0}));
}

TEST_F(HotKeys, APressDeliversItsURLAndGivesTheShellTheActivation) {
    writeHotKeyShell({{"WickerlyHotKeys", declaredHotKeys}}, Json::object());
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    RunningHost::eventually([&] { return !readText(file("shell.pid")).empty(); });
    const std::int32_t shell = std::stoi(readText(file("shell.pid")));
    ASSERT_TRUE(session.send("launched", launchedApplication(shell, "app.example.demo.shell")));
    ASSERT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {50, 0, "WkHK", 4}}))
        << "§ is the grave accent's key on an ANSI keyboard";

    ASSERT_TRUE(session.send("hot-key", {{"code", 40}, {"modifiers", CMD | SHIFT}}));
    auto message = shellReceivesURL("demo://open/palette");
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, (Json{{"url", "demo://open/palette"}, {"source", "hotkey"}}));
    EXPECT_TRUE(session.waitFor("yield", [&](const Json& state) { return state["pid"] == shell; }));
    std::vector<Json> records;
    RunningHost::eventually([&] {
        records = recordsOf(supportFolder(fixture) / "links.jsonl");
        return !records.empty();
    });
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["source"], "hotkey");
    EXPECT_EQ(records[0]["url"], "demo://open/palette");
}

TEST_F(HotKeys, AChordTakenElsewhereShowsItsStatusAndIsTriedAgainOnTheNextActivation) {
    writeHotKeyShell({{"WickerlyHotKeys", declaredHotKeys}}, Json::object());
    DesktopSession session(fixture, {launchedApplication(OTHER, "com.example.other"),
                                     {{"event", "hot-keys-taken"}, {"chords", {{{"code", 40}, {"modifiers", CMD | SHIFT}}}}}});
    ASSERT_TRUE(session.started()) << session.why();
    EXPECT_TRUE(activationWithStatuses({-9878, -1, -1, -50, 0}));

    ASSERT_TRUE(session.send("hot-keys-taken", {{"chords", Json::array()}}));
    ASSERT_TRUE(session.send("activated", {{"pid", OTHER}}));
    EXPECT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {50, 0, "WkHK", 4}}));
    EXPECT_TRUE(activationWithStatuses({0, -1, -1, -50, 0}));
}

// ---- the shell's hot keys ----

TEST_F(HotKeys, TheShellsChordsAreRegisteredReportedAndDelivered) {
    const Json rows = Json::array({
        {{"key", "⌘⇧P"}, {"url", "demo://child/p"}, {"code", 35}, {"modifiers", CMD | SHIFT}},
        {{"key", "⌥2"}, {"url", "demo://child/empty"}, {"code", 19}, {"modifiers", OPTION}, {"options", 1}},
        {{"key", "negative"}, {"url", "demo://bad"}, {"code", -1}, {"modifiers", 0}},
        {{"key", "too wide"}, {"url", "demo://bad"}, {"code", 40}, {"modifiers", 4294967296LL}},
        {{"key", "no url"}, {"code", 1}, {"modifiers", 0}},
        {{"key", "taken"}, {"url", "demo://taken"}, {"code", 1}, {"modifiers", CMD}},
    });
    writeHotKeyShell(Json::object(), {{"hotkeys", "child"}}, {{{"hotkeys", rows}}});
    DesktopSession session(fixture, {{{"event", "hot-keys-taken"}, {"chords", {{{"code", 1}, {"modifiers", CMD}}}}}});
    ASSERT_TRUE(session.started()) << session.why();

    auto report = shellReceives([](const Json& line) { return line.contains("hotkeys"); });
    ASSERT_TRUE(report);
    EXPECT_EQ(*report, (Json{{"hotkeys", {{{"key", "⌘⇧P"}, {"status", 0}},
                                          {{"key", "⌥2"}, {"status", 0}},
                                          {{"key", "taken"}, {"status", -9878}}}}}))
        << "rows the host cannot take are left out, the rest keep their order";
    auto state = registrations(session, {{35, CMD | SHIFT, "WkCK", 0}, {19, OPTION, "WkCK", 1}});
    ASSERT_TRUE(state);
    for (const Json& key : (*state)["registered"]) EXPECT_EQ(key["options"], key["code"] == 19 ? 1 : 0);

    ASSERT_TRUE(session.send("hot-key", {{"code", 35}, {"modifiers", CMD | SHIFT}}));
    EXPECT_EQ(shellReceivesURL("demo://child/p"), (Json{{"url", "demo://child/p"}, {"source", "hotkey"}}));

    // Pressing ⌥2 makes the shell publish an empty list: everything is released, with no report.
    session.desktop().mark();
    ASSERT_TRUE(session.send("hot-key", {{"code", 19}, {"modifiers", OPTION}}));
    EXPECT_TRUE(registrations(session, {}));
    ASSERT_TRUE(session.sync());
    int reports = 0;
    for (const Json& line : receivedByTheShell()) reports += line.contains("hotkeys") ? 1 : 0;
    EXPECT_EQ(reports, 1);
}

// ---- remote machines ----

class RemoteHotKeys : public HotKeys {
protected:
    fs::path remoteFolder() const { return fixture.home() / "remote"; }
    void writeRemoteFiles(const std::string& forward) {
        writeText(remoteFolder() / "config.json", Json{{"forward", forward}}.dump());
        const Json bridge = {{"routes", {{"⌘⇧K", "köprü"}, {"⌥1", "burada"}, {"⌃R", "köprü"}}},
                             {"press", {file("press.sh").string(), "{key}", "at-{key}"}}};
        writeText(remoteFolder() / "remote-bridge.json", bridge.dump());
        writeText(file("press.sh"), "#!/bin/sh\nprintf '%s\\n' \"$*\" >> '" + file("pressed").string() + "'\n", true);
    }
    void writeRemoteShell(const Json& clients, const Json& sessionClients) {
        const Json info = {
            {"WickerlyHotKeys", Json::array({{{"key", "⌘⇧K"}, {"url", "demo://open/palette"}},
                                             {{"key", "⌥1"}, {"url", "demo://here"}},
                                             {{"key", "⌘J"}, {"url", "demo://released"}}})},
            {"WickerlyRemoteMachines",
             {{"bundles", clients}, {"session", sessionClients}, {"config", "remote/config.json"}, {"key", "forward"}}}};
        const Json rows = Json::array({{{"key", "⌃R"}, {"url", "demo://child/r"}, {"code", 15}, {"modifiers", CONTROL}},
                                       {{"key", "⌃Q"}, {"url", "demo://child/q"}, {"code", 12}, {"modifiers", CONTROL}}});
        writeHotKeyShell(info, {{"hotkeys", "child"}}, {{{"hotkeys", rows}}});
    }
    std::vector<std::string> pressed() const {
        std::vector<std::string> lines;
        std::istringstream in(readText(file("pressed")));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    const std::set<Registered> everyChord = {{40, CMD | SHIFT, "WkHK", 0}, {18, OPTION, "WkHK", 1},
                                             {38, CMD, "WkHK", 2},         {15, CONTROL, "WkCK", 0},
                                             {12, CONTROL, "WkCK", 1}};
    const std::set<Registered> routedChords = {{40, CMD | SHIFT, "WkHK", 0}, {18, OPTION, "WkHK", 1},
                                               {15, CONTROL, "WkCK", 0}};
};

TEST_F(RemoteHotKeys, ARemoteClientInFrontKeepsOnlyTheRoutedChords) {
    writeRemoteFiles("1");
    writeRemoteShell({"com.remote.client"}, Json::array());
    DesktopSession session(fixture, {launchedApplication(REMOTE_CLIENT, "com.remote.client"),
                                     launchedApplication(EDITOR, "com.example.editor")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(registrations(session, everyChord));

    ASSERT_TRUE(session.send("activated", {{"pid", REMOTE_CLIENT}}));
    EXPECT_TRUE(registrations(session, routedChords));
    EXPECT_TRUE(activationWithStatuses({0, 0, -1}));
    EXPECT_TRUE(shellReceives([](const Json& line) {
        return line == Json{{"hotkeys", {{{"key", "⌃R"}, {"status", 0}}, {{"key", "⌃Q"}, {"status", -3}}}}};
    })) << "an unrouted row of the shell's is reported as yielded";

    ASSERT_TRUE(session.send("hot-key", {{"code", 40}, {"modifiers", CMD | SHIFT}}));
    ASSERT_TRUE(session.send("hot-key", {{"code", 15}, {"modifiers", CONTROL}}));
    ASSERT_TRUE(RunningHost::eventually([&] { return pressed().size() == 2; }));
    // Two press commands run side by side, so either may write first.
    std::vector<std::string> presses = pressed();
    std::sort(presses.begin(), presses.end());
    EXPECT_EQ(presses, (std::vector<std::string>{"key:⌃R at-{key}", "key:⌘⇧K at-{key}"}));
    ASSERT_TRUE(session.send("hot-key", {{"code", 18}, {"modifiers", OPTION}}));
    EXPECT_TRUE(shellReceivesURL("demo://here")) << "a chord routed here is delivered here";
    for (const Json& line : receivedByTheShell()) {
        EXPECT_NE(line.value("url", ""), "demo://open/palette") << "a remote press is not delivered";
        EXPECT_NE(line.value("url", ""), "demo://child/r");
    }

    ASSERT_TRUE(session.send("activated", {{"pid", EDITOR}}));
    EXPECT_TRUE(registrations(session, everyChord));
    EXPECT_TRUE(shellReceives([](const Json& line) {
        return line == Json{{"hotkeys", {{{"key", "⌃R"}, {"status", 0}}, {{"key", "⌃Q"}, {"status", 0}}}}};
    }));
}

TEST_F(RemoteHotKeys, AChangeInTheConfigurationFolderArmsAgain) {
    writeRemoteFiles("0");
    writeRemoteShell({"com.remote.client"}, Json::array());
    DesktopSession session(fixture, {launchedApplication(REMOTE_CLIENT, "com.remote.client")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("activated", {{"pid", REMOTE_CLIENT}}));
    ASSERT_TRUE(session.sync());
    ASSERT_TRUE(registrations(session, everyChord)) << "forwarding is off";

    const fs::path replacement = remoteFolder() / "config.json.new";
    writeText(replacement, Json{{"forward", "1"}}.dump());
    fs::rename(replacement, remoteFolder() / "config.json");
    EXPECT_TRUE(registrations(session, {{40, CMD | SHIFT, "WkHK", 0}, {18, OPTION, "WkHK", 1},
                                        {15, CONTROL, "WkCK", 0}, {12, CONTROL, "WkCK", 1}}))
        << "the declared chords re-arm; the shell's wait for the next activation";
    EXPECT_TRUE(activationWithStatuses({0, 0, -1}));
}

// The test process itself is the session client: its own loopback connection makes the session.
TEST_F(RemoteHotKeys, ASessionClientYieldsOnlyWhileItHoldsAConnection) {
    writeRemoteFiles("1");
    writeRemoteShell({"com.remote.session"}, {"com.remote.session"});
    const std::int32_t self = static_cast<std::int32_t>(getpid());
    DesktopSession session(fixture, {launchedApplication(self, "com.remote.session")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("activated", {{"pid", self}}));
    ASSERT_TRUE(session.sync());
    ASSERT_TRUE(registrations(session, everyChord)) << "no connection, no session";

    LoopbackConnection connection;
    ASSERT_TRUE(connection.established());
    EXPECT_TRUE(registrations(session, routedChords)) << "the session check sees the connection";

    connection.close();
    EXPECT_TRUE(registrations(session, everyChord)) << "and sees it go";
}

}  // namespace
