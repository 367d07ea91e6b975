#include "badges/badge-geometry.h"

#include <gtest/gtest.h>

namespace host {
namespace {

using nlohmann::json;
using platform::OnScreenWindow;
using platform::Rect;

json badgeMessage(json badge) { return {{"badge", std::move(badge)}}; }

TEST(BadgeOf, ReadsPidTextAndDuration) {
    const auto badge = badgeOf(badgeMessage({{"pid", 4242}, {"text", "Saved"}, {"ms", 1500}}));
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->pid, 4242);
    EXPECT_EQ(badge->text, "Saved");
    EXPECT_EQ(badge->ms, 1500);
}

TEST(BadgeOf, MissingOrWrongTextAndDurationTakeDefaults) {
    const auto bare = badgeOf(badgeMessage({{"pid", 7}}));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->text, "");
    EXPECT_EQ(bare->ms, 600);

    const auto wrong = badgeOf(badgeMessage({{"pid", 7}, {"text", 12}, {"ms", "900"}}));
    ASSERT_TRUE(wrong);
    EXPECT_EQ(wrong->text, "");
    EXPECT_EQ(wrong->ms, 600);

    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 7}, {"ms", 0}}))->ms, 0);
}

TEST(BadgeOf, NumbersAreTruncatedNeverWrapped) {
    const auto badge = badgeOf(badgeMessage({{"pid", 12.9}, {"ms", 250.75}}));
    ASSERT_TRUE(badge);
    EXPECT_EQ(badge->pid, 12);
    EXPECT_EQ(badge->ms, 250);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 0.5}})), std::nullopt);
    EXPECT_GT(badgeOf(badgeMessage({{"pid", 1}, {"ms", 1e30}}))->ms, 0);
    EXPECT_GT(badgeOf(badgeMessage({{"pid", 1}, {"ms", 18446744073709551615ULL}}))->ms, 0);
}

TEST(BadgeOf, APidThatNamesNoProcessGivesNoBadge) {
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 0}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", -3}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 4294967297LL}})), std::nullopt);  // 2^32 + 1
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 18446744073709551615ULL}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 1e300}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", "42"}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", true}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"text", "no pid"}})), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage({{"pid", 2147483647}}))->pid, 2147483647);
}

TEST(BadgeOf, TheBadgeMustBeAnObject) {
    EXPECT_EQ(badgeOf(badgeMessage(json::array({42}))), std::nullopt);
    EXPECT_EQ(badgeOf(badgeMessage(42)), std::nullopt);
    EXPECT_EQ(badgeOf(json{{"pid", 42}}), std::nullopt);
    EXPECT_EQ(badgeOf(json::array()), std::nullopt);
}

TEST(BadgeFrontWindow, TakesTheFrontmostNormalWindowOfThePid) {
    const Rect front{10, 20, 300, 200};
    const Rect behind{0, 0, 800, 600};
    const std::vector<OnScreenWindow> windows = {
        {99, 0, Rect{0, 0, 50, 50}},    // another process
        {7, 25, Rect{0, 0, 150, 34}},   // a floating panel of the process
        {7, 0, std::nullopt},           // unreadable bounds
        {7, 0, Rect{5, 5, 0, 100}},     // zero width
        {7, 0, Rect{5, 5, 100, 0}},     // zero height
        {7, 0, front},
        {7, 0, behind},
    };
    EXPECT_EQ(frontWindowOf(7, windows), front);
    EXPECT_EQ(frontWindowOf(99, windows), (Rect{0, 0, 50, 50}));
    EXPECT_EQ(frontWindowOf(8, windows), std::nullopt);
    EXPECT_EQ(frontWindowOf(7, {}), std::nullopt);
}

TEST(BadgeFrame, SitsCentredBelowTheTopOfALargeWindow) {
    EXPECT_EQ(badgeFrame(Rect{100, 200, 800, 600}), (Rect{425, 252, 150, 34}));
    EXPECT_EQ(badgeFrame(Rect{-1000, -50, 151, 600}), (Rect{-999.5, 2, 150, 34}));
}

TEST(BadgeFrame, ShrinksAndRisesInSmallWindows) {
    EXPECT_EQ(badgeFrame(Rect{40, 60, 100, 600}), (Rect{40, 112, 100, 34}));
    EXPECT_EQ(badgeFrame(Rect{40, 60, 300, 40}), (Rect{115, 66, 150, 34}));
    EXPECT_EQ(badgeFrame(Rect{40, 60, 300, 30}), (Rect{115, 60, 150, 30}));
    EXPECT_EQ(badgeFrame(Rect{40, 60, 300, 86}), (Rect{115, 112, 150, 34}));
}

TEST(BadgeRectRow, IntegralValuesAreIntegers) {
    const json row = rectRow(Rect{425, -252, 150, 34});
    EXPECT_EQ(row.dump(), R"({"height":34,"width":150,"x":425,"y":-252})");
    EXPECT_TRUE(row["x"].is_number_integer());
}

TEST(BadgeRectRow, FractionalValuesStayFractional) {
    const json row = rectRow(Rect{-999.5, 2, 150.25, 34});
    EXPECT_TRUE(row["x"].is_number_float());
    EXPECT_DOUBLE_EQ(row["x"].get<double>(), -999.5);
    EXPECT_DOUBLE_EQ(row["width"].get<double>(), 150.25);
    EXPECT_TRUE(row["y"].is_number_integer());
    EXPECT_DOUBLE_EQ(rectRow(Rect{1e20, 0, 1, 1}).at("x").get<double>(), 1e20);
}

TEST(BadgeRectRow, NoRectIsNull) { EXPECT_TRUE(rectRow(std::nullopt).is_null()); }

}  // namespace
}  // namespace host
