// Badges through the real host and the scripted desktop: where the panel goes over windows of
// every shape, which badge's time hides it, and the badge plan of a window the desktop shows.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>

#include "desktop-session.h"

using namespace testing_support;

namespace {

constexpr std::int64_t A_MINUTE = 60000;

Json rect(double x, double y, double width, double height) {
    return {{"x", x}, {"y", y}, {"width", width}, {"height", height}};
}

Json window(std::int32_t pid, const Json& bounds, int layer = 0) {
    return {{"pid", pid}, {"layer", layer}, {"bounds", bounds}};
}

Json badge(std::int32_t pid, const std::string& text, std::int64_t ms) {
    return {{"badge", {{"pid", pid}, {"text", text}, {"ms", ms}}}};
}

// One window of each shape, each its own process, on a 1440 × 900 primary screen.
constexpr std::int32_t WIDE = 5001;
constexpr std::int32_t NARROW = 5002;
constexpr std::int32_t TALL = 5003;
constexpr std::int32_t SHORT = 5004;
constexpr std::int32_t SHORTER_THAN_THE_BADGE = 5005;

const std::vector<Json> desktopWithWindows = {
    {{"event", "screens"}, {"screens", Json::array({rect(0, 0, 1440, 900), rect(1440, 0, 1920, 1080)})}},
    {{"event", "windows"},
     {"windows", Json::array({window(WIDE, rect(100, 100, 1000, 500)), window(NARROW, rect(300, 200, 100, 400)),
                              window(TALL, rect(50, 20, 400, 1000)), window(SHORT, rect(600, 700, 300, 40)),
                              window(SHORTER_THAN_THE_BADGE, rect(10, 850, 300, 30)),
                              window(WIDE, rect(0, 0, 1440, 900), 25)})}},
};

class Badges : public ::testing::Test {
protected:
    Badges() { writeRelayShell(fixture, {{"menu", "child"}}); }

    std::optional<Json> shown(DesktopSession& session, const std::string& text) {
        return session.waitFor("badge", [&](const Json& state) { return state["visible"] == true && state["text"] == text; });
    }
    std::optional<Json> hidden(DesktopSession& session, const std::string& text) {
        return session.waitFor("badge", [&](const Json& state) { return state["visible"] == false && state["text"] == text; });
    }

    BundleFixture fixture;
};

TEST_F(Badges, TheBadgeSitsNearTheTopOfWindowsOfEveryShape) {
    DesktopSession session(fixture, desktopWithWindows);
    ASSERT_TRUE(session.started()) << session.why();
    // Each expected frame is in screen coordinates: y runs up from the primary screen's bottom.
    const std::vector<std::tuple<std::int32_t, std::string, Json>> cases = {
        {WIDE, "wide", rect(525, 900 - 186, 150, 34)},
        {NARROW, "narrow", rect(300, 900 - 286, 100, 34)},
        {TALL, "tall", rect(175, 900 - 106, 150, 34)},
        {SHORT, "short", rect(675, 900 - 740, 150, 34)},
        {SHORTER_THAN_THE_BADGE, "shorter", rect(85, 900 - 880, 150, 30)},
    };
    for (const auto& [pid, text, frame] : cases) {
        tellTheHostAsTheShell(fixture, {badge(pid, text, A_MINUTE)});
        auto state = shown(session, text);
        ASSERT_TRUE(state) << text;
        EXPECT_EQ((*state)["frame"], frame) << text;
        EXPECT_EQ((*state)["level"], 25) << text;
    }
}

TEST_F(Badges, ABadgeWithNoTimeLeftIsShownThenHiddenOnTheNextTurn) {
    DesktopSession session(fixture, desktopWithWindows);
    ASSERT_TRUE(session.started()) << session.why();
    tellTheHostAsTheShell(fixture, {badge(WIDE, "blink", 0)});
    ASSERT_TRUE(shown(session, "blink")) << "the desktop is shown the badge before it goes";
    auto gone = hidden(session, "blink");
    ASSERT_TRUE(gone);
    EXPECT_EQ((*gone)["frame"], rect(525, 714, 150, 34));
}

TEST_F(Badges, TheNewestBadgeWinsAndAnOlderBadgesTimeDoesNotHideIt) {
    DesktopSession session(fixture, desktopWithWindows);
    ASSERT_TRUE(session.started()) << session.why();
    tellTheHostAsTheShell(fixture, {badge(WIDE, "first", 50), badge(NARROW, "second", A_MINUTE)});
    auto second = shown(session, "second");
    ASSERT_TRUE(second);
    EXPECT_EQ((*second)["frame"], rect(300, 614, 100, 34));
    // Waiting out the first badge's time lets a wrong hide happen; it cannot make one up.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(session.sync());
    auto states = session.statesOf("badge");
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back()["visible"], true) << states.back();
    EXPECT_EQ(states.back()["text"], "second");

    tellTheHostAsTheShell(fixture, {badge(TALL, "third", 50)});
    ASSERT_TRUE(shown(session, "third"));
    EXPECT_TRUE(hidden(session, "third")) << "the newest badge's own time hides it";
}

TEST_F(Badges, ThePlanOfAWindowBehindAPanelOnASecondaryDisplay) {
    fixture.writeIdentity();
    const Json behind = window(4242, rect(-1200.5, -300, 801, 600));
    const Json panel = window(4242, rect(-1200, -300, 300, 200), 3);
    DesktopSession session(fixture, {{{"event", "windows"}, {"windows", Json::array({panel, behind})}}},
                           {"--badge-plan", R"({"badge":{"pid":4242,"text":"away","ms":1500}})"});
    ASSERT_TRUE(session.started()) << session.why();
    EXPECT_EQ(session.host().waitForTheEnd(), 0);
    EXPECT_EQ(session.host().out(),
              R"({"badge":true,"frame":{"height":34,"width":150,"x":-875,"y":-248},"ignoresMouseEvents":true,)"
              R"("ms":1500,"nonactivating":true,"pid":4242,"window":{"height":600,"width":801,"x":-1200.5,"y":-300}})"
              "\n");
}

}  // namespace
