// The status menu's life with the shell: the owner made at start-up, the shell's menu
// messages, the pick routing, publication when hosted, the pop-up at the mouse, and the
// placeholder shown when the shell has no menu. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "menu-bar-app-menu/menu-owner.h"
#include "support/json.h"

namespace host {

struct MenuSettings {
    bool drawsTheChildsMenu = false;
    bool hosted = false;
    bool tellsTheChildItOpened = false;
    std::string identity;
    std::filesystem::path menuFile;
    std::function<std::string(const std::string& key)> localized;
    // Starts the host's control socket; none until it exists.
    std::function<void()> listenForTheHost;
};

// Makes the one owner, wired to the shell.
void makeTheMenuOwner(MenuSettings settings);
MenuOwner& menuOwner();

// Pops the menu up, once drawn; set on the first draw.
inline std::function<bool()> reopenMenu;

// `publication`: what the menu file holds when hosted, written out as sortedJson writes it.
void drawTheChildsMenu(FlatObjects rows, bool reportsSubmenus, std::optional<std::string> publication);
void drawTheChildsBranch(const std::string& branch, const Json& rows);
bool popUpTheChildsMenuAtTheCursor();
void showUnavailableMenu(const std::string& reason);
void listenOnceTheChildDraws();

// Where a picked row of the shell's menu goes: the host's own rows, else the shell.
void routeTheMenuPick(const std::string& id, const std::string& title);

}  // namespace host
