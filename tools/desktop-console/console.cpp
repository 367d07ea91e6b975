#include "console.h"

#include <algorithm>
#include <charconv>

#include "state-text.h"

namespace console {
namespace {

using desktop::field;
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
        {"open", {&Console::openSubmenu, "open N", "open the submenu of item N"}},
        {"pick", {&Console::pick, "pick N | pick TITLE", "pick an item by number or exact title"}},
        {"keys", {&Console::keys, "keys", "list the registered hot keys"}},
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
    if (kind == "status-items") {
        if (line == shownStatusItems_) return;
        shownStatusItems_ = line;
    }
    say_(describe(line, [this](std::int64_t pid) { return nameOf(pid); }));
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

void Console::menu(const std::string&) {
    send("open-menu");
}

void Console::openSubmenu(const std::string& argument) {
    auto item = numberIn(argument);
    if (!item) return say_("usage: open N\n");
    send("open-menu", {{"item", *item}});
}

void Console::pick(const std::string& argument) {
    auto item = numberIn(argument);
    if (!item && !argument.empty()) item = peer_.itemNumber(argument);
    if (!item) return say_(argument.empty() ? "usage: pick N | pick TITLE\n" : "no item titled " + argument + "\n");
    send("pick", {{"item", *item}});
}

void Console::keys(const std::string&) {
    auto hotKeys = peer_.latest("hot-keys");
    say_(hotKeys ? describeHotKeys(*hotKeys) : "hot keys: none\n");
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
