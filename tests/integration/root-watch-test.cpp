// The host leaves with the process that started it, or waits for a new one to adopt it.
#include <gtest/gtest.h>

#include <csignal>

#include "running-host.h"

using namespace testing_support;

namespace {

class RootWatch : public ::testing::Test {
protected:
    fs::path log() const { return supportFolder(fixture) / "shell.jsonl"; }
    fs::path adoptionFile() const { return supportFolder(fixture) / "awaiting-root.json"; }
    bool shellStarted() const { return fs::exists(fixture.root() / "started"); }

    BundleFixture fixture;
};

const char* patientShell = "echo $$ > started\nexec sleep 60\n";

TEST_F(RootWatch, TheHostLeavesWithItsRoot) {
    writeShellScript(fixture, patientShell);
    RunningHost host(RunningHost::ThroughARoot{}, fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return shellStarted(); }));
    host.endTheRoot();
    EXPECT_EQ(host.waitForTheEnd(), 0);
    auto gone = recordsOf(log(), "parent-gone");
    ASSERT_EQ(gone.size(), 1u);
    EXPECT_EQ(gone[0]["parent"], host.root());
    EXPECT_TRUE(gone[0]["descendants"].is_array());
}

TEST_F(RootWatch, AHostedHostIsAdoptedByANewRoot) {
    writeShellScript(fixture, patientShell);
    RunningHost host(RunningHost::ThroughARoot{}, fixture,
                     {{"MENU_BAR_HOSTED", "1"}, {"MENU_BAR_ROOT_WAIT_SECONDS", "20"}});
    ASSERT_TRUE(RunningHost::eventually([&] { return shellStarted(); }));
    pid_t lost = host.root();
    host.endTheRoot();
    ASSERT_TRUE(RunningHost::eventually([&] { return fs::exists(adoptionFile()); }));
    auto waiting = Json::parse(readText(adoptionFile()));
    EXPECT_EQ(waiting["lost"], lost);
    EXPECT_EQ(waiting["pid"], host.pid());
    ASSERT_EQ(recordsOf(log(), "root-lost").size(), 1u);

    writeText(adoptionFile(), Json{{"pid", host.pid() + 1}, {"root", getpid()}}.dump());  // not for this host
    writeText(adoptionFile(), Json{{"pid", host.pid()}, {"root", 1}}.dump());             // not a root
    writeText(adoptionFile(), Json{{"pid", host.pid()}, {"root", getpid()}}.dump());
    ASSERT_TRUE(RunningHost::eventually([&] { return recordsOf(log(), "root-adopted").size() == 1; }));
    auto adopted = recordsOf(log(), "root-adopted")[0];
    EXPECT_EQ(adopted["parent"], getpid());
    EXPECT_EQ(adopted["lost"], lost);
    EXPECT_FALSE(fs::exists(adoptionFile()));
    EXPECT_FALSE(host.waitForTheEnd(std::chrono::milliseconds(0)));
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForTheEnd(), 143);
}

TEST_F(RootWatch, ANewRootThatNeverComesEndsTheWait) {
    writeShellScript(fixture, patientShell);
    RunningHost host(RunningHost::ThroughARoot{}, fixture,
                     {{"MENU_BAR_HOSTED", "1"}, {"MENU_BAR_ROOT_WAIT_SECONDS", "0.5"}});
    ASSERT_TRUE(RunningHost::eventually([&] { return shellStarted(); }));
    host.endTheRoot();
    EXPECT_EQ(host.waitForTheEnd(), 0);
    ASSERT_EQ(recordsOf(log(), "root-never-came").size(), 1u);
    EXPECT_EQ(recordsOf(log(), "root-never-came")[0]["waitSeconds"], 0.5);
    EXPECT_EQ(recordsOf(log(), "parent-gone").size(), 1u);
    EXPECT_FALSE(fs::exists(adoptionFile()));
}

}  // namespace
