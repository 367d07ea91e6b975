#include "platform/menu.h"

#include <algorithm>

#include "platform/desktop.h"

namespace host::platform {
namespace {

std::uint64_t nextSerial() {
    static std::uint64_t last = 0;
    return ++last;
}

void changed() { desktop().modelChanged(); }

}  // namespace

MenuItem::MenuItem(std::string title, MenuAction action)
    : serial_(nextSerial()), title_(std::move(title)), action_(std::move(action)) {}

MenuItem::~MenuItem() {
    if (submenu_ && submenu_->parentItem_ == this) submenu_->parentItem_ = nullptr;
}

std::shared_ptr<MenuItem> MenuItem::separator() {
    auto item = std::make_shared<MenuItem>();
    item->separator_ = true;
    item->enabled_ = false;
    return item;
}

void MenuItem::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

void MenuItem::setEnabled(bool enabled) {
    enabled_ = enabled;
    changed();
}

void MenuItem::setAction(MenuAction action) {
    action_ = std::move(action);
    changed();
}

void MenuItem::setKeyEquivalent(std::string equivalent, std::uint32_t modifierMask) {
    keyEquivalent_ = std::move(equivalent);
    modifierMask_ = modifierMask;
    changed();
}

void MenuItem::setImage(std::optional<Image> image) {
    image_ = std::move(image);
    changed();
}

void MenuItem::setRepresentedObject(std::optional<std::string> object) {
    representedObject_ = std::move(object);
    changed();
}

void MenuItem::setIdentifier(std::optional<std::string> identifier) {
    identifier_ = std::move(identifier);
    changed();
}

void MenuItem::setSubmenu(std::shared_ptr<Menu> submenu) {
    if (submenu_ && submenu_->parentItem_ == this) submenu_->parentItem_ = nullptr;
    submenu_ = std::move(submenu);
    if (submenu_) submenu_->parentItem_ = this;
    changed();
}

bool MenuItem::pick() {
    if (separator_ || !enabled_ || !action_) return false;
    // The action may rebuild the menu that holds this item; keep the item alive meanwhile.
    MenuAction action = action_;
    action(*this);
    return true;
}

Menu::Menu(std::string title) : title_(std::move(title)) {}

Menu::~Menu() {
    for (auto& item : items_) item->menu_ = nullptr;
}

Menu* Menu::supermenu() const { return parentItem_ ? parentItem_->menu() : nullptr; }

void Menu::setTitle(std::string title) {
    title_ = std::move(title);
    changed();
}

MenuItem& Menu::addItem(std::shared_ptr<MenuItem> item) { return insertItem(std::move(item), items_.size()); }

MenuItem& Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
    if (item->menu_) item->menu_->removeItem(*item);
    item->menu_ = this;
    MenuItem& placed = *item;
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(std::min(index, items_.size())), std::move(item));
    changed();
    return placed;
}

void Menu::removeItem(const MenuItem& item) {
    auto found = std::find_if(items_.begin(), items_.end(), [&](const auto& held) { return held.get() == &item; });
    if (found == items_.end()) return;
    (*found)->menu_ = nullptr;
    items_.erase(found);
    changed();
}

void Menu::removeAllItems() {
    for (auto& item : items_) item->menu_ = nullptr;
    items_.clear();
    changed();
}

MenuItem* Menu::itemWithSerial(std::uint64_t serial) const {
    for (const auto& item : items_) {
        if (item->serial() == serial) return item.get();
        if (item->submenu()) {
            if (MenuItem* found = item->submenu()->itemWithSerial(serial)) return found;
        }
    }
    return nullptr;
}

void openTheMenu(Menu& menu) {
    if (MenuDelegate* delegate = menu.delegate()) delegate->menuNeedsUpdate(menu);
    // The update may have replaced the delegate.
    if (MenuDelegate* delegate = menu.delegate()) delegate->menuWillOpen(menu);
}

}  // namespace host::platform
