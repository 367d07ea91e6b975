// The demo app's TypeScript shell, run by the pinned bun: its menu messages are taken by the
// host, its plain output passes through, and the reopen and end signals work both ways.
#include <gtest/gtest.h>

#include <csignal>

#include "running-host.h"

using namespace testing_support;

namespace {

const fs::path bun = fs::path(SOURCE_ROOT) / ".tools" / "node_modules" / ".bin" / "bun";

class BunShell : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(bun)) << "bun is installed by scripts/setup";
        fixture.writeInfo(Json{{"CFBundleIdentifier", "app.example.demo"},
                               {"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"demo"}}}}}});
        // Run where it lies, beside the kit it imports.
        fs::path shell = fs::path(SOURCE_ROOT) / "examples" / "demo" / "shell.ts";
        fixture.writeRuntime("demo-runtime.json",
                             Json{{"bun", bun.string()}, {"shell", shell.string()}, {"menu", "child"}});
    }

    BundleFixture fixture;
};

TEST_F(BunShell, TheDemoShellTalksToTheHost) {
    RunningHost host(fixture);
    ASSERT_TRUE(RunningHost::eventually([&] { return host.out().find("started by host") != std::string::npos; }));
    EXPECT_NE(host.out().find("started by host " + std::to_string(host.pid())), std::string::npos) << host.out();

    // It announced reopen readiness with SIGUSR2, so a reopen request reaches it at once.
    ASSERT_TRUE(RunningHost::eventually([&] {
        host.signal(SIGUSR1);
        return RunningHost::eventually([&] { return host.out().find("reopen requested") != std::string::npos; }, 500ms);
    }));
    host.signal(SIGTERM);
    EXPECT_EQ(host.waitForTheEnd(), 0);  // the shell ends cleanly on SIGTERM, and the host with it
    EXPECT_NE(host.out().find("demo shell ending (SIGTERM)"), std::string::npos);
    // Menu publications and replies are the host's: none of them reached its output.
    EXPECT_EQ(host.out().find("\"menu\""), std::string::npos) << host.out();
    EXPECT_EQ(host.out().find("\"focus\""), std::string::npos) << host.out();
}

}  // namespace
