#include "platform/linux/desktop-json.h"

#include <array>

namespace host::platform {

Json rectJson(const Rect& rect) {
    return {{"x", rect.x}, {"y", rect.y}, {"width", rect.width}, {"height", rect.height}};
}

std::optional<Rect> rectOf(const Json& value) {
    auto x = numberMember(value, "x");
    auto y = numberMember(value, "y");
    auto width = numberMember(value, "width");
    auto height = numberMember(value, "height");
    if (!x || !y || !width || !height) return std::nullopt;
    return Rect{*x, *y, *width, *height};
}

Json imageJson(const std::optional<Image>& image) {
    if (!image) return nullptr;
    Json json = {{"symbol", image->symbol},
                 {"description", image->description},
                 {"width", image->width},
                 {"height", image->height},
                 {"template", image->isTemplate}};
    if (image->pointSize) json["pointSize"] = *image->pointSize;
    if (image->weight) json["weight"] = *image->weight;
    if (image->badge) {
        json["badge"] = rectJson(image->badge->rect);
        json["badge"]["symbol"] = image->badge->symbol;
    }
    return json;
}

namespace {

Json itemJson(const MenuItem& item) {
    Json json = {{"item", item.serial()}, {"title", item.title()}, {"enabled", item.enabled()}};
    if (item.isSeparator()) json["separator"] = true;
    if (!item.keyEquivalent().empty()) {
        json["key"] = item.keyEquivalent();
        json["modifiers"] = item.keyEquivalentModifierMask();
    }
    if (item.image()) json["image"] = imageJson(item.image());
    if (item.representedObject()) json["represented"] = *item.representedObject();
    if (item.identifier()) json["identifier"] = *item.identifier();
    if (item.action()) json["action"] = true;
    if (item.submenu()) json["submenu"] = menuJson(*item.submenu());
    return json;
}

}  // namespace

Json menuJson(const Menu& menu) {
    Json items = Json::array();
    for (const auto& item : menu.items()) items.push_back(itemJson(*item));
    return {{"title", menu.title()}, {"items", std::move(items)}};
}

Json statusItemJson(const StatusItem& item) {
    Json button = {{"image", imageJson(item.image())},
                   {"title", item.title()},
                   {"toolTip", item.toolTip()},
                   {"accessibilityLabel", item.accessibilityLabel()}};
    return {{"statusItem", item.serial()},
            {"autosaveName", item.autosaveName() ? Json(*item.autosaveName()) : Json(nullptr)},
            {"button", std::move(button)},
            {"menu", item.menu() ? menuJson(*item.menu()) : Json(nullptr)}};
}

Json badgePanelJson(const BadgePanel& panel) {
    return {{"state", "badge"},
            {"visible", panel.visible()},
            {"text", panel.text()},
            {"frame", rectJson(panel.frame())},
            {"level", panel.level()}};
}

namespace {

constexpr std::array<std::pair<ActivationPolicy, const char*>, 3> policyNames{{
    {ActivationPolicy::regular, "regular"},
    {ActivationPolicy::accessory, "accessory"},
    {ActivationPolicy::prohibited, "prohibited"},
}};

}  // namespace

std::string policyName(ActivationPolicy policy) {
    for (const auto& [known, name] : policyNames) {
        if (known == policy) return name;
    }
    return "regular";
}

std::optional<ActivationPolicy> policyNamed(const std::string& name) {
    for (const auto& [policy, known] : policyNames) {
        if (name == known) return policy;
    }
    return std::nullopt;
}

std::string fourCharacterText(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) text.push_back(static_cast<char>((code >> shift) & 0xff));
    return text;
}

std::optional<std::uint32_t> fourCharacterCode(const std::string& text) {
    if (text.size() != 4) return std::nullopt;
    std::uint32_t code = 0;
    for (char c : text) code = (code << 8) | static_cast<unsigned char>(c);
    return code;
}

std::optional<OnScreenWindow> windowOf(const Json& value) {
    auto pid = int32Member(value, "pid");
    auto layer = int32Member(value, "layer");
    if (!pid || !layer) return std::nullopt;
    const Json* bounds = objectMember(value, "bounds");
    return OnScreenWindow{*pid, *layer, bounds ? rectOf(*bounds) : std::nullopt};
}

}  // namespace host::platform
