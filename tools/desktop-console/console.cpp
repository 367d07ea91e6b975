#include "console.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "state-text.h"

namespace console {
namespace {

using desktop::field;
using desktop::flagOf;
using desktop::integerOf;
using desktop::Json;
using desktop::textOf;

// The order `state` shows what the host last said of each kind.
const char* const STATE_KINDS[] = {"status-items", "hot-keys",   "badge",      "alert",
                                   "activation-policy", "activate", "yield", "open-url",
                                   "quit-reply", "service-reply", "error"};

std::string trimmed(const std::string& text) {
    auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The first word and the rest of the line.
std::pair<std::string, std::string> splitFirst(const std::string& text) {
    std::string line = trimmed(text);
    auto space = line.find_first_of(" \t");
    if (space == std::string::npos) return {line, ""};
    return {line.substr(0, space), trimmed(line.substr(space))};
}

std::optional<std::int64_t> numberIn(const std::string& text) {
    std::int64_t number = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// A shell draws its first menu a moment after the host connects; commands give it this long.
constexpr double MENU_WAIT_SECONDS = 10;

std::string foldedTitle(const std::string& title) {
    std::string folded;
    for (std::size_t i = 0; i < title.size(); ++i) {
        if (title.compare(i, 3, "\u2026") == 0) {
            folded += "...";
            i += 2;
        } else {
            char c = title[i];
            folded += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        }
    }
    return folded;
}

void collectTitles(const Json& menu, std::vector<std::string>& titles) {
    const Json* items = field(menu, "items");
    if (!items || !items->is_array()) return;
    for (const Json& item : *items) {
        if (!flagOf(item, "separator", false) && !textOf(item, "title").empty()) titles.push_back(textOf(item, "title"));
        if (const Json* submenu = field(item, "submenu")) collectTitles(*submenu, titles);
    }
}

std::optional<std::int64_t> itemMatching(const Json& menu, const std::string& typed) {
    const Json* items = field(menu, "items");
    if (!items || !items->is_array()) return std::nullopt;
    for (const Json& item : *items) {
        if (!flagOf(item, "separator", false) && Console::sameTitle(typed, textOf(item, "title"))) {
            if (auto number = integerOf(item, "item")) return number;
        }
        const Json* submenu = field(item, "submenu");
        if (auto number = submenu ? itemMatching(*submenu, typed) : std::nullopt) return number;
    }
    return std::nullopt;
}

std::vector<const Json*> menusOf(const std::optional<Json>& statusItems) {
    std::vector<const Json*> menus;
    const Json* items = statusItems ? field(*statusItems, "items") : nullptr;
    if (!items || !items->is_array()) return menus;
    for (const Json& statusItem : *items) {
        const Json* menu = field(statusItem, "menu");
        if (menu && menu->is_object()) menus.push_back(menu);
    }
    return menus;
}

// The activation file the host writes for its declared hot keys, as the host finds its folder.
std::string activationFileOf(const std::string& identity) {
    const char* data = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string folder = data && *data ? data : std::string(home ? home : "") + "/.local/share";
    return folder + "/" + identity + "/shortcut-activation.json";
}

std::string defaultName(const std::string& bundle) {
    std::string name = bundle.substr(bundle.find_last_of('.') + 1);
    if (!name.empty() && name[0] >= 'a' && name[0] <= 'z') name[0] = static_cast<char>(name[0] - 'a' + 'A');
    return name;
}

}  // namespace

Console::Console(desktop::Peer& peer, Say say) : peer_(peer), say_(std::move(say)) {}

const std::vector<std::pair<std::string, Console::Command>>& Console::commands() {
    static const std::vector<std::pair<std::string, Command>> table{
        {"help", {&Console::help, "help", "this list"}},
        {"menu", {&Console::menu, "menu", "open the status menu"}},
        {"open", {&Console::openSubmenu, "open N | open TITLE", "open the submenu of an item"}},
        {"pick", {&Console::pick, "pick N | pick TITLE", "pick an item by number or title (any case, ... for …)"}},
        {"keys", {&Console::keys, "keys", "the registered hot keys as chords, the declared ones' statuses"}},
        {"press", {&Console::press, "press N | press CODE MODIFIERS", "press hot key N of `keys`, or a chord"}},
        {"url", {&Console::url, "url URL", "send a URL to the host"}},
        {"front", {&Console::front, "front BUNDLE | front host", "make an application the front one"}},
        {"launch", {&Console::launchCommand, "launch BUNDLE [NAME]", "start a pretend application"}},
        {"terminate", {&Console::terminate, "terminate BUNDLE", "end a pretend application"}},
        {"quit", {&Console::quit, "quit", "the user's own quit command"}},
        {"logout", {&Console::logout, "logout", "a quit because the user logs out"}},
        {"reopen", {&Console::reopen, "reopen", "open the application again"}},
        {"answer", {&Console::answer, "answer N", "answer the open alert with button N"}},
        {"display", {&Console::display, "display [FLAGS]", "a display reconfiguration (flags default 0)"}},
        {"send", {&Console::raw, "send JSON", "send any event object as it is"}},
        {"sync", {&Console::sync, "sync", "wait until the host has handled everything sent"}},
        {"state", {&Console::state, "state", "print everything known"}},
        {"exit", {nullptr, "exit", "stop the host and leave"}}};
    return table;
}

bool Console::command(const std::string& line) {
    auto [name, argument] = splitFirst(line);
    if (name.empty() || name[0] == '#') return true;
    for (const auto& [known, entry] : commands()) {
        if (known != name) continue;
        if (!entry.handler) return false;
        (this->*entry.handler)(argument);
        return true;
    }
    say_("unknown command: " + name + " (help lists them)\n");
    return true;
}

void Console::send(const std::string& name, const Json& fields) {
    if (!peer_.send(name, fields)) say_("not sent: " + peer_.lastError() + "\n");
}

void Console::start() {
    launch("org.example.files", "Files");
    launch("org.example.browser", "Browser");
    send("screens", {{"screens", Json::array({{{"x", 0}, {"y", 0}, {"width", 1440}, {"height", 900}}})}});
    say_("desktop: one screen of 1440x900\n");
    makeFront(apps_.front().pid);
    if (peer_.ready())
        say_("desktop ready (help lists the commands)\n");
    else
        say_("ready not sent: " + peer_.lastError() + "\n");
}

void Console::takeNewState() {
    for (const Json& line : peer_.received()) take(line);
    for (const std::string& reason : peer_.dropped()) say_("dropped from the host: " + reason + "\n");
    peer_.forget();
}

void Console::take(const Json& line) {
    std::string kind = textOf(line, "state");
    std::string text = describe(line, [this](std::int64_t pid) { return nameOf(pid); });
    // A change that shows nothing new (a menu opened, numbers kept) is not printed again.
    if (kind == "status-items") {
        if (text == shownStatusItems_) return;
        shownStatusItems_ = text;
        statusItemsPrinted_ = true;
    }
    say_(text);
    if (kind == "alert") openAlert_ = integerOf(line, "alert");
    if (kind == "activate" && desktop::flagOf(line, "accepted", false)) {
        if (auto pid = integerOf(line, "pid")) makeFront(*pid);
    }
}

std::string Console::nameOf(std::int64_t pid) const {
    if (auto host = integerOf(peer_.hello(), "pid"); host && *host == pid) return "the host (pid " + std::to_string(pid) + ")";
    for (const auto& app : apps_) {
        if (app.pid == pid) return app.name + " (" + app.bundle + ", pid " + std::to_string(pid) + ")";
    }
    return "pid " + std::to_string(pid);
}

void Console::launch(const std::string& bundle, const std::string& name) {
    PretendApp app{nextPid_++, bundle, name.empty() ? defaultName(bundle) : name};
    apps_.push_back(app);
    send("launched", {{"pid", app.pid}, {"bundle", app.bundle}, {"name", app.name}});
    say_("desktop: launched " + nameOf(app.pid) + "\n");
}

void Console::makeFront(std::int64_t pid) {
    front_ = pid;
    send("activated", {{"pid", pid}});
    say_("desktop: front is " + nameOf(pid) + "\n");
}

const PretendApp* Console::appOf(const std::string& bundle) const {
    for (const auto& app : apps_) {
        if (app.bundle == bundle) return &app;
    }
    return nullptr;
}

std::optional<std::int64_t> Console::pidOf(const std::string& bundleOrHost) {
    if (bundleOrHost == "host") {
        auto pid = integerOf(peer_.hello(), "pid");
        if (!pid) say_("the host has not said its pid\n");
        return pid;
    }
    if (const PretendApp* app = appOf(bundleOrHost)) return app->pid;
    say_("no running application " + bundleOrHost + " (state lists them)\n");
    return std::nullopt;
}

void Console::help(const std::string&) {
    std::string text = "commands:\n";
    for (const auto& [name, entry] : commands()) {
        std::string usage = entry.usage;
        text += "  " + usage + std::string(usage.size() < 32 ? 32 - usage.size() : 1, ' ') + entry.help + "\n";
    }
    say_(text);
}

bool Console::sameTitle(const std::string& typed, const std::string& title) {
    return foldedTitle(typed) == foldedTitle(title);
}

bool Console::waitForAMenu() {
    if (!menusOf(peer_.latest("status-items")).empty()) return true;
    auto hasAMenu = [](const Json& line) { return !menusOf(line).empty(); };
    bool came = peer_.waitFor("status-items", hasAMenu, MENU_WAIT_SECONDS).has_value();
    takeNewState();
    return came;
}

std::optional<std::int64_t> Console::itemTitled(const std::string& title) {
    auto find = [&title](const std::optional<Json>& statusItems) -> std::optional<std::int64_t> {
        for (const Json* menu : menusOf(statusItems)) {
            if (auto number = itemMatching(*menu, title)) return number;
        }
        return std::nullopt;
    };
    if (auto number = find(peer_.latest("status-items"))) return number;
    auto holdsIt = [&find](const Json& line) { return find(line).has_value(); };
    auto drawn = peer_.waitFor("status-items", holdsIt, MENU_WAIT_SECONDS);
    takeNewState();
    return drawn ? find(*drawn) : std::nullopt;
}

std::vector<std::string> Console::itemTitles() const {
    std::vector<std::string> titles;
    auto statusItems = peer_.latest("status-items");  // the menus point into it
    for (const Json* menu : menusOf(statusItems)) collectTitles(*menu, titles);
    if (auto popUp = peer_.latest("pop-up")) {
        if (const Json* menu = field(*popUp, "menu")) collectTitles(*menu, titles);
    }
    return titles;
}

std::vector<std::string> Console::completions(const std::string& line) const {
    auto space = line.find(' ');
    std::vector<std::string> found;
    if (space == std::string::npos) {
        for (const auto& [name, entry] : commands()) {
            if (name.starts_with(line)) found.push_back(name);
        }
        return found;
    }
    std::string command = line.substr(0, space);
    std::string typed = foldedTitle(line.substr(space + 1));
    std::vector<std::string> choices;
    if (command == "pick" || command == "open") choices = itemTitles();
    if (command == "front" || command == "terminate") {
        for (const auto& app : apps_) choices.push_back(app.bundle);
        if (command == "front") choices.push_back("host");
    }
    for (const std::string& choice : choices) {
        std::string candidate = command + " " + choice;
        if (foldedTitle(choice).starts_with(typed) && std::find(found.begin(), found.end(), candidate) == found.end())
            found.push_back(candidate);
    }
    return found;
}

// Prints the tree once, whether or not opening it changed anything.
void Console::menu(const std::string&) {
    if (!waitForAMenu()) return say_("no status item has a menu yet\n");
    statusItemsPrinted_ = false;
    send("open-menu");
    if (!peer_.ping(5)) say_("no answer from the host: " + peer_.lastError() + "\n");
    takeNewState();
    if (auto statusItems = peer_.latest("status-items"); statusItems && !statusItemsPrinted_)
        say_(describe(*statusItems, [this](std::int64_t pid) { return nameOf(pid); }));
}

void Console::openSubmenu(const std::string& argument) {
    auto item = numberIn(argument);
    if (!item && !argument.empty()) item = itemTitled(argument);
    if (!item) return say_(argument.empty() ? "usage: open N | open TITLE\n" : "no item titled " + argument + "\n");
    send("open-menu", {{"item", *item}});
}

void Console::pick(const std::string& argument) {
    auto item = numberIn(argument);
    if (!item && !argument.empty()) item = itemTitled(argument);
    if (!item) return say_(argument.empty() ? "usage: pick N | pick TITLE\n" : "no item titled " + argument + "\n");
    send("pick", {{"item", *item}});
}

void Console::keys(const std::string&) {
    auto hotKeys = peer_.latest("hot-keys");
    std::string text = hotKeys ? describeHotKeys(*hotKeys) : "hot keys: none\n";
    std::ifstream file(activationFileOf(textOf(peer_.hello(), "identity")));
    Json activation = Json::parse(std::string(std::istreambuf_iterator<char>(file), {}), nullptr, false);
    say_(text + describeDeclaredHotKeys(activation));
}

void Console::press(const std::string& argument) {
    auto [first, rest] = splitFirst(argument);
    auto code = numberIn(first);
    auto modifiers = numberIn(rest);
    if (code && modifiers) return send("hot-key", {{"code", *code}, {"modifiers", *modifiers}});
    if (!code || !rest.empty()) return say_("usage: press N | press CODE MODIFIERS\n");
    auto hotKeys = peer_.latest("hot-keys");
    const Json* registered = hotKeys ? field(*hotKeys, "registered") : nullptr;
    if (!registered || !registered->is_array() || *code < 1 || *code > static_cast<std::int64_t>(registered->size()))
        return say_("no hot key " + first + " (keys lists them)\n");
    const Json& chord = (*registered)[static_cast<std::size_t>(*code - 1)];
    send("hot-key", {{"code", integerOf(chord, "code").value_or(0)}, {"modifiers", integerOf(chord, "modifiers").value_or(0)}});
}

void Console::url(const std::string& argument) {
    if (argument.empty()) return say_("usage: url URL\n");
    send("url", {{"url", argument}});
}

void Console::front(const std::string& argument) {
    if (argument.empty()) return say_("usage: front BUNDLE | front host\n");
    if (auto pid = pidOf(argument)) makeFront(*pid);
}

void Console::launchCommand(const std::string& argument) {
    auto [bundle, name] = splitFirst(argument);
    if (bundle.empty()) return say_("usage: launch BUNDLE [NAME]\n");
    if (appOf(bundle)) return say_(bundle + " is already running\n");
    launch(bundle, name);
}

void Console::terminate(const std::string& argument) {
    const PretendApp* app = appOf(argument);
    if (!app) return say_("no running application " + argument + " (state lists them)\n");
    std::int64_t pid = app->pid;
    send("terminated", {{"pid", pid}});
    say_("desktop: terminated " + nameOf(pid) + "\n");
    std::erase_if(apps_, [pid](const PretendApp& each) { return each.pid == pid; });
    if (front_ == pid) front_.reset();
}

void Console::quit(const std::string&) {
    send("quit", {{"request", nextRequest_}});
    say_("desktop: quit request " + std::to_string(nextRequest_++) + "\n");
}

void Console::logout(const std::string&) {
    send("quit", {{"request", nextRequest_}, {"reason", "logo"}});
    say_("desktop: log-out quit request " + std::to_string(nextRequest_++) + "\n");
}

void Console::reopen(const std::string&) {
    send("reopen");
}

void Console::answer(const std::string& argument) {
    auto button = numberIn(argument);
    if (!button || *button < 1) return say_("usage: answer N (the button's number, from 1)\n");
    if (!openAlert_) return say_("no alert is open\n");
    send("alert-answer", {{"alert", *openAlert_}, {"button", *button - 1}});
    openAlert_.reset();
}

void Console::display(const std::string& argument) {
    auto flags = argument.empty() ? std::optional<std::int64_t>(0) : numberIn(argument);
    if (!flags) return say_("usage: display [FLAGS]\n");
    send("display", {{"flags", *flags}});
}

void Console::raw(const std::string& argument) {
    Json event = Json::parse(argument, nullptr, false);
    if (event.is_discarded() || !event.is_object()) return say_("usage: send JSON (one object)\n");
    if (!peer_.sendEvent(event)) say_("not sent: " + peer_.lastError() + "\n");
}

void Console::sync(const std::string&) {
    bool answered = peer_.ping(5);
    takeNewState();
    if (!answered) say_("no answer from the host: " + peer_.lastError() + "\n");
}

void Console::state(const std::string&) {
    const Json& hello = peer_.hello();
    std::string text = hello.is_null() ? "host: not connected yet\n"
                                       : "host: pid " + std::to_string(integerOf(hello, "pid").value_or(0)) + ", " + textOf(hello, "identity") +
                                             ", " + textOf(hello, "bundlePath") + "\n";
    if (!peer_.connected() && !hello.is_null()) text += "host: disconnected (" + peer_.lastError() + ")\n";
    text += "applications:\n";
    for (const auto& app : apps_) text += "  " + nameOf(app.pid) + (front_ == app.pid ? "  (front)\n" : "\n");
    bool frontIsPretend = std::any_of(apps_.begin(), apps_.end(), [this](const PretendApp& app) { return front_ == app.pid; });
    if (front_ && !frontIsPretend) text += "front: " + nameOf(*front_) + "\n";
    text += "screen: (0, 0) 1440x900\n";
    for (const char* kind : STATE_KINDS) {
        if (kind == std::string("alert") && !openAlert_) continue;  // answered already
        if (auto latest = peer_.latest(kind)) text += describe(*latest, [this](std::int64_t pid) { return nameOf(pid); });
    }
    say_(text);
}

}  // namespace console
