#include "state-text.h"

#include <map>

namespace console {
namespace {

using desktop::dumpOf;
using desktop::field;
using desktop::flagOf;
using desktop::integerOf;
using desktop::textOf;
using Describer = std::string (*)(const Json&, const NameOf&);

std::string inQuotes(const std::string& text) {
    return dumpOf(Json(text));
}

std::string numberText(const Json& line, const std::string& name) {
    const Json* value = field(line, name);
    return value && value->is_number() ? dumpOf(*value) : "?";
}

// A four-character code such as a hot key's signature, as its characters when printable.
std::string codeText(const Json& line, const std::string& name) {
    if (std::string text = textOf(line, name); !text.empty()) return "'" + text + "'";
    auto code = integerOf(line, name);
    if (!code || *code < 0 || *code > 0xffffffff) return numberText(line, name);
    std::string characters;
    for (int shift = 24; shift >= 0; shift -= 8) characters += static_cast<char>((*code >> shift) & 0xff);
    for (char c : characters) {
        if (c < 0x20 || c > 0x7e) return std::to_string(*code);
    }
    return "'" + characters + "'";
}

std::string pidName(const Json& line, const NameOf& nameOf) {
    auto pid = integerOf(line, "pid");
    return pid ? nameOf(*pid) : "an unnamed process";
}

std::string rectangleText(const Json& rectangle) {
    return "(" + numberText(rectangle, "x") + ", " + numberText(rectangle, "y") + ") " +
           numberText(rectangle, "width") + "x" + numberText(rectangle, "height");
}

std::string statusItems(const Json& line, const NameOf&) {
    const Json* items = field(line, "items");
    if (!items || !items->is_array() || items->empty()) return "status items: none\n";
    std::string text = "status items:\n";
    for (const Json& item : *items) text += desktop::renderStatusItem(item);
    return text;
}

std::string hotKeys(const Json& line, const NameOf&) {
    return describeHotKeys(line);
}

std::string badge(const Json& line, const NameOf&) {
    if (!flagOf(line, "visible", false)) return "badge: hidden\n";
    const Json* frame = field(line, "frame");
    return "badge: " + inQuotes(textOf(line, "text")) + " at " + (frame ? rectangleText(*frame) : "?") +
           " level " + numberText(line, "level") + "\n";
}

std::string alert(const Json& line, const NameOf&) {
    std::string text = "alert " + numberText(line, "alert") + ": " + textOf(line, "message") + "\n";
    if (std::string informative = textOf(line, "informative"); !informative.empty())
        text += "  " + informative + "\n";
    const Json* buttons = field(line, "buttons");
    int number = 0;
    if (buttons && buttons->is_array()) {
        for (const Json& button : *buttons)
            text += "  " + std::to_string(++number) + ". " + (button.is_string() ? button.get<std::string>() : dumpOf(button)) + "\n";
    }
    return text + (number > 0 ? "  (answer N)\n" : "");
}

std::string popUp(const Json& line, const NameOf&) {
    const Json* menu = field(line, "menu");
    std::string items = menu ? desktop::renderMenu(*menu, 2) : "";
    return "pop-up menu at (" + numberText(line, "x") + ", " + numberText(line, "y") + "):\n" +
           (items.empty() ? "  (empty menu)\n" : items);
}

std::string activationPolicy(const Json& line, const NameOf&) {
    return "activation policy: " + textOf(line, "policy") +
           (flagOf(line, "accepted", false) ? " (accepted)\n" : " (refused)\n");
}

std::string yield(const Json& line, const NameOf& nameOf) {
    return "host yields activation to " + pidName(line, nameOf) + "\n";
}

std::string activate(const Json& line, const NameOf& nameOf) {
    return "host asks " + pidName(line, nameOf) + " to activate" +
           (flagOf(line, "ignoringOtherApps", false) ? ", ignoring other apps" : "") +
           (flagOf(line, "accepted", false) ? "" : " (not accepted)") + "\n";
}

std::string openURL(const Json& line, const NameOf&) {
    return "system opens " + textOf(line, "url") + "\n";
}

// The host never lets the system end it: people reading "cancel" after a quit need the why.
std::string quitReply(const Json& line, const NameOf&) {
    const Json* request = field(line, "request");
    std::string answer = textOf(line, "answer");
    std::string text = "quit reply to request " + (request ? dumpOf(*request) : "?") + ": " + answer + "\n";
    if (answer == "cancel")
        text += "  (the host always cancels the system's quit: when the quit goes ahead it ends its shell\n"
                "   and then exits by itself)\n";
    if (answer == "later") text += "  (the shell settles this quit; the answer follows)\n";
    return text;
}

std::string serviceReply(const Json& line, const NameOf&) {
    const Json* request = field(line, "request");
    std::string error = textOf(line, "error");
    return "service reply to request " + (request ? dumpOf(*request) : "?") + ": " +
           (error.empty() ? "served" : "error: " + error) + "\n";
}

std::string hello(const Json& line, const NameOf&) {
    return "host connected: pid " + numberText(line, "pid") + ", " + textOf(line, "identity") + ", " +
           textOf(line, "bundlePath") + "\n";
}

std::string error(const Json& line, const NameOf&) {
    return "host error: " + textOf(line, "message") + "\n";
}

std::string nothing(const Json&, const NameOf&) {
    return "";
}

const std::map<std::string, Describer>& describers() {
    static const std::map<std::string, Describer> table{
        {"status-items", statusItems},   {"hot-keys", hotKeys},   {"badge", badge},
        {"alert", alert},                {"pop-up", popUp},       {"activation-policy", activationPolicy},
        {"yield", yield},                {"activate", activate},  {"open-url", openURL},
        {"quit-reply", quitReply},       {"service-reply", serviceReply},
        {"hello", hello},                {"error", error},        {"pong", nothing}};
    return table;
}

}  // namespace

std::string describe(const Json& line, const NameOf& nameOf) {
    auto found = describers().find(textOf(line, "state"));
    if (found == describers().end()) return "host: " + dumpOf(line) + "\n";
    return found->second(line, nameOf);
}

std::string describeHotKeys(const Json& line) {
    const Json* registered = field(line, "registered");
    if (!registered || !registered->is_array() || registered->empty()) return "hot keys: none\n";
    std::string text = "hot keys:\n";
    int number = 0;
    for (const Json& key : *registered) {
        std::string chord = hotKeyChord(integerOf(key, "code").value_or(-1), integerOf(key, "modifiers").value_or(0));
        text += "  " + std::to_string(++number) + ". " + chord + "  (code " + numberText(key, "code") + ", modifiers " +
                numberText(key, "modifiers") + ", signature " + codeText(key, "signature") + ", id " +
                numberText(key, "id") + ")\n";
    }
    return text;
}

std::string hotKeyChord(std::int64_t code, std::int64_t modifiers) {
    // Carbon key codes of the ANSI layout, as the host registers them; 10 is the ISO top-left key.
    static const std::map<std::int64_t, std::string> keys = {
        {0, "A"},  {11, "B"}, {8, "C"},  {2, "D"},  {14, "E"}, {3, "F"},  {5, "G"},  {4, "H"},  {34, "I"},
        {38, "J"}, {40, "K"}, {37, "L"}, {46, "M"}, {45, "N"}, {31, "O"}, {35, "P"}, {12, "Q"}, {15, "R"},
        {1, "S"},  {17, "T"}, {32, "U"}, {9, "V"},  {13, "W"}, {7, "X"},  {16, "Y"}, {6, "Z"},  {29, "0"},
        {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {23, "5"}, {22, "6"}, {26, "7"}, {28, "8"}, {25, "9"},
        {50, "`"}, {10, "\u00A7"}};
    // In the order Info.plist chords are written here: command, shift, option, control.
    static const std::pair<std::int64_t, const char*> glyphs[] = {
        {256, "\u2318"}, {512, "\u21E7"}, {2048, "\u2325"}, {4096, "\u2303"}};
    std::string chord;
    for (const auto& [mask, glyph] : glyphs) {
        if (modifiers & mask) chord += glyph;
    }
    auto key = keys.find(code);
    return chord + (key != keys.end() ? key->second : "key " + std::to_string(code));
}

std::string describeDeclaredHotKeys(const Json& activation) {
    const Json* rows = field(activation, "rows");
    if (!rows || !rows->is_array() || rows->empty()) return "";
    std::string text = "declared hot keys (shortcut-activation.json):\n";
    for (const Json& row : *rows) {
        std::string key = textOf(row, "key");
        if (key.starts_with("key:")) key.erase(0, 4);
        auto status = integerOf(row, "status").value_or(-1);
        const char* meaning = status == 0     ? "registered"
                              : status == -1  ? "not registered"
                              : status == -3  ? "released for the remote machine"
                              : status == -50 ? "not expressible"
                                              : "refused by the desktop";
        text += "  " + key + "  " + textOf(row, "action") + ", status " + std::to_string(status) + " (" + meaning + ")\n";
    }
    return text;
}

}  // namespace console
