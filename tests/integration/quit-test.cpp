// Quitting through the scripted desktop: the user's own quit is confirmed, a session quit is not,
// a setup-quit sender's quit is offered to the shell, and every quit ends the shell's family.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "desktop-session.h"

using namespace testing_support;

namespace {

class Quit : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    fs::path log() const { return supportFolder(fixture) / "shell.jsonl"; }
    std::string text(const std::string& name) const { return fs::exists(file(name)) ? readText(file(name)) : ""; }

    // A shell that says when it is up, notes SIGTERM (after `onTerm`) and keeps what it is told.
    void writeQuietShell(const std::string& before = "", const std::string& onTerm = "") {
        writeShellScript(fixture, before +
                                      "trap '" + onTerm + "echo term >> shell-events; exit 0' TERM\n"
                                      "echo up >> shell-events\n"
                                      "while IFS= read -r line; do printf '%s\\n' \"$line\" >> received; done\n");
    }
    bool shellIsUp() { return RunningHost::eventually([&] { return text("shell-events").find("up") != std::string::npos; }); }
    std::optional<Json> quitReply(DesktopSession& session, const Json& request, const std::string& answer) {
        return session.waitFor("quit-reply", [&](const Json& reply) {
            return reply["request"] == request && reply["answer"] == answer;
        });
    }

    BundleFixture fixture;
};

TEST_F(Quit, TheUsersOwnQuitIsConfirmedAndMayBeCancelled) {
    writeQuietShell();
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(shellIsUp());
    ASSERT_TRUE(session.send("quit", {{"request", 1}}));
    auto alert = session.waitFor("alert");
    ASSERT_TRUE(alert);
    EXPECT_EQ((*alert)["message"], "Quit demo?");
    EXPECT_EQ((*alert)["informative"], "Every window and helper process of demo will close.");
    EXPECT_EQ((*alert)["buttons"], Json({"Quit", "Cancel"}));
    ASSERT_TRUE(session.send("alert-answer", {{"alert", (*alert)["alert"]}, {"button", 1}}));
    EXPECT_TRUE(quitReply(session, 1, "cancel"));
    ASSERT_TRUE(session.sync());
    auto cancelled = recordsOf(log(), "quit-cancelled");
    ASSERT_EQ(cancelled.size(), 1u);
    EXPECT_EQ(cancelled[0]["shell"].get<int>() > 0, true);
    EXPECT_FALSE(session.host().waitForTheEnd(std::chrono::milliseconds(0)));
    // The alert was shown as an accessory application, then the host went back to prohibited.
    std::vector<std::string> policies;
    for (const Json& state : session.statesOf("activation-policy")) policies.push_back(state["policy"]);
    EXPECT_EQ(policies, (std::vector<std::string>{"prohibited", "accessory", "prohibited"}));

    ASSERT_TRUE(session.send("quit", {{"request", 2}}));
    alert = session.waitFor("alert");
    ASSERT_TRUE(alert);
    ASSERT_TRUE(session.send("alert-answer", {{"alert", (*alert)["alert"]}, {"button", 0}}));
    EXPECT_TRUE(quitReply(session, 2, "cancel")) << "the host ends through its shell, not the framework";
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    EXPECT_NE(text("shell-events").find("term"), std::string::npos);
    auto confirmed = recordsOf(log(), "quit-confirmed");
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0]["asker"], "own");
}

TEST_F(Quit, ASessionQuitNeedsNoConfirmation) {
    writeQuietShell();
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(shellIsUp());
    ASSERT_TRUE(session.send("quit", {{"request", "bye"}, {"reason", "logo"}, {"sender", 1}}));
    EXPECT_TRUE(quitReply(session, "bye", "cancel"));
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    EXPECT_TRUE(session.statesOf("alert").empty());
    auto confirmed = recordsOf(log(), "quit-confirmed");
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0]["asker"], "session");
}

TEST_F(Quit, AQuitFromAnotherApplicationEndsTheWholeFamily) {
    // The shell starts a child that starts a grandchild; each notes SIGTERM.
    writeQuietShell(
        "sh -c 'trap \"echo child-term >> shell-events; exit 0\" TERM; "
        "sh -c \"trap \\\"echo grandchild-term >> shell-events; exit 0\\\" TERM; echo \\$\\$ > grandchild; "
        "while :; do sleep 1; done\" & echo $$ > child; wait' &\n",
        // Its family got SIGTERM first; on a busy machine their traps may still be on the way, and
        // once the shell has gone the host kills whoever is left.
        "i=0; while [ $i -lt 30 ] && ! grep -q grandchild-term shell-events; do sleep 0.1; i=$((i+1)); done; ");
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(shellIsUp());
    ASSERT_TRUE(RunningHost::eventually([&] { return !text("grandchild").empty() && !text("child").empty(); }));
    const pid_t child = std::stoi(text("child"));
    const pid_t grandchild = std::stoi(text("grandchild"));
    // This test process is outside the bundle: an outside quit, not confirmed.
    ASSERT_TRUE(session.send("quit", {{"request", 7}, {"sender", getpid()}}));
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    auto confirmed = recordsOf(log(), "quit-confirmed");
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0]["asker"], "outside");
    const Json descendants = confirmed[0]["descendants"];
    EXPECT_NE(std::find(descendants.begin(), descendants.end(), child), descendants.end());
    EXPECT_NE(std::find(descendants.begin(), descendants.end(), grandchild), descendants.end());
    EXPECT_TRUE(RunningHost::eventually([&] { return hasEnded(child) && hasEnded(grandchild); }));
    EXPECT_NE(text("shell-events").find("child-term"), std::string::npos);
    EXPECT_NE(text("shell-events").find("grandchild-term"), std::string::npos);
}

class SettingsQuit : public Quit {
protected:
    // The shell names the settings application; it settles (or not) when asked.
    void writeSettlingShell(const std::string& answer) {
        writeShellScript(fixture,
                         "trap 'echo term >> shell-events; exit 0' TERM\n"
                         "printf '%s\\n' '{\"setupQuitSenders\": [\"org.example.settings\"]}'\n"
                         // A menu after the senders: once the desktop sees it, the host has the senders.
                         "printf '%s\\n' '{\"menu\": [{\"title\": \"Ready\"}]}'\n"
                         "echo up >> shell-events\n"
                         "while IFS= read -r line; do\n"
                         "  printf '%s\\n' \"$line\" >> received\n"
                         "  case \"$line\" in *setupQuit*) " + answer + ";; esac\n"
                         "done\n",
                         {{"menu", "child"}});
    }
    bool sendersAreKnown(DesktopSession& session) {
        return session.waitFor("status-items", [](const Json& state) {
            return !state["items"].empty() && desktop::findItem(state["items"][0]["menu"], "Ready");
        }).has_value();
    }
    std::vector<Json> setupQuitRecords() { return recordsOf(log(), "setup-quit"); }
};

TEST_F(SettingsQuit, TheShellSettlesAQuitFromItsSettingsApplication) {
    writeSettlingShell("printf '%s\\n' '{\"setupQuit\": \"settled\", \"restarting\": true}'; exit 0");
    DesktopSession session(fixture, {launchedApplication(90001, "org.example.settings")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(sendersAreKnown(session));
    ASSERT_TRUE(session.send("quit", {{"request", 3}, {"sender", 90001}}));
    EXPECT_TRUE(quitReply(session, 3, "later"));
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    EXPECT_TRUE(quitReply(session, 3, "terminate")) << "the waiting quit is answered once the shell is gone";
    EXPECT_NE(text("received").find(R"({"setupQuit":"settings"})"), std::string::npos);
    auto records = setupQuitRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "settled");
    EXPECT_EQ(records[0]["restarting"], true);
    EXPECT_TRUE(recordsOf(log(), "quit-confirmed").empty()) << "a restarting settle leaves the ending to the shell";
}

// The shell settles and says it restarts, but stays: the grace timer ends the host, and the quit
// that waits is answered as when the shell leaves by itself.
TEST_F(SettingsQuit, TheGraceTimerAnswersTheQuitThatWaits) {
    writeSettlingShell("printf '%s\\n' '{\"setupQuit\": \"settled\", \"restarting\": true}'");
    DesktopSession session(fixture, {launchedApplication(90001, "org.example.settings")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(sendersAreKnown(session));
    ASSERT_TRUE(session.send("quit", {{"request", 6}, {"sender", 90001}}));
    EXPECT_TRUE(quitReply(session, 6, "later"));
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    auto stuck = recordsOf(log(), "shell-stuck");
    ASSERT_EQ(stuck.size(), 1u);
    EXPECT_EQ(stuck[0]["asked"], "settings-restart");
    EXPECT_TRUE(quitReply(session, 6, "terminate"));
}

TEST_F(SettingsQuit, AShellThatDoesNotAnswerIsEndedAfterASecond) {
    writeSettlingShell(":");
    DesktopSession session(fixture, {launchedApplication(90001, "org.example.settings")});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(sendersAreKnown(session));
    ASSERT_TRUE(session.send("quit", {{"request", 4}, {"sender", 90001}}));
    ASSERT_TRUE(session.send("quit", {{"request", 5}, {"sender", 90001}}));
    EXPECT_TRUE(quitReply(session, 4, "later"));
    EXPECT_TRUE(quitReply(session, 5, "later")) << "a second settings quit waits with the first";
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    auto records = setupQuitRecords();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["result"], "timeout");
    auto confirmed = recordsOf(log(), "quit-confirmed");
    ASSERT_EQ(confirmed.size(), 1u);
    EXPECT_EQ(confirmed[0]["asker"], "settings");
    EXPECT_NE(text("shell-events").find("term"), std::string::npos);
}

}  // namespace
