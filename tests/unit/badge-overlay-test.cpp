// The badge overlay against a desktop held in memory: where the panel goes, when nothing is
// shown, and which badge's time hides it.
#include "badges/badge-overlay.h"

#include <gtest/gtest.h>

#include "fake-desktop.h"
#include "main-queue.h"

using namespace host;
using namespace testing_support;
using host::platform::OnScreenWindow;
using host::platform::Rect;

namespace {

constexpr std::int32_t EDITOR = 4242;
constexpr std::int32_t BROWSER = 4343;
constexpr std::int64_t A_MINUTE = 60000;

class BadgeOverlay : public ::testing::Test {
protected:
    BadgeOverlay() {
        desktop->windows = {{EDITOR, 0, Rect{100, 200, 800, 600}}, {BROWSER, 0, Rect{0, 0, 120, 30}}};
    }
    const platform::BadgePanel& panel() { return desktop->badgePanel(); }

    InstalledFakeDesktop desktop;
    std::unique_ptr<BadgeOwner> owner = std::make_unique<BadgeOwner>();
};

TEST_F(BadgeOverlay, ThePanelShowsTheTextOverTheFrontWindowInScreenCoordinates) {
    desktop->windowLevel = 101;
    owner->show({EDITOR, "Saved", A_MINUTE});
    EXPECT_TRUE(panel().visible());
    EXPECT_EQ(panel().text(), "Saved");
    // Globally at (425, 252) to (575, 286); the screen's y runs up from 900.
    EXPECT_EQ(panel().frame(), (Rect{425, 614, 150, 34}));
    EXPECT_EQ(panel().level(), 101);
    EXPECT_EQ(owner->panel, &desktop->badgePanel());

    owner->show({BROWSER, "", A_MINUTE});
    EXPECT_EQ(panel().text(), "") << "the newer badge relabels the same panel";
    EXPECT_EQ(panel().frame(), (Rect{0, 870, 120, 30}));
    EXPECT_EQ(owner->generation, 2u);
}

TEST_F(BadgeOverlay, AWindowOnASecondaryDisplayGetsItsBadgeThere) {
    desktop->screenFrames = {{0, 0, 1440, 900}, {-1920, -1080, 1920, 1080}};
    desktop->windows = {{EDITOR, 0, Rect{-1500, -900, 1000, 700}}};
    owner->show({EDITOR, "Away", A_MINUTE});
    EXPECT_EQ(panel().frame(), (Rect{-1075, 900 - (-848 + 34), 150, 34}));
}

TEST_F(BadgeOverlay, NothingIsShownWithoutANormalWindowOrAScreen) {
    desktop->windows = {{EDITOR, 25, Rect{0, 0, 500, 500}}, {EDITOR, 0, Rect{0, 0, 500, 0}}};
    owner->show({EDITOR, "Panel only", A_MINUTE});
    owner->show({9999, "No such process", A_MINUTE});
    desktop->windows = {{EDITOR, 0, Rect{0, 0, 500, 500}}};
    desktop->screenFrames.clear();
    owner->show({EDITOR, "No screen", A_MINUTE});
    EXPECT_FALSE(panel().visible());
    EXPECT_EQ(panel().text(), "");
    EXPECT_EQ(owner->panel, nullptr) << "the panel is made on the first badge shown";
    EXPECT_EQ(owner->generation, 0u);
}

TEST_F(BadgeOverlay, NoTimeLeftHidesOnTheNextTurnOfTheMainQueue) {
    owner->show({EDITOR, "Blink", 0});
    EXPECT_TRUE(panel().visible()) << "shown until the queue turns";
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_FALSE(panel().visible());

    owner->show({EDITOR, "Negative", -5});
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_FALSE(panel().visible());
}

TEST_F(BadgeOverlay, TheBadgeHidesAfterItsTime) {
    owner->show({EDITOR, "Soon gone", 30});
    EXPECT_TRUE(panel().visible());
    EXPECT_TRUE(runTheLoopUntil([&] { return !panel().visible(); }));
}

TEST_F(BadgeOverlay, AnOlderBadgesTimeDoesNotHideANewerBadge) {
    owner->show({EDITOR, "First", 20});
    owner->show({BROWSER, "Second", A_MINUTE});
    // A later timer fires after the first badge's time has passed.
    bool passed = false;
    loop::Timer witness;
    witness.startOnce(0.1, [&] { passed = true; });
    ASSERT_TRUE(runTheLoopUntil([&] { return passed; }));
    EXPECT_TRUE(panel().visible());
    EXPECT_EQ(panel().text(), "Second");
}

TEST_F(BadgeOverlay, AQueuedHideOfAnOlderBadgeDoesNotHideANewerOne) {
    owner->show({EDITOR, "First", 0});
    owner->show({BROWSER, "Second", A_MINUTE});
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_TRUE(panel().visible());
    EXPECT_EQ(panel().text(), "Second");
}

TEST_F(BadgeOverlay, AHideQueuedByAnOwnerThatIsGoneDoesNothing) {
    owner->show({EDITOR, "Orphan", 0});
    owner.reset();
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_TRUE(panel().visible());
}

}  // namespace
