#include "updates/update-rows.h"

#include "menu-bar-app-menu/symbol-images.h"
#include "updates/updater.h"

namespace host {
namespace {

constexpr UpdateTexts english{"Check for Updates…",
                              "Restart to Update",
                              "An update is waiting",
                              "Finish the pending update before switching channels.",
                              "Couldn’t switch update channels",
                              "OK"};
constexpr UpdateTexts turkish{"Güncellemeleri Denetle…",
                              "Güncellemek İçin Yeniden Başlat",
                              "Bir güncelleme bekliyor",
                              "Kanalı değiştirmeden önce bekleyen güncellemeyi tamamla.",
                              "Güncelleme kanalı değiştirilemedi",
                              "OK"};

std::string withoutHostPrefixes(std::string id) {
    const std::string prefix = "host.";
    for (auto at = id.find(prefix); at != std::string::npos; at = id.find(prefix, at)) id.erase(at, prefix.size());
    return id;
}

// The index of the first item representing `id`, among the menu's own items.
std::optional<std::size_t> indexOfRow(const platform::Menu& menu, const std::string& id) {
    const auto& items = menu.items();
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (items[index]->representedObject() == id) return index;
    }
    return std::nullopt;
}

}  // namespace

const UpdateTexts& updateTexts(bool inTurkish) { return inTurkish ? turkish : english; }

std::string restartToUpdateTitle(bool inTurkish, const std::string& version) {
    std::string title = updateTexts(inTurkish).restartToUpdate;
    return version.empty() ? title : title + " (" + version + ")";
}

std::shared_ptr<platform::MenuItem> updaterItem(const std::string& id, const std::string& title,
                                                const std::string& symbol, platform::MenuAction action) {
    auto item = std::make_shared<platform::MenuItem>(title, std::move(action));
    item->setIdentifier("menu-row:" + withoutHostPrefixes(id));
    item->setRepresentedObject(id);
    item->setImage(rowImageOf(symbol, title));
    return item;
}

void appendTheUpdaterRows(platform::Menu& menu, const platform::MenuAction& action) {
    menu.addItem(platform::MenuItem::separator());
    menu.addItem(updaterItem(checkForUpdatesRow, updateTexts(speaksTurkish()).checkForUpdates, "arrow.down.circle", action));
    if (const auto& attribution = menuAttribution()) {
        menu.addItem(updaterItem(attribution->id, attribution->title, "sparkles", action));
    }
    refreshTheUpdaterRows(menu, action);
}

void refreshTheUpdaterRows(platform::Menu& menu, const platform::MenuAction& action) {
    const auto check = indexOfRow(menu, checkForUpdatesRow);
    if (!check) return;
    menu.items()[*check]->setEnabled(updaterStarted());
    const auto restart = indexOfRow(menu, restartToUpdateRow);
    const auto version = updaterStarted() ? waitingUpdate(WAITING_VERSION_BYTES) : std::nullopt;
    if (!version) {
        if (restart) {
            auto gone = menu.items()[*restart];  // held while the menu lets go of it
            menu.removeItem(*gone);
        }
        return;
    }
    const std::string title = restartToUpdateTitle(speaksTurkish(), *version);
    if (restart) return menu.items()[*restart]->setTitle(title);
    menu.insertItem(updaterItem(restartToUpdateRow, title, "arrow.clockwise", action), *check);
}

}  // namespace host
