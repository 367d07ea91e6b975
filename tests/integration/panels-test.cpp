// Panels through the real host and the project's own views library: "panel" messages reach the
// library's entry points, the library's actions come back to the shell, a missing library or
// entry is recorded and tried again, and the shell's end closes every panel ever shown.
#include <gtest/gtest.h>

#include "desktop-session.h"

using namespace testing_support;

namespace {

class Panels : public ::testing::Test {
protected:
    Panels() {
        // The shell keeps every line it receives; a URL demo://send/<file> makes it write that
        // file's lines (the test's messages) to the host, demo://exit ends it.
        writeShellScript(fixture,
                         "while IFS= read -r line; do\n"
                         "  printf '%s\\n' \"$line\" >> received\n"
                         "  case \"$line\" in\n"
                         "    *'\"url\":\"demo://send/'*) name=${line#*demo://send/}; cat \"${name%%\\\"*}\";;\n"
                         "    *'\"url\":\"demo://exit\"'*) exit 0;;\n"
                         "  esac\n"
                         "done\n",
                         {{"panel", "host"}});
    }

    fs::path file(const std::string& name) const { return fixture.root() / name; }
    fs::path bundledViews() const { return fixture.contents() / "Frameworks" / "libViews.dylib"; }
    void bundleTheViews() const {
        fs::create_directories(bundledViews().parent_path());
        fs::copy_file(VIEWS_LIBRARY, bundledViews(), fs::copy_options::overwrite_existing);
    }
    std::map<std::string, std::string> recording() const { return {{"VIEWS_RECORD", file("views.jsonl").string()}}; }

    // Has the shell write these panel messages, one per line.
    void shellSends(DesktopSession& session, const std::vector<Json>& panels) {
        const std::string name = "send-" + std::to_string(++sent);
        std::string lines;
        for (const Json& panel : panels) lines += Json({{"panel", panel}}).dump() + "\n";
        writeText(file(name), lines);
        ASSERT_TRUE(session.send("url", {{"url", "demo://send/" + name}}));
    }
    std::vector<Json> viewsCalls() const { return recordsOf(file("views.jsonl")); }
    std::vector<std::string> viewsEntries() const {
        std::vector<std::string> entries;
        for (const Json& call : viewsCalls()) entries.push_back(call.value("entry", ""));
        return entries;
    }
    bool viewsCalled(std::size_t count) const {
        return RunningHost::eventually([&] { return viewsCalls().size() >= count; });
    }
    bool shellReceived(const Json& message) const {
        return RunningHost::eventually([&] {
            for (const Json& line : recordsOf(file("received"))) {
                if (line == message) return true;
            }
            return false;
        });
    }
    std::vector<Json> missingEntries() const { return recordsOf(supportFolder(fixture) / "shell.jsonl", "panel-entry-missing"); }

    BundleFixture fixture;
    int sent = 0;
};

TEST_F(Panels, MessagesReachTheEntriesAndActionsComeBackToTheShell) {
    bundleTheViews();
    DesktopSession session(fixture, {}, {}, recording());
    ASSERT_TRUE(session.started()) << session.why();
    shellSends(session, {{{"name", "no-te"}, {"call", "open"}},  // not a panel name: ignored
                         {{"name", "note"}, {"call", "prepare"}, {"look", R"({"title":"Note"})"}},
                         {{"name", "note"}, {"call", "open"}, {"look", R"({"act":"chose ok","actNull":true,"actInvalid":true})"}},
                         {{"name", "note"}, {"call", "update"}, {"look", "fresh look"}},
                         {{"name", "picker"}, {"call", "close"}},
                         {{"name", "picker"}, {"call", "open"}, {"look", R"({"actHere":"picked now"})"}},
                         {{"name", "note"}, {"call", "open"}}});
    ASSERT_TRUE(viewsCalled(6));
    auto calls = viewsCalls();
    EXPECT_EQ(calls[0], Json({{"entry", "note_prepare"}, {"look", R"({"title":"Note"})"}, {"callback", true}}));
    EXPECT_EQ(calls[1]["entry"], "note_open");
    EXPECT_EQ(calls[2], Json({{"entry", "note_update"}, {"look", "fresh look"}}));
    EXPECT_EQ(calls[3], Json({{"entry", "picker_close"}}));
    EXPECT_EQ(calls[4]["entry"], "picker_open");
    EXPECT_EQ(calls[5], Json({{"entry", "note_open"}, {"look", ""}, {"callback", true}}));

    EXPECT_TRUE(shellReceived({{"act", "chose ok"}})) << "from the library's own thread";
    EXPECT_TRUE(shellReceived({{"act", "picked now"}})) << "from the main thread, during the call";
    EXPECT_TRUE(shellReceived({{"act", "caf\uFFFD"}})) << "text that is not UTF-8 is repaired, not dropped";
    EXPECT_TRUE(missingEntries().empty());
}

TEST_F(Panels, AMissingLibraryOrEntryIsRecordedAndTheNextMessageTriesAgain) {
    DesktopSession session(fixture, {}, {}, recording());
    ASSERT_TRUE(session.started()) << session.why();
    shellSends(session, {{{"name", "note"}, {"call", "open"}}});
    ASSERT_TRUE(RunningHost::eventually([&] { return missingEntries().size() == 1; }));
    auto missing = missingEntries()[0];
    EXPECT_EQ(missing["entry"], "note_open");
    EXPECT_EQ(missing["views"], bundledViews().string());
    EXPECT_NE(missing["error"].get<std::string>().find("No such file"), std::string::npos) << missing;

    bundleTheViews();
    shellSends(session, {{{"name", "absent"}, {"call", "open"}}, {{"name", "note"}, {"call", "open"}}});
    ASSERT_TRUE(viewsCalled(1));
    EXPECT_EQ(viewsEntries(), (std::vector<std::string>{"note_open"}));
    auto records = missingEntries();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1]["entry"], "absent_open");
    EXPECT_NE(records[1]["error"].get<std::string>().find("absent_open"), std::string::npos) << records[1];
}

TEST_F(Panels, TheShellsEndClosesEveryPanelEverShown) {
    auto environment = recording();
    environment["SWIFT_VIEWS_DYLIB"] = VIEWS_LIBRARY;  // found through the environment this time
    DesktopSession session(fixture, {}, {}, environment);
    ASSERT_TRUE(session.started()) << session.why();
    shellSends(session, {{{"name", "note"}, {"call", "open"}},
                         {{"name", "picker"}, {"call", "prepare"}},
                         {{"name", "lonely"}, {"call", "open"}},  // has no close entry
                         {{"name", "note"}, {"call", "close"}}});
    ASSERT_TRUE(viewsCalled(4));
    ASSERT_TRUE(session.send("url", {{"url", "demo://exit"}}));
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    auto entries = viewsEntries();
    ASSERT_EQ(entries.size(), 6u);
    std::sort(entries.begin() + 4, entries.end());
    EXPECT_EQ(std::vector<std::string>(entries.begin() + 4, entries.end()),
              (std::vector<std::string>{"note_close", "picker_close"}))
        << "a panel closed before is closed again; one without a close entry is skipped";
    EXPECT_TRUE(missingEntries().empty());
}

}  // namespace
