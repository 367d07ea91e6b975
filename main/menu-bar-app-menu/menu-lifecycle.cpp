#include "menu-bar-app-menu/menu-lifecycle.h"

#include <memory>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "menu-bar-app-menu/dock-preference.h"
#include "platform/desktop.h"
#include "platform/process.h"
#include "support/clock.h"
#include "updates/update-rows.h"
#include "updates/updater.h"

namespace host {
namespace {

MenuSettings settings;
std::unique_ptr<MenuOwner> owner;
platform::StatusItem* unavailableMenuItem = nullptr;
bool listening = false;

// Shown when even the placeholder symbol cannot be drawn.
constexpr const char* placeholderGlyph = "\u25AD";

std::int32_t shellPidOrZero() { return shellPid().value_or(0); }

// The dock row's title in the publication, when the shell offers the row.
std::optional<std::string> dockTitleOf(const FlatObjects& rows) {
    for (const FlatObject& row : rows) {
        const std::string* id = stringMember(row, "id");
        if (!id || *id != dockPreferenceRow) continue;
        const std::string* title = stringMember(row, "title");
        return title ? std::optional<std::string>(*title) : std::nullopt;
    }
    return std::nullopt;
}

// The host's rows after the shell's: the update rows when there is a feed, the dock row's mark
// when the shell offers the dock row.
std::optional<MenuFooter> footerFor(const std::optional<std::string>& dockTitle, bool firstDraw) {
    const bool updates = hasAnUpdateFeed();
    if (!updates && !dockTitle) return std::nullopt;
    MenuFooter footer;
    footer.append = [dockTitle, firstDraw, updates](platform::Menu& menu, MenuOwner& target) {
        if (firstDraw && dockTitle && theDockIsChosen()) showInTheDock(true);
        if (updates) appendTheUpdaterRows(menu, target.pickAction());
        if (dockTitle) paintTheDockPreference(menu, *dockTitle);
    };
    footer.refresh = [dockTitle, updates](platform::Menu& menu, MenuOwner& target) {
        if (updates) refreshTheUpdaterRows(menu, target.pickAction());
        if (dockTitle) paintTheDockPreference(menu, *dockTitle);
    };
    return footer;
}

// Written directly, keys in sorted order, the snapshot straight from the drawn menu.
void recordTheDraw(bool published) {
    const std::int32_t shell = shellPidOrZero();
    std::string line;
    auto member = [&line](const char* name) -> std::string& {
        line += line.empty() ? "{\"" : ",\"";
        return line.append(name) += "\":";
    };
    auto flag = [](bool value) { return value ? "true" : "false"; };
    member("at") += "\"" + clockNow() + "\"";
    member("hosted") += flag(settings.hosted);
    appendQuoted(member("kind"), "menu-drawn");
    owner->appendDrawnRows(member("menu"));
    member("pid") += std::to_string(platform::ownPid());
    if (published) appendQuoted(member("published"), settings.menuFile.string());
    else member("published") += "null";
    member("shell") += std::to_string(shell);
    member("statusItem") += flag(owner->hasStatusItem());
    appendLine(line += "}", deathLog(shell));
}

}  // namespace

void makeTheMenuOwner(MenuSettings menuSettings) {
    settings = std::move(menuSettings);
    MenuCallbacks callbacks;
    if (settings.tellsTheChildItOpened) callbacks.didOpen = [] { tellTheChildTheMenuOpened({{"opened", true}}); };
    callbacks.didOpenBranch = [](const std::string& id) { tellTheChildTheMenuOpened({{"submenuOpened", id}}); };
    callbacks.didPick = routeTheMenuPick;
    callbacks.didPickInBranch = [](const std::string& branch, const std::string& id, const std::string& title) {
        yieldToTheChild();
        sendMenuPickToTheChild(id, title, branch);
    };
    callbacks.localized = settings.localized;
    owner = std::make_unique<MenuOwner>(settings.identity, settings.hosted, settings.menuFile,
                                        std::make_shared<platform::Menu>(), std::move(callbacks));
}

MenuOwner& menuOwner() { return *owner; }

void routeTheMenuPick(const std::string& id, const std::string& title) {
    if (pickTheDockPreference(id) || pickedTheUpdaterRow(id)) return;
    yieldToTheChild();
    sendMenuPickToTheChild(id, title, std::nullopt);
}

// The rows are taken, not copied: a large menu arrives with every message.
void drawTheChildsMenu(FlatObjects rows, bool reportsSubmenus, std::optional<std::string> publication) {
    const bool firstDraw = !owner->drawnOnce();
    if (firstDraw) {
        listenOnceTheChildDraws();
        reopenMenu = popUpTheChildsMenuAtTheCursor;
    }
    if (settings.hosted) {
        std::erase_if(rows, [](const FlatObject& row) {
            const std::string* id = stringMember(row, "id");
            return id && *id == dockPreferenceRow;
        });
    }
    std::optional<MenuFooter> footer = footerFor(dockTitleOf(rows), firstDraw);
    owner->draw(std::move(rows), std::move(footer), reportsSubmenus, std::move(publication));
    recordTheDraw(settings.hosted && owner->publish());
}

void drawTheChildsBranch(const std::string& branch, const Json& rows) { owner->drawBranch(branch, rows); }

bool popUpTheChildsMenuAtTheCursor() {
    return owner->popUpAtTheCursor([](platform::Point location) {
        append({{"kind", "reopen"}, {"x", location.x}, {"y", location.y}}, deathLog(shellPidOrZero()));
    });
}

void showUnavailableMenu(const std::string& reason) {
    if (!settings.drawsTheChildsMenu || settings.hosted || unavailableMenuItem) return;
    unavailableMenuItem = &platform::desktop().makeStatusItem();
    if (auto image = platform::systemSymbol("menubar.rectangle", reason)) unavailableMenuItem->setImage(image);
    if (!unavailableMenuItem->image()) unavailableMenuItem->setTitle(placeholderGlyph);
    unavailableMenuItem->setToolTip(reason);
}

void listenOnceTheChildDraws() {
    if (!settings.hosted || !settings.drawsTheChildsMenu || listening) return;
    if (!settings.listenForTheHost) return;
    listening = true;
    settings.listenForTheHost();
}

}  // namespace host
