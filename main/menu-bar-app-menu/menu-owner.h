// The status item and its menu, drawn from the rows the shell publishes: one owner for the
// process. It turns rows into items, keeps the rows it drew, lets the host add its own rows after
// them (the footer), fills file submenus, and reports openings and picks. Main thread only.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "menu-bar-app-menu/file-submenu.h"
#include "platform/menu.h"
#include "platform/status-item.h"
#include "support/json.h"

namespace host {

class MenuOwner;
struct RowFields;

// The host's own rows after the shell's: appended on a draw, refreshed before each opening.
struct MenuFooter {
    std::function<void(platform::Menu& menu, MenuOwner& owner)> append;
    std::function<void(platform::Menu& menu, MenuOwner& owner)> refresh;
};

struct MenuCallbacks {
    std::function<void()> didOpen;                                                   // optional
    std::function<void(const std::string& id)> didOpenBranch;                        // optional
    std::function<void(const std::string& id, const std::string& title)> didPick;
    std::function<void(const std::string& branch, const std::string& id, const std::string& title)> didPickInBranch;
    // The bundle's translation of a notice; the key itself without one.
    std::function<std::string(const std::string& key)> localized;
};

class MenuOwner : public platform::MenuDelegate {
public:
    MenuOwner(std::string identity, bool hosted, std::filesystem::path menuFile,
              std::shared_ptr<platform::Menu> menu, MenuCallbacks callbacks);
    MenuOwner(const MenuOwner&) = delete;
    MenuOwner& operator=(const MenuOwner&) = delete;

    // `publication`: the bytes publish() writes to the menu file, as the shell's message gave them.
    void draw(FlatObjects rows, std::optional<MenuFooter> footer, bool reportsSubmenus,
              std::optional<std::string> publication);
    void replaceItems(platform::Menu& menu, const FlatObjects& rows, const std::optional<std::string>& branch);
    // Appends the row's item; the submenu it made, if any.
    platform::Menu* appendRow(const FlatObject& row, const std::string& id, platform::Menu& menu, bool fromFile,
                              const std::optional<FileMenuSource>& fileSource);
    void addRowItem(std::shared_ptr<platform::MenuItem> item, platform::Menu& menu, bool fromFile);
    bool drawBranch(const std::string& branch, const Json& rows);
    platform::Menu* submenu(const std::string& branch, platform::Menu& in) const;
    // Writes the publication to the menu file; false without one or when it cannot be written.
    bool publish() const;
    // Pops the menu up at the mouse once drawn, telling `willOpen` where; false before.
    bool popUpAtTheCursor(const std::function<void(platform::Point)>& willOpen);

    // The flat snapshot of a menu: [{"id", "title", "enabled"} ...], submenus inlined.
    Json drawn(const platform::Menu& menu) const;
    void appendDrawn(const platform::Menu& menu, std::string& out) const;
    Json drawnRows() const { return drawn(*menu_); }
    // drawnRows() as the serialiser writes it, appended to `out` straight from the menu.
    void appendDrawnRows(std::string& out) const { appendDrawn(*menu_, out); }
    std::optional<std::string> titleOf(const std::string& id) const;

    void appendFileRows(const std::vector<FileMenuRow>& rows, platform::Menu& menu, const std::string& selectionMark);
    void appendFileFallback(FileSubmenu& submenu, const std::optional<std::string>& defaultNotice);

    // Item actions, and the action host rows use.
    void picked(platform::MenuItem& item);
    void pickedFromFile(platform::MenuItem& item);
    platform::MenuAction pickAction();

    void menuNeedsUpdate(platform::Menu& menu) override;
    void menuWillOpen(platform::Menu& menu) override;

    bool drawnOnce() const { return drawnOnce_; }
    bool hasStatusItem() const { return item_ != nullptr; }
    const platform::StatusItem* statusItem() const { return item_; }
    bool hosted() const { return hosted_; }
    platform::Menu& menu() { return *menu_; }
    const FlatObjects& rows() const { return rows_; }
    bool reportsSubmenus() const { return reportsSubmenus_; }

private:
    void drawTheButton(const FlatObject* header, const std::string& label);
    platform::Menu* appendRow(const FlatObject& row, const RowFields& fields, const std::string& id, platform::Menu& menu,
                              bool fromFile, const std::optional<FileMenuSource>& fileSource);
    std::shared_ptr<platform::Menu> submenuFor(const FlatObject& row, const std::string& id, const std::string& title,
                                               platform::Menu& target, bool fromFile,
                                               const std::optional<FileMenuSource>& fileSource);
    void reread(FileSubmenu& submenu);

    std::string identity_;
    bool hosted_;
    std::filesystem::path menuFile_;
    MenuCallbacks callbacks_;
    std::shared_ptr<platform::Menu> menu_;
    platform::StatusItem* item_ = nullptr;
    FlatObjects rows_;
    std::optional<std::string> publication_;
    bool reportsSubmenus_ = false;
    std::function<void(platform::Menu&, MenuOwner&)> refreshFooter_;
    bool drawnOnce_ = false;
};

}  // namespace host
