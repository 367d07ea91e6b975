// The host supervising real shells (small sh scripts run as the bundle's "bun"): how it follows
// them out, forwards and answers signals, swaps them, kills stuck ones and relaunches itself.
#include <gtest/gtest.h>

#include <csignal>

#include "running-host.h"

using namespace testing_support;

namespace {

class ShellSupervision : public ::testing::Test {
protected:
    fs::path log() const { return supportFolder(fixture) / "shell.jsonl"; }
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    std::vector<std::string> lines(const std::string& name) const {
        std::vector<std::string> all;
        std::istringstream in(readText(file(name)));
        for (std::string line; std::getline(in, line);) all.push_back(line);
        return all;
    }
    bool hasLines(const std::string& name, std::size_t count) const { return lines(name).size() >= count; }

    BundleFixture fixture;
};

TEST_F(ShellSupervision, TheHostEndsWithTheShellsStatus) {
    writeShellScript(fixture, "exit 3\n");
    RunningHost host(fixture);
    EXPECT_EQ(host.waitForTheEnd(), 3);
    auto exits = recordsOf(log(), "child-exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0]["reason"], "exit");
    EXPECT_EQ(exits[0]["status"], 3);
    EXPECT_EQ(exits[0]["pid"], host.pid());
    EXPECT_TRUE(exits[0]["at"].is_string());
}

TEST_F(ShellSupervision, ArgumentsReachTheShellAfterItsScript) {
    writeShellScript(fixture, "printf '%s|' \"$0\" \"$@\" > args\nexit 0\n");
    RunningHost host(fixture, {"one", "two words"});
    EXPECT_EQ(host.waitForTheEnd(), 0);
    EXPECT_EQ(readText(file("args")), file("shell.sh").string() + "|one|two words|");
}

TEST_F(ShellSupervision, TerminationIsPassedOnAndItsStatusFollowed) {
    writeShellScript(fixture, "echo $$ > started\nexec sleep 60\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("started", 1); }));
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForTheEnd(), 143);
    auto exits = recordsOf(log(), "child-exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0]["reason"], "signal");
    EXPECT_EQ(exits[0]["status"], 15);
    EXPECT_EQ(exits[0]["signal"], "Terminated");
}

TEST_F(ShellSupervision, InterruptIsForwardedAndTheHostWaitsForTheShell) {
    writeShellScript(fixture, "trap 'echo interrupted; exit 7' INT\necho $$ > started\n"
                              "sleep 60 >/dev/null 2>&1 &\nwait\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("started", 1); }));
    host.signal(SIGINT);
    EXPECT_EQ(host.waitForTheEnd(), 7);
    EXPECT_EQ(host.out(), "interrupted\n");
}

TEST_F(ShellSupervision, HangUpSwapsTheShell) {
    writeShellScript(fixture, "echo $$ >> starts\nexec sleep 60\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("starts", 1); }));
    host.signal(SIGHUP);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("starts", 2); }));
    auto starts = lines("starts");
    ASSERT_TRUE(RunningHost::eventually([&] { return recordsOf(log(), "shell-swapped").size() == 1; }));
    auto swapped = recordsOf(log(), "shell-swapped")[0];
    EXPECT_EQ(swapped["asked"], "launcher-sighup");
    EXPECT_EQ(swapped["from"], std::stoi(starts[0]));
    EXPECT_EQ(swapped["to"], std::stoi(starts[1]));
    EXPECT_EQ(swapped["waiting"], 0);

    kill(std::stoi(starts[1]), SIGHUP);  // the shell dies of the swap signal itself
    ASSERT_TRUE(RunningHost::eventually([&] { return recordsOf(log(), "shell-swapped").size() == 2; }));
    EXPECT_EQ(recordsOf(log(), "shell-swapped")[1]["asked"], "shell-sighup");
    EXPECT_FALSE(host.waitForTheEnd(std::chrono::milliseconds(0)));
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForTheEnd(), 143);
}

TEST_F(ShellSupervision, HangUpWhileTerminatingChangesNothing) {
    writeShellScript(fixture, "trap 'touch term-seen' TERM\necho $$ >> starts\n"
                              "while [ ! -f term-seen ]; do sleep 0.02; done\n"
                              "while [ ! -f release ]; do sleep 0.02; done\nexit 5\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("starts", 1); }));
    host.signal(SIGTERM);
    ASSERT_TRUE(RunningHost::eventually([&] { return fs::exists(file("term-seen")); }));
    host.signal(SIGHUP);
    writeText(file("release"), "");
    EXPECT_EQ(host.waitForTheEnd(), 5);
    EXPECT_EQ(lines("starts").size(), 1u);
    EXPECT_TRUE(recordsOf(log(), "shell-swapped").empty());
}

TEST_F(ShellSupervision, AStuckShellIsKilledAfterTheGraceTime) {
    writeShellScript(fixture, "trap '' TERM\necho $$ > started\nexec sleep 60\n");
    RunningHost host(fixture, {}, {{"MENU_BAR_HOSTED", "1"}});  // hosted: the shorter grace time
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("started", 1); }));
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForTheEnd(), 0);
    auto stuck = recordsOf(log(), "shell-stuck");
    ASSERT_EQ(stuck.size(), 1u);
    int shell = std::stoi(lines("started")[0]);
    EXPECT_EQ(stuck[0]["asked"], "term");
    EXPECT_EQ(stuck[0]["shell"], shell);
    EXPECT_DOUBLE_EQ(stuck[0]["graceSeconds"].get<double>(), 2.8);
    EXPECT_NE(std::find(stuck[0]["killed"].begin(), stuck[0]["killed"].end(), shell), stuck[0]["killed"].end());
    EXPECT_TRUE(RunningHost::eventually([&] { return hasEnded(shell); }));
}

TEST_F(ShellSupervision, AnEarlyCrashEndsTheHost) {
    writeShellScript(fixture, "kill -SEGV $$\n");
    RunningHost host(fixture);
    EXPECT_EQ(host.waitForTheEnd(), 139);
    auto exits = recordsOf(log(), "child-exit");
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0]["status"], 11);
    EXPECT_EQ(exits[0]["signal"], "Segmentation fault");
}

TEST_F(ShellSupervision, ALateCrashRelaunchesTheHostUnlessHosted) {
    // Crashing after the crash-loop window (10 s) is taken for a fault worth a fresh start.
    writeShellScript(fixture, "echo \"$PPID\" >> runs\n[ -f once ] && exit 0\ntouch once\n"
                              "sleep 10.2\nkill -SEGV $$\n");
    BundleFixture hostedFixture;
    writeShellScript(hostedFixture, "sleep 10.2\nkill -SEGV $$\n");
    RunningHost host(fixture);
    RunningHost hosted(hostedFixture, {}, {{"MENU_BAR_HOSTED", "1"}});
    EXPECT_EQ(host.waitForTheEnd(30s), 0);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("runs", 2); }));
    EXPECT_NE(lines("runs")[1], std::to_string(host.pid()));
    EXPECT_EQ(hosted.waitForTheEnd(30s), 139);
}

TEST_F(ShellSupervision, StatusSeventyFiveRelaunchesTheHost) {
    writeShellScript(fixture, "echo \"$PPID $*\" >> runs\n[ -f once ] && exit 0\ntouch once\nexit 75\n");
    RunningHost host(fixture, {"--witness-wrapper", "x"});
    EXPECT_EQ(host.waitForTheEnd(), 0);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("runs", 2); }));
    auto runs = lines("runs");
    EXPECT_EQ(runs[0], std::to_string(host.pid()) + " --witness-wrapper x");
    EXPECT_NE(runs[1].substr(0, runs[1].find(' ')), std::to_string(host.pid()));
    EXPECT_EQ(runs[1].substr(runs[1].find(' ') + 1), "--witness-wrapper x --restart-witness-after");
}

TEST_F(ShellSupervision, ReopenWaitsForTheShellToBeReady) {
    writeShellScript(fixture, "echo $$ > started\nwhile [ ! -f go ]; do sleep 0.02; done\n"
                              "trap 'echo reopened; exit 0' USR1\nkill -USR2 $DEMO_LAUNCHER_PID\n"
                              "while :; do sleep 0.02; done\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("started", 1); }));
    host.signal(SIGUSR1);
    ASSERT_TRUE(RunningHost::eventually([&] { return recordsOf(log(), "reopen-waiting").size() == 1; }));
    writeText(file("go"), "");
    EXPECT_EQ(host.waitForTheEnd(), 0);
    EXPECT_EQ(host.out(), "reopened\n");
    auto resumed = recordsOf(log(), "reopen-resumed");
    ASSERT_EQ(resumed.size(), 1u);
    EXPECT_EQ(resumed[0]["shell"], std::stoi(lines("started")[0]));
}

TEST_F(ShellSupervision, AShellThatCatchesReopenGetsItAtOnce) {
    writeShellScript(fixture, "trap 'echo reopened; exit 0' USR1\necho $$ > started\n"
                              "while :; do sleep 0.02; done\n");
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return hasLines("started", 1); }));
    host.signal(SIGUSR1);
    EXPECT_EQ(host.waitForTheEnd(), 0);
    EXPECT_EQ(host.out(), "reopened\n");
    EXPECT_TRUE(recordsOf(log(), "reopen-waiting").empty());
}

TEST_F(ShellSupervision, EverythingButMessagesPassesThroughByteExact) {
    writeShellScript(fixture, "printf 'plain\\n\\n{\"watch\":\"apps\",\"x\":1}\\n[1]\\n{\"url\":\"x\"}\\n"
                              "{\"popUp\":true}\\nnot json {\\n{\"watch\":\"apps\"}\\n{\"focus\":\"replies\"}\\n"
                              " {\"b\": 2,  \"a\":1}\\r\\n\\377\\376\\n"
                              "{\"url\":\"y\",\"error\":null}\\nlast line without newline'\n");
    RunningHost host(fixture);
    EXPECT_EQ(host.waitForTheEnd(), 0);
    EXPECT_EQ(host.out(), "plain\n\n{\"watch\":\"apps\",\"x\":1}\n[1]\n{\"url\":\"x\"}\n{\"popUp\":true}\nnot json {\n"
                          " {\"b\": 2,  \"a\":1}\r\n\xff\xfe\n");
}

TEST_F(ShellSupervision, WithoutPipesTheShellWritesStraightToTheHostsOutput) {
    writeShellScript(fixture, "printf '{\"watch\":\"apps\"}\\nno newline'\n", Json::object(), false);
    RunningHost host(fixture);
    EXPECT_EQ(host.waitForTheEnd(), 0);
    EXPECT_EQ(host.out(), "{\"watch\":\"apps\"}\nno newline");
}

TEST_F(ShellSupervision, ALaunchFailureEndsTheHostWith71) {
    writeShellScript(fixture, "exit 0\n");
    fixture.writeRuntime("demo-runtime.json", Json{{"bun", "/bin/true"}, {"shell", "/"}});
    fs::permissions(file("shell.sh"), fs::perms::owner_read);
    // A frozen shell that exists but cannot be started as a program.
    fixture.writeRuntime("demo-runtime.json", Json{{"executable", "broken"}});
    writeText(fixture.contents() / "MacOS" / "broken", "\x7f" "ELF but not really", true);
    RunningHost host(fixture);
    EXPECT_EQ(host.waitForTheEnd(), 71);
    EXPECT_NE(host.err().find("broken"), std::string::npos) << host.err();
}

}  // namespace
