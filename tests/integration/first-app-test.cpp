// A newcomer's first app, and the host as people run it by hand: its help and version, and a
// warning for a runtime that asks for messages its bundle cannot carry.
#include <gtest/gtest.h>

#include "desktop-session.h"
#include "running-host.h"

using namespace testing_support;

namespace {

// The new app's bun comes from the PATH or, as here, from the source tree's pinned copy.
TEST(FirstApp, ANewAppShowsItsMenuAndItsShellAnswersAPick) {
    BundleFixture fixture;
    RunResult made = fixture.run({"--new-app", (fixture.root() / "apps").string(), "--name", "Hello", "--id",
                                  "org.example.hello"});
    ASSERT_EQ(made.status, 0) << made.err;
    fs::path bundle = fixture.root() / "apps" / "Hello.app";
    EXPECT_NE(made.out.find("created " + bundle.string()), std::string::npos) << made.out;

    DesktopSession session(fixture, {}, {}, {}, bundle / "Contents" / "MacOS" / "hello");
    ASSERT_TRUE(session.started()) << session.why();
    auto drawn = session.waitFor("status-items", [](const Json& state) {
        return desktop::findItem(firstMenuOf(state), "Say hello").has_value();
    });
    ASSERT_TRUE(drawn) << session.host().err();
    EXPECT_EQ((*drawn)["items"][0]["button"]["title"], "") << "the header gives a symbol";
    auto hello = session.desktop().itemNumber("Say hello");
    ASSERT_TRUE(hello);
    session.desktop().mark();
    ASSERT_TRUE(session.send("pick", {{"item", *hello}}));
    EXPECT_TRUE(RunningHost::eventually([&] { return session.host().out().find("Hello from Hello!") != std::string::npos; }))
        << session.host().out() << session.host().err();
    // The pick is shown in the redrawn menu.
    EXPECT_TRUE(session.waitFor("status-items", [](const Json& state) {
        return desktop::findItem(firstMenuOf(state), "Last pick: Say hello").has_value();
    }));
}

TEST(FirstApp, ANewAppNeverReplacesAFolderThatExists) {
    BundleFixture fixture;
    fs::create_directories(fixture.root() / "Taken.app");
    RunResult result = fixture.run({"--new-app", (fixture.root() / "Taken.app").string(), "--name", "Taken", "--id", "a.b"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("exists already"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(fixture.root() / "Taken.app"));
}

TEST(HostHelp, HelpAndVersionAnswerAndEverythingElseGoesToTheShell) {
    BundleFixture fixture;
    writeShellScript(fixture, "echo \"shell got: $*\"\n");
    // Outside a bundle the host has nothing to run, so it explains itself.
    fs::path loose = fixture.root() / "bin" / "menu-bar-host";
    fs::create_directories(loose.parent_path());
    fs::copy_file(fixture.executable(), loose);

    struct Case {
        std::vector<std::string> arguments;
        std::string program;
        std::string printed;
    };
    const Case cases[] = {
        {{"--host-version"}, "", "menu-bar-host "},
        {{"--host-help"}, "", "Tool modes"},
        {{}, loose.string(), "Tool modes"},
        {{"--host-help", "x"}, "", "shell got: --host-help x"},
        {{"--host-version", "--host-help"}, "", "shell got: --host-version --host-help"},
    };
    for (const Case& each : cases) {
        RunResult result = fixture.run(each.arguments, "", {}, each.program);
        EXPECT_EQ(result.status, 0) << each.printed;
        EXPECT_NE(result.out.find(each.printed), std::string::npos) << result.out << result.err;
    }
}

TEST(HostHelp, ARuntimeAskingForMessagesWithoutPipesIsWarnedAbout) {
    struct Case {
        bool piped;
        Json runtime;
        bool warned;
    };
    const Case cases[] = {
        {false, {{"menu", "child"}, {"panel", "host"}}, true},
        {false, {{"hotkeys", "child"}}, true},
        {true, {{"menu", "child"}}, false},
        {false, {{"menu", "tell"}}, false},
    };
    for (const Case& each : cases) {
        BundleFixture fixture;
        writeShellScript(fixture, "exit 0\n", each.runtime, each.piped);
        RunResult result = fixture.run({});
        EXPECT_EQ(result.status, 0);
        auto warning = result.err.find("warning: demo-runtime.json asks for");
        EXPECT_EQ(warning != std::string::npos, each.warned) << each.runtime.dump() << ": " << result.err;
        if (each.warned) {
            EXPECT_EQ(result.err.find("\"menu\"", warning) != std::string::npos, each.runtime.contains("menu"));
        }
    }
}

}  // namespace
