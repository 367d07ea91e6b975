// The symbol names this desktop knows, each with its shape: width over height at any size.
#include <algorithm>
#include <array>
#include <string_view>

#include "platform/image.h"

namespace host::platform {
namespace {

struct Symbol {
    std::string_view name;
    double aspect;
};

// Sorted by name, for the binary search below.
constexpr std::array<Symbol, 64> knownSymbols{{
    {"app.badge", 1.0},
    {"arrow.clockwise", 0.9},
    {"arrow.down.circle", 1.0},
    {"arrow.triangle.2.circlepath", 1.1},
    {"arrow.up.circle", 1.0},
    {"bell", 0.95},
    {"bell.fill", 0.95},
    {"bell.slash", 1.0},
    {"bolt", 0.7},
    {"bolt.fill", 0.7},
    {"book", 1.15},
    {"bookmark", 0.7},
    {"calendar", 1.05},
    {"checkmark", 1.0},
    {"checkmark.circle", 1.0},
    {"checkmark.circle.fill", 1.0},
    {"circle", 1.0},
    {"circle.fill", 1.0},
    {"clock", 1.0},
    {"cloud", 1.3},
    {"desktopcomputer", 1.1},
    {"display", 1.15},
    {"doc", 0.8},
    {"doc.on.doc", 0.9},
    {"ellipsis", 1.2},
    {"ellipsis.circle", 1.0},
    {"envelope", 1.3},
    {"exclamationmark.triangle", 1.1},
    {"eye", 1.4},
    {"folder", 1.2},
    {"gear", 1.0},
    {"gearshape", 1.0},
    {"globe", 1.0},
    {"heart", 1.1},
    {"heart.fill", 1.1},
    {"house", 1.15},
    {"info.circle", 1.0},
    {"keyboard", 1.45},
    {"laptopcomputer", 1.5},
    {"link", 1.0},
    {"list.bullet", 1.1},
    {"lock", 0.8},
    {"magnifyingglass", 1.0},
    {"menubar.rectangle", 1.25},
    {"minus", 1.0},
    {"moon", 0.95},
    {"paperplane", 1.0},
    {"pause.fill", 0.8},
    {"pencil", 1.0},
    {"person", 0.95},
    {"play.fill", 0.85},
    {"plus", 1.0},
    {"power", 0.95},
    {"questionmark.circle", 1.0},
    {"rectangle.grid.2x2", 1.0},
    {"sparkles", 1.0},
    {"square.and.arrow.up", 0.85},
    {"star", 1.05},
    {"star.fill", 1.05},
    {"stop.fill", 1.0},
    {"sun.max", 1.0},
    {"trash", 0.9},
    {"wifi", 1.3},
    {"xmark", 1.0},
}};

const Symbol* symbolNamed(std::string_view name) {
    auto found = std::lower_bound(knownSymbols.begin(), knownSymbols.end(), name,
                                  [](const Symbol& symbol, std::string_view wanted) { return symbol.name < wanted; });
    return found != knownSymbols.end() && found->name == name ? &*found : nullptr;
}

// What an unconfigured symbol is drawn at: the menu font's size.
constexpr double DEFAULT_POINT_SIZE = 13;

}  // namespace

std::optional<Image> systemSymbol(const std::string& name, const std::string& description) {
    const Symbol* symbol = symbolNamed(name);
    if (!symbol) return std::nullopt;
    Image image;
    image.symbol = name;
    image.description = description;
    image.width = DEFAULT_POINT_SIZE * symbol->aspect;
    image.height = DEFAULT_POINT_SIZE;
    return image;
}

std::optional<Image> configuredSymbol(const Image& image, double pointSize, double weight) {
    const Symbol* symbol = symbolNamed(image.symbol);
    if (!symbol || !(pointSize > 0)) return std::nullopt;
    Image configured = image;
    configured.width = pointSize * symbol->aspect;
    configured.height = pointSize;
    configured.pointSize = pointSize;
    configured.weight = weight;
    return configured;
}

}  // namespace host::platform
