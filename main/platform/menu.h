// The portable menu model: the host builds menus and items, a backend draws them and reports
// openings and picks. Items are shared so that a menu may keep some of its items aside while it
// is rebuilt. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/image.h"

namespace host::platform {

class Menu;
class MenuItem;

// Key-equivalent modifier flags, in the platform's numbering.
inline constexpr std::uint32_t MODIFIER_SHIFT = 0x20000;
inline constexpr std::uint32_t MODIFIER_CONTROL = 0x40000;
inline constexpr std::uint32_t MODIFIER_OPTION = 0x80000;
inline constexpr std::uint32_t MODIFIER_COMMAND = 0x100000;

class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuNeedsUpdate(Menu&) {}
    virtual void menuWillOpen(Menu&) {}
};

using MenuAction = std::function<void(MenuItem&)>;

class MenuItem {
public:
    explicit MenuItem(std::string title = "", MenuAction action = {});
    ~MenuItem();
    MenuItem(const MenuItem&) = delete;
    MenuItem& operator=(const MenuItem&) = delete;

    static std::shared_ptr<MenuItem> separator();

    // Unique for the process's lifetime: how a desktop names the item.
    std::uint64_t serial() const { return serial_; }
    bool isSeparator() const { return separator_; }
    const std::string& title() const { return title_; }
    bool enabled() const { return enabled_; }
    const MenuAction& action() const { return action_; }
    const std::string& keyEquivalent() const { return keyEquivalent_; }
    std::uint32_t keyEquivalentModifierMask() const { return modifierMask_; }
    const std::optional<Image>& image() const { return image_; }
    const std::optional<std::string>& representedObject() const { return representedObject_; }
    const std::optional<std::string>& identifier() const { return identifier_; }
    Menu* submenu() const { return submenu_.get(); }
    // The menu holding the item, or none.
    Menu* menu() const { return menu_; }

    void setTitle(std::string title);
    void setEnabled(bool enabled);
    void setAction(MenuAction action);
    void setKeyEquivalent(std::string equivalent, std::uint32_t modifierMask);
    void setImage(std::optional<Image> image);
    void setRepresentedObject(std::optional<std::string> object);
    void setIdentifier(std::optional<std::string> identifier);
    void setSubmenu(std::shared_ptr<Menu> submenu);

    // Runs the action when the item is enabled and has one; false otherwise.
    bool pick();

private:
    friend class Menu;

    std::uint64_t serial_;
    bool separator_ = false;
    std::string title_;
    bool enabled_ = true;
    MenuAction action_;
    std::string keyEquivalent_;
    std::uint32_t modifierMask_ = 0;
    std::optional<Image> image_;
    std::optional<std::string> representedObject_;
    std::optional<std::string> identifier_;
    std::shared_ptr<Menu> submenu_;
    Menu* menu_ = nullptr;
};

class Menu {
public:
    explicit Menu(std::string title = "");
    virtual ~Menu();
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    const std::string& title() const { return title_; }
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    MenuDelegate* delegate() const { return delegate_; }
    bool autoenablesItems() const { return autoenablesItems_; }
    // The menu whose item opens this one, or none.
    Menu* supermenu() const;
    // The item whose submenu this is, or none.
    MenuItem* parentItem() const { return parentItem_; }

    void setTitle(std::string title);
    void setDelegate(MenuDelegate* delegate) { delegate_ = delegate; }
    void setAutoenablesItems(bool on) { autoenablesItems_ = on; }

    // An item belongs to one menu at a time: adding it takes it out of its former menu.
    MenuItem& addItem(std::shared_ptr<MenuItem> item);
    // The same, placed at `index` (at the end when past it).
    MenuItem& insertItem(std::shared_ptr<MenuItem> item, std::size_t index);
    void removeItem(const MenuItem& item);
    void removeAllItems();

    // The item of that serial in this menu or below it, or none.
    MenuItem* itemWithSerial(std::uint64_t serial) const;

private:
    friend class MenuItem;

    std::string title_;
    std::vector<std::shared_ptr<MenuItem>> items_;
    MenuDelegate* delegate_ = nullptr;
    bool autoenablesItems_ = true;
    MenuItem* parentItem_ = nullptr;
};

// What the desktop does when a menu is about to show: update it, then tell it that it opens.
void openTheMenu(Menu& menu);

}  // namespace host::platform
