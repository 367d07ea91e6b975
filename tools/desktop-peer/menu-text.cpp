// Reading the host's menus: finding items by title and writing the tree out for a person.
#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "desktop-peer.h"

namespace desktop {
namespace {

struct ModifierName {
    std::int64_t bit;
    const char* name;
};

// In the order the menu bar shows them.
constexpr ModifierName MENU_MODIFIERS[] = {
    {0x40000, "ctrl"}, {0x80000, "opt"}, {0x20000, "shift"}, {0x100000, "cmd"}};
constexpr ModifierName HOT_KEY_MODIFIERS[] = {
    {0x1000, "ctrl"}, {0x800, "opt"}, {0x200, "shift"}, {0x100, "cmd"}};

template <std::size_t N>
std::string namesOf(std::int64_t mask, const ModifierName (&names)[N]) {
    std::string text;
    for (const auto& modifier : names) {
        if (!(mask & modifier.bit)) continue;
        text += (text.empty() ? "" : "+") + std::string(modifier.name);
        mask &= ~modifier.bit;
    }
    if (mask != 0) {
        char hex[32];
        std::snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(mask));
        text += (text.empty() ? "" : "+") + std::string(hex);
    }
    return text;
}

std::string inQuotes(const std::string& text) {
    return dumpOf(Json(text));
}

// Keys such as return or the arrows are control or private-use characters; show their code.
std::string keyName(const std::string& key) {
    if (key == " ") return "space";
    if (key.size() == 1 && (static_cast<unsigned char>(key[0]) < 0x20 || key[0] == 0x7f)) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(key[0]));
        return code;
    }
    return key;
}

std::string keyEquivalentOf(const Json& item) {
    std::string key = textOf(item, "key");
    if (key.empty()) return "";
    std::string modifiers = menuModifierNames(integerOf(item, "modifiers").value_or(0));
    return modifiers.empty() ? keyName(key) : modifiers + "+" + keyName(key);
}

std::string itemLine(const Json& item) {
    auto number = integerOf(item, "item");
    std::string line = "[" + (number ? std::to_string(*number) : "?") + "] " + textOf(item, "title");
    if (std::string key = keyEquivalentOf(item); !key.empty()) line += "  " + key;
    if (!flagOf(item, "enabled", true)) line += "  (disabled)";
    return line;
}

std::string buttonText(const Json& button) {
    std::string text;
    if (std::string title = textOf(button, "title"); !title.empty()) text += " " + inQuotes(title);
    const Json* image = field(button, "image");
    if (image && image->is_object()) text += " image " + inQuotes(textOf(*image, "symbol"));
    if (std::string tip = textOf(button, "toolTip"); !tip.empty()) text += " tip " + inQuotes(tip);
    return text.empty() ? " (empty)" : text;
}

}  // namespace

const Json* field(const Json& object, const std::string& name) {
    if (!object.is_object()) return nullptr;
    auto found = object.find(name);
    return found == object.end() ? nullptr : &*found;
}

std::string textOf(const Json& object, const std::string& name) {
    const Json* value = field(object, name);
    return value && value->is_string() ? value->get<std::string>() : "";
}

std::optional<std::int64_t> integerOf(const Json& object, const std::string& name) {
    const Json* value = field(object, name);
    if (!value || !value->is_number_integer()) return std::nullopt;
    if (value->is_number_unsigned() && value->get<std::uint64_t>() > INT64_MAX) return std::nullopt;
    return value->get<std::int64_t>();
}

bool flagOf(const Json& object, const std::string& name, bool fallback) {
    const Json* value = field(object, name);
    return value && value->is_boolean() ? value->get<bool>() : fallback;
}

std::string dumpOf(const Json& value) {
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<std::int64_t> findItem(const Json& menu, const std::string& title) {
    const Json* items = field(menu, "items");
    if (!items || !items->is_array()) return std::nullopt;
    for (const Json& item : *items) {
        if (!flagOf(item, "separator", false) && textOf(item, "title") == title) {
            if (auto number = integerOf(item, "item")) return number;
        }
        const Json* submenu = field(item, "submenu");
        if (auto number = submenu ? findItem(*submenu, title) : std::nullopt) return number;
    }
    return std::nullopt;
}

std::string renderMenu(const Json& menu, int indent) {
    const Json* items = field(menu, "items");
    if (!items || !items->is_array()) return "";
    std::string margin(static_cast<std::size_t>(std::max(indent, 0)), ' ');
    std::string text;
    for (const Json& item : *items) {
        if (flagOf(item, "separator", false)) {
            text += margin + "----------------\n";
            continue;
        }
        text += margin + itemLine(item) + "\n";
        const Json* submenu = field(item, "submenu");
        if (submenu && submenu->is_object()) text += renderMenu(*submenu, indent + 2);
    }
    return text;
}

std::string renderStatusItem(const Json& statusItem) {
    auto number = integerOf(statusItem, "statusItem");
    std::string text = "status item " + (number ? std::to_string(*number) : "?") + ":";
    const Json* button = field(statusItem, "button");
    text += (button ? buttonText(*button) : " (no button)") + "\n";
    const Json* menu = field(statusItem, "menu");
    if (!menu || !menu->is_object()) return text + "  (no menu)\n";
    std::string items = renderMenu(*menu, 2);
    return text + (items.empty() ? "  (empty menu)\n" : items);
}

std::string menuModifierNames(std::int64_t mask) {
    return namesOf(mask, MENU_MODIFIERS);
}

std::string hotKeyModifierNames(std::int64_t mask) {
    return namesOf(mask, HOT_KEY_MODIFIERS);
}

}  // namespace desktop
