// docs/shell-protocol.md against the real host: the messages a shell sends are fed to it, the
// messages a shell receives are matched against what it sends in a scripted session run on the
// documented Info.plist and runtime file, and the log records against what it writes and its
// sources. A message or key renamed in the code, or in the document alone, fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>

#include "desktop-session.h"
#include "running-host.h"

using namespace testing_support;

namespace {

const fs::path document = fs::path(SOURCE_ROOT) / "docs" / "shell-protocol.md";

// The bodies of the fenced blocks marked `tag` ("```json shell-to-host").
std::vector<std::string> blocksMarked(const std::string& tag) {
    std::istringstream text(readText(document));
    std::vector<std::string> blocks;
    std::string line, body;
    bool inside = false;
    while (std::getline(text, line)) {
        if (!inside && line.starts_with("```") && line.ends_with(" " + tag)) {
            inside = true;
            body.clear();
        } else if (inside && line == "```") {
            inside = false;
            blocks.push_back(body);
        } else if (inside) {
            body += line + "\n";
        }
    }
    return blocks;
}

std::vector<Json> examplesMarked(const std::string& tag) {
    std::vector<Json> examples;
    for (const std::string& block : blocksMarked(tag)) {
        std::istringstream lines(block);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty()) examples.push_back(Json::parse(line));
        }
    }
    return examples;
}

// The same keys with values of the same kinds, the first elements of arrays alike.
bool sameShape(const Json& a, const Json& b) {
    if (a.is_number() && b.is_number()) return true;
    if (a.type() != b.type()) return false;
    if (a.is_object()) {
        if (a.size() != b.size()) return false;
        for (const auto& [key, value] : a.items()) {
            if (!b.contains(key) || !sameShape(value, b[key])) return false;
        }
    }
    if (a.is_array() && !a.empty() && !b.empty()) return sameShape(a[0], b[0]);
    return true;
}

// A bundle made of the document's Info.plist and runtime file, with `script` as the shell.
void writeTheDocumentedBundle(const BundleFixture& fixture, const std::string& script) {
    auto plists = blocksMarked("info-plist");
    auto runtimes = examplesMarked("runtime");
    ASSERT_EQ(plists.size(), 1u);
    ASSERT_EQ(runtimes.size(), 1u);
    writeText(fixture.contents() / "Info.plist", plists[0]);
    writeText(fixture.root() / "shell.sh", script);
    Json runtime = runtimes[0];
    runtime["bun"] = "/bin/sh";
    runtime["shell"] = (fixture.root() / "shell.sh").string();
    fixture.writeRuntime("hello-runtime.json", runtime);
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

TEST(ShellProtocol, EveryMessageAShellSendsIsTakenByTheHost) {
    auto examples = examplesMarked("shell-to-host");
    ASSERT_GE(examples.size(), 12u);
    BundleFixture fixture("hello", "Hello.app");
    std::string lines;
    for (const Json& example : examples) lines += example.dump() + "\n";
    writeText(fixture.root() / "examples", lines);
    // Lines the host does not take pass through to its output before "end".
    writeTheDocumentedBundle(fixture, "cat " + quoted(fixture.root() / "examples") + "\necho end\nexec sleep 60\n");
    RunningHost host(fixture, {}, {{"MENU_BAR_DESKTOP", "headless"}});
    ASSERT_TRUE(RunningHost::eventually([&] { return host.out().find("end\n") != std::string::npos; })) << host.err();
    EXPECT_EQ(host.out(), "end\n") << "documented messages the host passed through as plain output";
}

class DocumentedSession : public ::testing::Test {
protected:
    void SetUp() override {
        // The relay shell: its environment, then every line the test appends, and every line it hears.
        writeTheDocumentedBundle(fixture, "env > " + quoted(fixture.root() / "environment") + "\n: >> " +
                                              quoted(fixture.root() / "to-shell") + "\ntail -n +1 -f " +
                                              quoted(fixture.root() / "to-shell") + " &\nexec cat > " +
                                              quoted(fixture.root() / "received") + "\n");
        writeText(fixture.root() / "recent.json", blocksMarked("menu-file").at(0));
    }

    void tellTheHost(const std::vector<Json>& messages) {
        std::string lines;
        for (const Json& message : messages) lines += message.dump() + "\n";
        std::ofstream(fixture.root() / "to-shell", std::ios::app) << lines;
    }

    std::vector<Json> received() { return recordsOf(fixture.root() / "received"); }

    BundleFixture fixture{"hello", "Hello.app"};
};

TEST_F(DocumentedSession, EveryMessageAShellReceivesComesFromTheHostAsDocumented) {
    const std::int32_t files = 5001;
    DesktopSession session(fixture,
                           {launchedApplication(files, "org.example.files"),
                            {{"event", "windows"}, {"windows", {{{"pid", files}, {"layer", 0},
                              {"bounds", {{"x", 0}, {"y", 0}, {"width", 400}, {"height", 300}}}}}}},
                            {{"event", "activated"}, {"pid", files}}},
                           {}, {{"SWIFT_VIEWS_DYLIB", VIEWS_LIBRARY}});
    ASSERT_TRUE(session.started()) << session.why();
    Json rows = {{{"kind", "header"}, {"title", "Hello"}},
                 {{"id", "hello"}, {"title", "Say hello"}, {"enabled", true}},
                 {{"id", "more"}, {"title", "More"}, {"submenu", true}, {"enabled", true}},
                 {{"id", "deep"}, {"title", "Deep"}, {"parent", "more"}, {"enabled", true}},
                 {{"id", "recent"}, {"title", "Recent"}, {"submenu", true}, {"enabled", true},
                  {"submenuFile", (fixture.root() / "recent.json").string()}, {"submenuSelectionMark", " ✓"}}};
    tellTheHost({{{"menu", rows}, {"submenuUpdates", true}},
                 {{"hotkeys", {{{"key", "⌘⇧K"}, {"url", "hello://key"}, {"code", 40}, {"modifiers", 768}}}}},
                 {{"setupQuitSenders", {"org.example.files"}}},
                 {{"watch", "apps"}},
                 {{"panel", {{"name", "note"}, {"call", "open"}, {"look", R"({"actHere": "note: OK"})"}}}}});
    ASSERT_TRUE(session.waitFor("status-items", [](const Json& state) {
        return desktop::findItem(firstMenuOf(state), "Say hello").has_value();
    })) << session.host().err();
    // The relay may hand the host its lines late (tail polls when inotify is short), and the
    // host takes them in order: once the watch is answered, the quit senders are in place.
    ASSERT_TRUE(RunningHost::eventually([&] {
        auto lines = received();
        return std::any_of(lines.begin(), lines.end(), [](const Json& line) { return line.contains("apps"); });
    })) << session.host().err();
    auto item = [&](const std::string& title) { return session.desktop().itemNumber(title).value_or(-1); };
    session.send("open-menu");
    session.send("open-menu", {{"item", item("More")}});
    session.desktop().mark();
    session.send("open-menu", {{"item", item("Recent")}});
    // Opening the file submenu reads the file into it.
    ASSERT_TRUE(session.waitFor("status-items", [](const Json& state) {
        return desktop::findItem(firstMenuOf(state), "Report.pdf ✓").has_value();
    }));
    session.send("pick", {{"item", item("Report.pdf ✓")}});
    session.send("pick", {{"item", item("Say hello")}});
    session.send("url", {{"url", "hello://open/x"}});
    session.send("hot-key", {{"code", 4}, {"modifiers", 768}});  // ⌘⇧H, declared in Info.plist
    session.send("quit", {{"request", 1}, {"sender", files}});
    ASSERT_TRUE(session.sync());

    for (const Json& example : examplesMarked("host-to-shell")) {
        EXPECT_TRUE(RunningHost::eventually([&] {
            auto lines = received();
            return std::any_of(lines.begin(), lines.end(), [&](const Json& line) { return sameShape(example, line); });
        })) << "the host never sent a message like " << example.dump() << "\nreceived:\n" << readText(fixture.root() / "received");
    }

    // The environment the document shows, with the runtime's values resolved.
    std::string environment = "\n" + readText(fixture.root() / "environment");
    for (const std::string& block : blocksMarked("environment")) {
        std::istringstream lines(block);
        for (std::string line; std::getline(lines, line);) {
            std::string name = line.substr(0, line.find('='));
            EXPECT_NE(environment.find("\n" + name + "="), std::string::npos) << name;
        }
    }
    EXPECT_NE(environment.find("\nWICKERLY_HOME=" + (fixture.home() / "hello-data").string() + "\n"), std::string::npos);
    EXPECT_NE(environment.find("\nHELLO_ASSETS=" + (fixture.bundle() / "Contents/Resources/assets").string() + "\n"),
              std::string::npos);
    EXPECT_NE(environment.find("\nHELLO_GREETING=hi\n"), std::string::npos);

    // What the host logged in the places the runtime file names is documented, key for key.
    session.host().signal(SIGTERM);
    session.host().waitForTheEnd();
    std::map<std::string, std::set<std::string>> documentedKeys;
    for (const Json& record : examplesMarked("log")) {
        std::string kind = record.value("kind", record.value("focus", ""));
        for (const auto& [key, value] : record.items()) documentedKeys[kind].insert(key);
    }
    auto logged = recordsOf(fixture.home() / "hello-logs" / "shell.jsonl");
    auto links = recordsOf(fixture.home() / "hello-logs" / "links.jsonl");
    ASSERT_FALSE(logged.empty());
    ASSERT_FALSE(links.empty());
    logged.insert(logged.end(), links.begin(), links.end());
    for (const Json& record : logged) {
        std::string kind = record.value("kind", record.value("focus", ""));
        ASSERT_TRUE(documentedKeys.contains(kind)) << "undocumented record " << record.dump();
        for (const auto& [key, value] : record.items())
            EXPECT_TRUE(documentedKeys[kind].contains(key)) << "undocumented key " << key << " in " << record.dump();
    }
}

// Records the session cannot provoke are held to the sources: each kind and key is written there.
TEST(ShellProtocol, EveryDocumentedLogRecordIsWrittenByTheHost) {
    std::string sources;
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(SOURCE_ROOT) / "main")) {
        if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h") sources += readText(entry.path());
    }
    auto records = examplesMarked("log");
    ASSERT_GE(records.size(), 30u);
    for (const Json& record : records) {
        for (const auto& [key, value] : record.items()) {
            EXPECT_NE(sources.find("\"" + key + "\""), std::string::npos) << key << " in " << record.dump();
            if ((key == "kind" || key == "focus") && value.is_string()) {
                EXPECT_NE(sources.find("\"" + value.get<std::string>() + "\""), std::string::npos) << record.dump();
            }
        }
    }
}

}  // namespace
