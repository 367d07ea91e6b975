#include "menu-bar-app-menu/symbol-images.h"

namespace host {
namespace {

constexpr double ROW_SYMBOL_POINT_SIZE = 13;
constexpr double BADGE_POINT_SIZE = 8;
// How far the badge reaches past the base image's right edge, as a part of its own width.
constexpr double BADGE_OVERHANG = 0.45;

}  // namespace

std::optional<platform::Image> rowImageOf(const std::string& symbol, const std::string& title) {
    const auto named = platform::systemSymbol(symbol, title);
    if (!named) return std::nullopt;
    auto image = platform::configuredSymbol(*named, ROW_SYMBOL_POINT_SIZE, platform::FONT_WEIGHT_REGULAR);
    if (!image) return std::nullopt;
    // A template follows the menu's appearance (dark, light, highlighted).
    image->isTemplate = true;
    return image;
}

platform::Image withBadge(const platform::Image& base, const platform::Image& badge) {
    platform::Image badged = base;
    badged.width = base.width + BADGE_OVERHANG * badge.width;
    badged.height = base.height;
    badged.isTemplate = false;
    // The backend cuts a clear ring 1.5 points wide around the badge's oval before drawing it,
    // so the badge stays legible over the base symbol.
    badged.badge = platform::BadgeMark{
        badge.symbol, platform::Rect{badged.width - badge.width, 0, badge.width, badge.height}};
    return badged;
}

std::optional<platform::Image> badgedSymbol(const platform::Image& base, const std::string& badge,
                                            const std::string& description) {
    const auto named = platform::systemSymbol(badge, description);
    if (!named) return std::nullopt;
    const auto configured = platform::configuredSymbol(*named, BADGE_POINT_SIZE, platform::FONT_WEIGHT_BOLD);
    if (!configured) return std::nullopt;
    return withBadge(base, *configured);
}

}  // namespace host
