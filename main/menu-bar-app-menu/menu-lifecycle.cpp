#include "menu-bar-app-menu/menu-lifecycle.h"

#include <memory>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "menu-bar-app-menu/dock-preference.h"
#include "platform/desktop.h"
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
std::optional<std::string> dockTitleOf(const Json& rows) {
    for (const Json& row : rows) {
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

void recordTheDraw(bool published) {
    append({{"kind", "menu-drawn"},
            {"shell", shellPidOrZero()},
            {"statusItem", owner->hasStatusItem()},
            {"hosted", settings.hosted},
            {"published", published ? Json(settings.menuFile.string()) : Json(nullptr)},
            {"menu", owner->drawnRows()}},
           deathLog(shellPidOrZero()));
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

void drawTheChildsMenu(const Json& rows, bool reportsSubmenus, std::optional<Json> publication) {
    const bool firstDraw = !owner->drawnOnce();
    if (firstDraw) {
        listenOnceTheChildDraws();
        reopenMenu = popUpTheChildsMenuAtTheCursor;
    }
    Json kept = Json::array();
    for (const Json& row : rows) {
        const std::string* id = stringMember(row, "id");
        if (!(settings.hosted && id && *id == dockPreferenceRow)) kept.push_back(row);
    }
    owner->draw(kept, footerFor(dockTitleOf(kept), firstDraw), reportsSubmenus, std::move(publication));
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
