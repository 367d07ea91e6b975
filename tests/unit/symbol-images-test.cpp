#include "menu-bar-app-menu/symbol-images.h"

#include <gtest/gtest.h>

namespace host {
namespace {

using platform::BadgeMark;
using platform::Image;
using platform::Rect;

Image squareImage(const std::string& symbol, double side) {
    Image image;
    image.symbol = symbol;
    image.width = side;
    image.height = side;
    return image;
}

TEST(SymbolImageOfRow, IsTheSymbolAtThirteenPointsRegularAsATemplate) {
    const auto image = rowImageOf("gear", "Settings");
    ASSERT_TRUE(image);
    EXPECT_EQ(image->symbol, "gear");
    EXPECT_EQ(image->description, "Settings");
    EXPECT_EQ(image->pointSize, 13.0);
    EXPECT_EQ(image->weight, platform::FONT_WEIGHT_REGULAR);
    EXPECT_EQ(image->height, 13.0);
    EXPECT_TRUE(image->isTemplate);
    EXPECT_FALSE(image->badge);
}

TEST(SymbolImageOfRow, UnknownNamesGiveNoImage) {
    EXPECT_EQ(rowImageOf("no.such.symbol", "Title"), std::nullopt);
    EXPECT_EQ(rowImageOf("", "Title"), std::nullopt);
}

TEST(BadgedSymbol, TheBadgeOverhangsTheBottomRightCornerByFortyFivePercent) {
    struct Case {
        double baseWidth, baseHeight, badgeWidth, badgeHeight;
        double width, badgeX;
    };
    const Case cases[] = {
        {16, 16, 10, 10, 20.5, 10.5},
        {20, 14, 8, 6, 23.6, 15.6},
        {16, 16, 0, 0, 16, 16},
    };
    for (const auto& c : cases) {
        Image base = squareImage("bell", 0);
        base.width = c.baseWidth;
        base.height = c.baseHeight;
        Image badge = squareImage("circle.fill", 0);
        badge.width = c.badgeWidth;
        badge.height = c.badgeHeight;
        const Image badged = withBadge(base, badge);
        EXPECT_DOUBLE_EQ(badged.width, c.width);
        EXPECT_EQ(badged.height, c.baseHeight);
        ASSERT_TRUE(badged.badge);
        EXPECT_EQ(badged.badge->symbol, "circle.fill");
        EXPECT_DOUBLE_EQ(badged.badge->rect.x, c.badgeX);
        EXPECT_EQ(badged.badge->rect.y, 0);
        EXPECT_EQ(badged.badge->rect.width, c.badgeWidth);
        EXPECT_EQ(badged.badge->rect.height, c.badgeHeight);
    }
}

TEST(BadgedSymbol, KeepsTheBaseSymbolAndLeavesTheTemplateMarkToTheCaller) {
    Image base = squareImage("bell", 16);
    base.description = "Alerts";
    base.pointSize = 16;
    base.isTemplate = true;
    const auto badged = badgedSymbol(base, "circle.fill", "new");
    ASSERT_TRUE(badged);
    EXPECT_EQ(badged->symbol, "bell");
    EXPECT_EQ(badged->description, "Alerts");
    EXPECT_EQ(badged->pointSize, 16.0);
    EXPECT_FALSE(badged->isTemplate);
}

TEST(BadgedSymbol, TheBadgeIsTheSymbolAtEightPointsBold) {
    const auto badge = platform::configuredSymbol(*platform::systemSymbol("circle.fill", "new"), 8,
                                                  platform::FONT_WEIGHT_BOLD);
    ASSERT_TRUE(badge);
    const auto badged = badgedSymbol(squareImage("bell", 16), "circle.fill", "new");
    ASSERT_TRUE(badged);
    EXPECT_EQ(*badged, withBadge(squareImage("bell", 16), *badge));
    EXPECT_EQ(badged->badge->rect.height, 8.0);
}

TEST(BadgedSymbol, AnUnknownBadgeNameGivesNone) {
    EXPECT_EQ(badgedSymbol(squareImage("bell", 16), "no.such.badge", "new"), std::nullopt);
    EXPECT_EQ(badgedSymbol(squareImage("bell", 16), "", "new"), std::nullopt);
}

}  // namespace
}  // namespace host
