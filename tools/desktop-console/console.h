// A pretend desktop driven by a person: it shows what the host sends and turns typed commands
// into desktop events. A few pretend applications run beside the host; their process ids lie
// above the kernel's largest, so they can never name a real process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "desktop-peer.h"

namespace console {

struct PretendApp {
    std::int64_t pid = 0;
    std::string bundle;
    std::string name;
};

class Console {
public:
    using Say = std::function<void(const std::string& text)>;

    Console(desktop::Peer& peer, Say say);

    // Once the host is connected: the starting applications and screen, then ready.
    void start();
    // Shows the state lines received since the last call and answers those a desktop answers.
    void takeNewState();
    // Runs one typed line; false when it asks the console to end.
    bool command(const std::string& line);

    std::string nameOf(std::int64_t pid) const;

    // Whole lines that complete `line`, the text typed so far: a command, then an item title
    // (pick, open) or an application (front, terminate).
    std::vector<std::string> completions(const std::string& line) const;

    // A typed title matches an item's title whatever the letters' case, and "..." stands for "…".
    static bool sameTitle(const std::string& typed, const std::string& title);

private:
    using Handler = void (Console::*)(const std::string& argument);
    struct Command {
        Handler handler;
        const char* usage;
        const char* help;
    };
    static const std::vector<std::pair<std::string, Command>>& commands();

    void take(const desktop::Json& line);
    void send(const std::string& name, const desktop::Json& fields = desktop::Json::object());
    void launch(const std::string& bundle, const std::string& name);
    void makeFront(std::int64_t pid);
    const PretendApp* appOf(const std::string& bundle) const;
    std::optional<std::int64_t> pidOf(const std::string& bundleOrHost);
    // The first item so titled in the latest menus, waiting a while for the shell to draw it.
    std::optional<std::int64_t> itemTitled(const std::string& title);
    // Waits a while for a status item with a menu; false when none came.
    bool waitForAMenu();
    std::vector<std::string> itemTitles() const;

    void help(const std::string&);
    void menu(const std::string&);
    void openSubmenu(const std::string& argument);
    void pick(const std::string& argument);
    void keys(const std::string&);
    void press(const std::string& argument);
    void url(const std::string& argument);
    void front(const std::string& argument);
    void launchCommand(const std::string& argument);
    void terminate(const std::string& argument);
    void quit(const std::string&);
    void logout(const std::string&);
    void reopen(const std::string&);
    void answer(const std::string& argument);
    void display(const std::string& argument);
    void raw(const std::string& argument);
    void sync(const std::string&);
    void state(const std::string&);

    desktop::Peer& peer_;
    Say say_;
    std::vector<PretendApp> apps_;
    std::optional<std::int64_t> front_;
    std::int64_t nextPid_ = 5000001;
    std::int64_t nextRequest_ = 1;
    std::optional<std::int64_t> openAlert_;
    std::string shownStatusItems_;
    bool statusItemsPrinted_ = false;
};

}  // namespace console
