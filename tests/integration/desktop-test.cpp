// The real host with the test as its scripted desktop: the handshake, what the host reports,
// and desktop events reaching it.
#include <gtest/gtest.h>

#include <csignal>

#include "desktop-session.h"

using namespace testing_support;

namespace {

class Desktop : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return fixture.root() / name; }
    std::vector<Json> receivedByTheShell() const { return recordsOf(file("received")); }
    // A shell that keeps every line the host sends it.
    void writeRecordingShell(Json runtime = Json::object()) {
        writeShellScript(fixture, "exec cat > received\n", std::move(runtime));
    }

    BundleFixture fixture;
};

TEST_F(Desktop, TheHostSaysHelloAndStartsWithoutADockIcon) {
    writeRecordingShell();
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    const Json& hello = session.desktop().hello();
    EXPECT_EQ(hello["version"], 1);
    EXPECT_EQ(hello["pid"], session.host().pid());
    EXPECT_EQ(hello["identity"], "app.example.demo");
    EXPECT_EQ(hello["bundlePath"], fixture.bundle().string());
    auto policy = session.waitFor("activation-policy");
    ASSERT_TRUE(policy);
    EXPECT_EQ((*policy)["policy"], "prohibited");
    EXPECT_EQ((*policy)["accepted"], true);
    ASSERT_TRUE(session.sync());
}

TEST_F(Desktop, TheShellHearsOfEachFrontApplicationFromTheDesktop) {
    writeRecordingShell({{"front", "tell"}});
    DesktopSession session(fixture, {launchedApplication(90001, "org.example.files"),
                                     launchedApplication(90002, "org.example.browser"),
                                     {{"event", "activated"}, {"pid", 90001}}});
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("activated", {{"pid", 90002}}));
    ASSERT_TRUE(session.send("activated", {{"pid", session.host().pid()}}));
    ASSERT_TRUE(session.sync());
    ASSERT_TRUE(RunningHost::eventually([&] { return receivedByTheShell().size() >= 3; })) << readText(file("received"));
    auto lines = receivedByTheShell();
    EXPECT_EQ(lines[0], Json({{"front", "org.example.files"}})) << "the front at start comes from the desktop's setup";
    EXPECT_EQ(lines[1], Json({{"front", "org.example.browser"}}));
    EXPECT_EQ(lines[2], Json({{"front", "app.example.demo"}}));
}

TEST_F(Desktop, EventsTheHostCannotTakeAreAnsweredAndTheHostCarriesOn) {
    writeRecordingShell();
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.send("activated", {{"pid", 1}}));
    ASSERT_TRUE(session.send("pick", {{"item", 12345}}));
    ASSERT_TRUE(session.send("open-menu"));
    ASSERT_TRUE(session.send("hot-key", {{"code", 40}, {"modifiers", 256}}));
    ASSERT_TRUE(session.sync());
    auto errors = session.statesOf("error");
    ASSERT_EQ(errors.size(), 4u);
    EXPECT_EQ(errors[0]["message"], "no application with pid 1");
    EXPECT_EQ(errors[1]["message"], "no item 12345 in any menu");
    EXPECT_EQ(errors[2]["message"], "no status item has a menu");
    EXPECT_EQ(errors[3]["message"], "no hot key is registered for that chord");
    EXPECT_FALSE(session.host().waitForTheEnd(std::chrono::milliseconds(0)));
}

TEST_F(Desktop, WhenTheDesktopLeavesTheHostRunsOnHeadless) {
    writeRecordingShell();
    DesktopSession session(fixture);
    ASSERT_TRUE(session.started()) << session.why();
    ASSERT_TRUE(session.sync());
    session.desktop().disconnect();
    ASSERT_TRUE(RunningHost::eventually([&] {
        return session.host().err().find("desktop unavailable: the desktop closed the connection\n") != std::string::npos;
    }));
    EXPECT_FALSE(session.host().waitForTheEnd(std::chrono::milliseconds(0)));
    session.host().signal(SIGTERM);
    EXPECT_EQ(session.host().waitForTheEnd(), 143);
}

TEST_F(Desktop, ADesktopThatCannotBeReachedLeavesTheHostHeadless) {
    writeShellScript(fixture, "exit 4\n");
    RunningHost host(fixture, {}, {{"MENU_BAR_DESKTOP", (fixture.root() / "nobody.sock").string()}});
    EXPECT_EQ(host.waitForTheEnd(), 4);
    const std::string socket = (fixture.root() / "nobody.sock").string();
    EXPECT_EQ(host.err(), "desktop: scripted (" + socket + ")\ndesktop unavailable: " + socket +
                              ": No such file or directory\n");
}

TEST_F(Desktop, ADesktopOfAnotherVersionIsRefused) {
    writeShellScript(fixture, "exit 5\n");
    desktop::Peer peer;
    ASSERT_EQ(peer.listen((fixture.root() / "desktop.sock").string()), "");
    RunningHost host(fixture, {}, {{"MENU_BAR_DESKTOP", peer.path()}});
    ASSERT_EQ(peer.accept(20), "");
    ASSERT_TRUE(peer.send("ready", {{"version", 2}}));
    EXPECT_EQ(host.waitForTheEnd(), 5);
    EXPECT_EQ(host.err(), "desktop: scripted (" + peer.path() + ")\ndesktop unavailable: the desktop speaks version 2, not 1\n");
}

TEST_F(Desktop, TheBadgePlanReadsTheDesktopsWindows) {
    fixture.writeIdentity();
    Json window = {{"pid", 4242}, {"layer", 0}, {"bounds", {{"x", 100}, {"y", 200}, {"width", 400}, {"height", 300}}}};
    Json overlay = {{"pid", 4242}, {"layer", 25}, {"bounds", {{"x", 0}, {"y", 0}, {"width", 50}, {"height", 50}}}};
    DesktopSession session(fixture, {{{"event", "windows"}, {"windows", Json::array({overlay, window})}}},
                           {"--badge-plan", R"({"badge":{"pid":4242,"text":"hi"}})"});
    ASSERT_TRUE(session.started()) << session.why();
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    auto plan = Json::parse(session.host().out(), nullptr, false);
    EXPECT_EQ(plan["badge"], true);
    EXPECT_EQ(plan["window"], Json({{"x", 100}, {"y", 200}, {"width", 400}, {"height", 300}}));
    EXPECT_EQ(plan["frame"], Json({{"x", 225}, {"y", 252}, {"width", 150}, {"height", 34}}));
}

}  // namespace
