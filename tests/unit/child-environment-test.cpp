// The shell's environment: what it inherits, what is removed, what is added and in which order.
#include <gtest/gtest.h>

#include "start-up/child-environment.h"

using namespace host;

namespace {

ChildEnvironmentInputs inputs() {
    ChildEnvironmentInputs in;
    in.inherited = {{"PATH", "/usr/bin:/bin"}, {"HOME", "/home/u"}};
    in.hostPid = 4242;
    in.parentPid = 777;
    in.prefix = "DEMO_";
    in.executable = "/opt/bun/bin/bun";
    in.bundleDirectory = "/Applications/Demo.app";
    in.home = "/home/u";
    return in;
}

bool has(const Environment& environment, const std::string& name) { return environment.count(name) > 0; }

TEST(ChildEnvironment, AddsTheHostsOwnVariables) {
    auto result = childEnvironmentOf(inputs(), false).environment;
    EXPECT_EQ(result["PATH"], "/opt/bun/bin:/usr/bin:/bin");
    EXPECT_EQ(result["DEMO_LAUNCHER_PID"], "4242");
    EXPECT_EQ(result["DEMO_REOPEN_READY_SIGNAL"], "USR2");
    EXPECT_EQ(result["DEMO_BUNDLE_PATH"], "/Applications/Demo.app");
    EXPECT_EQ(result["HOME"], "/home/u");
    EXPECT_FALSE(has(result, "DEMO_HOSTED"));
    EXPECT_FALSE(has(result, "SWIFT_VIEWS_DYLIB"));
}

TEST(ChildEnvironment, PathForFrozenAndForMissingPath) {
    auto in = inputs();
    in.frozen = true;
    EXPECT_EQ(childEnvironmentOf(in, false).environment["PATH"], "/usr/bin:/bin");
    in.frozen = false;
    in.inherited.erase("PATH");
    EXPECT_EQ(childEnvironmentOf(in, false).environment["PATH"], "/opt/bun/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    in.frozen = true;
    EXPECT_FALSE(has(childEnvironmentOf(in, false).environment, "PATH"));
}

TEST(ChildEnvironment, CallerSessionAndInjectingVariablesAreRemoved) {
    auto in = inputs();
    in.inherited.insert({{"CLAUDECODE", "1"}, {"CLAUDE_CODE_ENTRYPOINT", "cli"}, {"CLAUDE_CODEX", "kept"},
                         {"CLAUDECODE_X", "kept"}, {"NODE_OPTIONS", "--require x"}, {"BUN_OPTIONS", "--x"}});
    auto result = childEnvironmentOf(in, false).environment;
    EXPECT_FALSE(has(result, "CLAUDECODE"));
    EXPECT_FALSE(has(result, "CLAUDE_CODE_ENTRYPOINT"));
    EXPECT_FALSE(has(result, "NODE_OPTIONS"));
    EXPECT_FALSE(has(result, "BUN_OPTIONS"));
    EXPECT_EQ(result["CLAUDE_CODEX"], "kept");
    EXPECT_EQ(result["CLAUDECODE_X"], "kept");

    in.runtimeObject = {{"environment", {{"NODE_OPTIONS", "--max-old-space-size=64"}}}};
    EXPECT_EQ(childEnvironmentOf(in, false).environment["NODE_OPTIONS"], "--max-old-space-size=64");
}

TEST(ChildEnvironment, HostedOnlyUnderARealParent) {
    auto in = inputs();
    in.inherited["MENU_BAR_HOSTED"] = "1";
    in.inherited["MENU_BAR_ROOT_WAIT_SECONDS"] = "2.5";
    auto hosted = childEnvironmentOf(in, false);
    EXPECT_TRUE(hosted.hostedByItsParent);
    EXPECT_DOUBLE_EQ(hosted.rootWaitSeconds, 2.5);
    EXPECT_EQ(hosted.environment["DEMO_HOSTED"], "1");
    EXPECT_FALSE(has(hosted.environment, "MENU_BAR_HOSTED"));
    EXPECT_FALSE(has(hosted.environment, "MENU_BAR_ROOT_WAIT_SECONDS"));

    in.parentPid = 1;
    auto underLaunchd = childEnvironmentOf(in, false);
    EXPECT_FALSE(underLaunchd.hostedByItsParent);
    EXPECT_EQ(underLaunchd.rootWaitSeconds, 0);
    EXPECT_FALSE(has(underLaunchd.environment, "DEMO_HOSTED"));
    EXPECT_FALSE(has(underLaunchd.environment, "MENU_BAR_HOSTED"));
}

TEST(ChildEnvironment, RootWaitNeedsHostingAndANumber) {
    auto in = inputs();
    in.inherited["MENU_BAR_ROOT_WAIT_SECONDS"] = "2.5";
    EXPECT_EQ(childEnvironmentOf(in, false).rootWaitSeconds, 0);
    in.inherited["MENU_BAR_HOSTED"] = "1";
    for (std::string bad : {"soon", "", " 2", "2s", "-3", "inf", "nan"}) {
        in.inherited["MENU_BAR_ROOT_WAIT_SECONDS"] = bad;
        EXPECT_EQ(childEnvironmentOf(in, false).rootWaitSeconds, 0) << bad;
    }
    in.inherited["MENU_BAR_HOSTED"] = "yes";
    in.inherited["MENU_BAR_ROOT_WAIT_SECONDS"] = "4";
    EXPECT_FALSE(childEnvironmentOf(in, false).hostedByItsParent);
}

TEST(ChildEnvironment, RuntimeValuesInTheirPlaces) {
    auto in = inputs();
    in.runtime = {{"logs", "/home/u/logs"}, {"data", "/data"}, {"socket", "/s.sock"}, {"copy", "/copy"}, {"temporary", "true"}};
    auto result = childEnvironmentOf(in, false).environment;
    EXPECT_EQ(result["DEMO_LOG_ROOT"], "/home/u/logs");
    EXPECT_EQ(result["WICKERLY_HOME"], "/data");
    EXPECT_EQ(result["DEMO_SOCKET_PATH"], "/s.sock");
    EXPECT_EQ(result["DEMO_COPY_OUTPUT_DIR"], "/copy");
    EXPECT_EQ(result["DEMO_TEMPORARY"], "1");
    for (std::string notTrue : {"TRUE", "yes", "1"}) {
        in.runtime["temporary"] = notTrue;
        EXPECT_FALSE(has(childEnvironmentOf(in, false).environment, "DEMO_TEMPORARY")) << notTrue;
    }
}

TEST(ChildEnvironment, RuntimeEnvironmentWinsAndIsResolved) {
    auto in = inputs();
    in.inherited["MENU_BAR_HOSTED"] = "1";
    in.runtimeObject = {{"environment",
                         {{"PATH", "/only"}, {"DEMO_LAUNCHER_PID", "1"}, {"A", "~/a"}, {"B", "Contents/Resources/b"},
                          {"C", "./c"}, {"MENU_BAR_HOSTED", "again"}}}};
    auto result = childEnvironmentOf(in, false).environment;
    EXPECT_EQ(result["PATH"], "/only");
    EXPECT_EQ(result["DEMO_LAUNCHER_PID"], "1");
    EXPECT_EQ(result["A"], "/home/u/a");
    EXPECT_EQ(result["B"], "/Applications/Demo.app/Contents/Resources/b");
    EXPECT_EQ(result["C"], "./c");
    EXPECT_EQ(result["MENU_BAR_HOSTED"], "again");

    in.runtimeObject = {{"environment", {{"A", "x"}, {"B", 1}}}};
    EXPECT_FALSE(has(childEnvironmentOf(in, false).environment, "A"));
}

TEST(ChildEnvironment, ViewsLibraryOnlyWhenPresent) {
    auto in = inputs();
    in.inherited["SWIFT_VIEWS_DYLIB"] = "/elsewhere/libViews.dylib";
    in.runtimeObject = {{"environment", {{"SWIFT_VIEWS_DYLIB", "/runtime/libViews.dylib"}}}};
    EXPECT_EQ(childEnvironmentOf(in, false).environment["SWIFT_VIEWS_DYLIB"], "/runtime/libViews.dylib");
    in.runtimeObject = Json::object();
    EXPECT_EQ(childEnvironmentOf(in, false).environment["SWIFT_VIEWS_DYLIB"], "/elsewhere/libViews.dylib");
    auto present = childEnvironmentOf(in, true);
    EXPECT_EQ(present.environment["SWIFT_VIEWS_DYLIB"], "/Applications/Demo.app/Contents/Frameworks/libViews.dylib");
    EXPECT_EQ(present.ownViews, "/Applications/Demo.app/Contents/Frameworks/libViews.dylib");
}

}  // namespace
