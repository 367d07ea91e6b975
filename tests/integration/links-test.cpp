// Links through the real host and the scripted desktop: URLs, link files, file links and
// Services requests reaching the shell, relayed links going to the system, the opens log's
// sender, display changes, and the focus going back (or kept for a panel) after a link.
#include <gtest/gtest.h>

#include <unistd.h>

#include <sstream>

#include "desktop-session.h"

using namespace testing_support;

namespace {

constexpr std::int32_t EDITOR = 4242;
constexpr std::int32_t PANEL_OWNER = 4343;

class Links : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    fs::path linkLog() const { return supportFolder(fixture) / "links.jsonl"; }
    static std::string fileURL(const fs::path& path) {
        std::string url = "file://";
        for (char c : path.string()) url += c == ' ' ? std::string("%20") : std::string(1, c);
        return url;
    }

    // A shell that keeps every line it receives and answers each URL; a URL with "panel" in
    // it is answered with the focus kept for PANEL_OWNER. With `announce` it first says that
    // it replies to links, then publishes a menu, whose drawing shows the host has read both.
    void writeLinkShell(bool announce, Json info = Json::object(), Json runtime = Json::object()) {
        std::string script = "printf '%s\\n' \"$$\" > '" + file("shell.pid").string() + "'\n";
        if (announce) {
            runtime["menu"] = "child";
            script += "printf '%s\\n' '{\"focus\":\"replies\"}'\n"
                      "printf '%s\\n' '{\"menu\":[{\"id\":\"ready\",\"title\":\"Ready\",\"enabled\":true}]}'\n";
        }
        script += "while IFS= read -r line; do\n"
                  "  printf '%s\\n' \"$line\" >> '" + file("received").string() + "'\n"
                  "  url=$(printf '%s' \"$line\" | sed -n 's/.*\"url\":\"\\([^\"]*\\)\".*/\\1/p')\n"
                  "  case \"$url\" in\n"
                  "    *panel*) printf '{\"url\":\"%s\",\"result\":\"ok\",\"focus\":\"panel\",\"panel\":" +
                  std::to_string(PANEL_OWNER) + "}\\n' \"$url\";;\n"
                  "    ?*) printf '{\"url\":\"%s\",\"result\":\"ok\"}\\n' \"$url\";;\n"
                  "  esac\n"
                  "done\n";
        writeShellScript(fixture, script, runtime);
        info["CFBundleIdentifier"] = "app.example.demo";
        if (!info.contains("CFBundleURLTypes")) info["CFBundleURLTypes"] = Json::array({{{"CFBundleURLSchemes", {"demo"}}}});
        fixture.writeInfo(info);
    }

    std::vector<Json> receivedByTheShell() const {
        std::vector<Json> lines;
        std::istringstream in(readText(file("received")));
        for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line, nullptr, false));
        return lines;
    }
    // Waits until the shell has received `count` lines.
    std::vector<Json> shellReceives(std::size_t count) const {
        RunningHost::eventually([&] { return receivedByTheShell().size() >= count; });
        return receivedByTheShell();
    }
    // The link log's focus records, once there are `count` of them.
    std::vector<Json> focusRecords(std::size_t count) const {
        std::vector<Json> found;
        RunningHost::eventually([&] {
            found.clear();
            for (const Json& record : recordsOf(linkLog())) {
                if (record.contains("focus")) found.push_back(record);
            }
            return found.size() >= count;
        });
        return found;
    }
    static std::vector<std::string> kindsOf(const std::vector<Json>& records) {
        std::vector<std::string> kinds;
        for (const Json& record : records) kinds.push_back(record["focus"]);
        return kinds;
    }
    static desktop::Predicate forPid(std::int32_t pid) {
        return [pid](const Json& state) { return state["pid"] == pid; };
    }
    std::int32_t shellPid() const {
        RunningHost::eventually([&] { return !readText(file("shell.pid")).empty(); });
        return std::stoi(readText(file("shell.pid")));
    }

    BundleFixture fixture;
};

TEST_F(Links, ALinkFromAnotherApplicationReachesTheShellAndTheFocusGoesBack) {
    writeLinkShell(false);
    DesktopSession session(fixture, {launchedApplication(EDITOR, "com.example.editor")});
    ASSERT_TRUE(session.started()) << session.why();
    const std::int32_t host = session.host().pid();
    ASSERT_TRUE(session.send("activated", {{"pid", EDITOR}}));
    ASSERT_TRUE(session.send("url", {{"url", "demo://open/1"}, {"sender", EDITOR}}));
    ASSERT_TRUE(session.send("activated", {{"pid", host}}));

    EXPECT_EQ(shellReceives(1), (std::vector<Json>{{{"url", "demo://open/1"}}}));
    EXPECT_TRUE(session.waitFor("yield", forPid(EDITOR)));
    auto activation = session.waitFor("activate", forPid(EDITOR));
    ASSERT_TRUE(activation);
    EXPECT_EQ((*activation)["accepted"], true);

    auto records = focusRecords(2);
    ASSERT_EQ(kindsOf(records), (std::vector<std::string>{"launcher-active", "returned"}));
    EXPECT_EQ(records[0]["owed"], true);
    EXPECT_EQ(records[0]["previous"], "com.example.editor");
    EXPECT_EQ(records[1]["to"], "com.example.editor");
    EXPECT_EQ(records[1]["pid"], EDITOR);
    EXPECT_EQ(records[1]["link"], "demo://open/1");
    EXPECT_EQ(records[1]["launcher"], host);
}

class LinksWithReplies : public Links {
protected:
    // A host whose shell replies to links, with the editor in front before the host.
    bool start() {
        writeLinkShell(true);
        session = std::make_unique<DesktopSession>(
            fixture, std::vector<Json>{launchedApplication(EDITOR, "com.example.editor"),
                                       launchedApplication(PANEL_OWNER, "com.example.panel")});
        if (!session->started()) return false;
        if (!session->waitFor("status-items", [](const Json& state) {
                return !state["items"].empty() && state["items"][0]["menu"].is_object();
            })) {
            return false;
        }
        shell = shellPid();
        return session->send("launched", launchedApplication(shell, "app.example.demo.shell")) &&
               session->send("activated", {{"pid", EDITOR}}) &&
               session->send("activated", {{"pid", session->host().pid()}});
    }

    std::unique_ptr<DesktopSession> session;
    std::int32_t shell = 0;
};

TEST_F(LinksWithReplies, TheShellHoldsTheFocusUntilItReplies) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(session->send("url", {{"url", "demo://open/1"}, {"sender", EDITOR}}));
    EXPECT_TRUE(session->waitFor("yield", forPid(shell))) << "the shell gets the activation while it works";
    EXPECT_TRUE(session->waitFor("activate", forPid(EDITOR))) << "its reply gives the focus back";
    auto records = focusRecords(2);
    ASSERT_EQ(kindsOf(records), (std::vector<std::string>{"launcher-active", "returned"}));
    EXPECT_EQ(records[0]["childReplies"], true);
    EXPECT_EQ(records[0]["owed"], false) << "the host was active before the link";
    EXPECT_EQ(records[1]["link"], "demo://open/1");
}

TEST_F(LinksWithReplies, APanelReplyKeepsTheFocusUntilThePanelsProcessEnds) {
    ASSERT_TRUE(start());
    ASSERT_TRUE(session->send("url", {{"url", "demo://panel/2"}}));
    auto activation = session->waitFor("activate", forPid(PANEL_OWNER));
    ASSERT_TRUE(activation);
    EXPECT_EQ((*activation)["accepted"], true);
    auto records = focusRecords(2);
    ASSERT_EQ(kindsOf(records), (std::vector<std::string>{"launcher-active", "kept"}));
    EXPECT_EQ(records[1]["activated"], true);
    EXPECT_EQ(records[1]["link"], "demo://panel/2");
    ASSERT_TRUE(session->sync());
    EXPECT_EQ(session->statesOf("activate").size(), 1u) << "the editor waits while the panel is up";

    ASSERT_TRUE(session->send("terminated", {{"pid", PANEL_OWNER}}));
    EXPECT_TRUE(session->waitFor("activate", forPid(EDITOR)));
    records = focusRecords(3);
    ASSERT_EQ(kindsOf(records), (std::vector<std::string>{"launcher-active", "kept", "returned"}));
    EXPECT_EQ(records[2]["to"], "com.example.editor");
}

TEST_F(Links, LinkFilesAndFileLinksArriveThroughAnOpenRequest) {
    writeLinkShell(false,
                   {{"WickerlyLinkExtension", "demolink"},
                    {"WickerlyFileExtension", "demodoc"},
                    {"WickerlyFileLink", "demo://files/open?from=head"},
                    {"WickerlyLinkRelayPrefix", "wickerly-"}},
                   {{"opens", file("opens.jsonl").string()}});
    writeText(file("note.demolink"), "  demo://open/from-file\n\n");
    writeText(file("Report 1.DemoDoc"), "anything");
    writeText(file("companion.demolink"), "wickerly-notes://n/1\n");
    writeText(file("other.txt"), "demo://open/never");
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();

    ASSERT_TRUE(session.send("open", {{"urls", {fileURL(file("note.demolink")), fileURL(file("Report 1.DemoDoc")),
                                                fileURL(file("companion.demolink")), fileURL(file("other.txt")),
                                                "demo://open/plain"}}}));
    auto relayed = session.waitFor("open-url");
    ASSERT_TRUE(relayed);
    EXPECT_EQ((*relayed)["url"], "wickerly-notes://n/1");
    const std::string fileLink = "demo://files/open?path=" + fileURL(file("Report 1.DemoDoc")).substr(7);
    EXPECT_EQ(shellReceives(3), (std::vector<Json>{{{"url", "demo://open/from-file"}},
                                                   {{"url", fileLink}},
                                                   {{"url", "demo://open/plain"}}}));

    ASSERT_TRUE(session.send("url", {{"url", "wickerly-notes://n/2"}}));
    ASSERT_TRUE(session.sync());
    EXPECT_EQ(session.statesOf("open-url").size(), 1u) << "a relay-family URL without a file is dropped";

    auto opens = recordsOf(file("opens.jsonl"));
    ASSERT_EQ(opens.size(), 5u);
    EXPECT_EQ(opens[0]["file"], file("note.demolink").string());
    EXPECT_EQ(opens[1]["url"], fileLink);
    EXPECT_EQ(opens[2]["url"], "wickerly-notes://n/1");
    EXPECT_FALSE(opens[3].contains("file"));
    EXPECT_EQ(opens[4]["url"], "wickerly-notes://n/2");
}

TEST_F(Links, AServicesRequestIsAnsweredAndDeliveredWithTheFirstScheme) {
    writeLinkShell(false, {{"CFBundleURLTypes", Json::array({{{"CFBundleURLSchemes", {"zeta", "Beta"}}}})},
                           {"NSServices", Json::array({{{"NSMessage", "openFiles"}, {"NSPortName", "Demo"}}})}});
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();

    ASSERT_TRUE(session.send("service", {{"files", {file("a b.txt").string()}}, {"userData", "open"}, {"request", 1}}));
    auto answered = session.waitFor("service-reply", [](const Json& state) { return state["request"] == 1; });
    ASSERT_TRUE(answered);
    EXPECT_EQ((*answered)["error"], nullptr);
    const Json served = {{"url", "beta://open?path=" + fileURL(file("a b.txt")).substr(7)}};
    EXPECT_EQ(shellReceives(1), std::vector<Json>{served});

    ASSERT_TRUE(session.send("service", {{"files", {file("a b.txt").string()}}, {"userData", ""}, {"request", 2}}));
    auto refused = session.waitFor("service-reply", [](const Json& state) { return state["request"] == 2; });
    ASSERT_TRUE(refused);
    EXPECT_EQ((*refused)["error"], "No file for the service");
    ASSERT_TRUE(session.sync());
    EXPECT_EQ(receivedByTheShell().size(), 1u);
}

TEST_F(Links, TheOpensLogNamesTheSenderAndItsParents) {
    writeLinkShell(false, Json::object(), {{"opens", file("opens.jsonl").string()}});
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("url", {{"url", "demo://open/1"}, {"sender", getpid()}}));
    ASSERT_TRUE(session.send("url", {{"url", "demo://open/2"}}));
    shellReceives(2);

    auto opens = recordsOf(file("opens.jsonl"));
    ASSERT_EQ(opens.size(), 2u);
    const std::string testProgram = fs::canonical("/proc/self/exe").string();
    const Json& sender = opens[0]["sender"];
    EXPECT_EQ(opens[0]["receiver"], "app.example.demo");
    EXPECT_EQ(sender["pid"], getpid());
    EXPECT_EQ(sender["path"], testProgram);
    ASSERT_GE(sender["chain"].size(), 2u);
    EXPECT_LE(sender["chain"].size(), 32u);
    EXPECT_EQ(sender["chain"][0], Json({{"pid", getpid()}, {"path", testProgram}}));
    EXPECT_EQ(sender["chain"][1]["pid"], getppid());
    EXPECT_EQ(opens[1]["sender"], Json({{"pid", nullptr}, {"chain", Json::array()}}));
}

TEST_F(Links, EachFinishedDisplayChangeDeliversTheDisplayURL) {
    writeLinkShell(false, {{"WickerlyDisplayChangeURL", "demo://displays/changed"}});
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("display", {{"flags", 1}}));
    ASSERT_TRUE(session.send("display", {{"flags", 0}}));
    ASSERT_TRUE(session.send("display", {{"flags", 16}}));
    ASSERT_TRUE(session.send("url", {{"url", "demo://open/last"}}));
    const Json displayChanged = {{"url", "demo://displays/changed"}, {"source", "display-change"}};
    EXPECT_EQ(shellReceives(3), (std::vector<Json>{displayChanged, displayChanged, {{"url", "demo://open/last"}}}));
}

}  // namespace
