#include "menu-bar-app-menu/menu-owner.h"

#include <map>
#include <set>

#include "menu-bar-app-menu/menu-keys.h"
#include "menu-bar-app-menu/symbol-images.h"
#include "platform/desktop.h"
#include "platform/files.h"

namespace host {
namespace {

constexpr const char* defaultStatusSymbol = "rectangle.grid.2x2";

// A row is a FlatObject (the shell's rows) or a Json object (a menu file's fallback rows).
template <typename Row>
bool isTrue(const Row& row, const char* key) { return boolMember(row, key).value_or(false); }

template <typename Row>
std::string textOr(const Row& row, const char* key, const std::string& fallback) {
    const std::string* text = stringMember(row, key);
    return text ? *text : fallback;
}

template <typename Row>
bool isKind(const Row& row, const char* kind) {
    const std::string* text = stringMember(row, "kind");
    return text && *text == kind;
}

const FlatObject* firstHeader(const FlatObjects& rows) {
    for (const FlatObject& row : rows) {
        if (isKind(row, "header")) return &row;
    }
    return nullptr;
}

// The symbol of the first header row that names one.
std::string statusSymbolOf(const FlatObjects& rows) {
    for (const FlatObject& row : rows) {
        const std::string* symbol = stringMember(row, "symbol");
        if (isKind(row, "header") && symbol) return *symbol;
    }
    return defaultStatusSymbol;
}

std::vector<std::string> branchPathOf(const FlatObject& row) {
    const Json* path = arrayMember(row, "submenuFileBranch");
    if (!path || !isArrayOfStrings(*path)) return {};
    return path->get<std::vector<std::string>>();
}

// How many submenus lie between the menu and the root.
int depthOf(const platform::Menu& menu) {
    int depth = 0;
    for (const platform::Menu* above = menu.supermenu(); above; above = above->supermenu()) ++depth;
    return depth;
}

std::shared_ptr<platform::MenuItem> disabledItem(const std::string& title) {
    auto item = std::make_shared<platform::MenuItem>(title);
    item->setEnabled(false);
    return item;
}

// The rows of drawn(), each after a comma unless it opens the array.
void appendDrawnItems(const platform::Menu& menu, std::string& out) {
    for (const auto& item : menu.items()) {
        if (out.back() != '[') out.push_back(',');
        if (item->isSeparator()) {
            out += R"({"id":"separator","title":null})";
            continue;
        }
        out += item->enabled() ? R"({"enabled":true,"id":)" : R"({"enabled":false,"id":)";
        const std::optional<std::string>& id = item->representedObject() ? item->representedObject() : item->identifier();
        if (id) appendQuoted(out, *id);
        else out += "null";
        appendQuoted(out += ",\"title\":", item->title()) += '}';
        if (item->submenu()) appendDrawnItems(*item->submenu(), out);
    }
}

}  // namespace

// The members of a row that every draw reads, found in one walk over the row: a row is read
// for a dozen names, and a search for each costs more than the walk. Each counts only with its
// type, as stringMember and boolMember count it.
struct RowFields {
    const std::string *id = nullptr, *title = nullptr, *kind = nullptr, *parent = nullptr, *row = nullptr,
                      *key = nullptr, *symbol = nullptr;
    bool hidden = false, enabled = false, submenu = false, data = false;

    explicit RowFields(const FlatObject& object) {
        using namespace std::string_view_literals;
        for (const FlatObject::Member& found : object.members()) {
            const std::string_view member = found.name;
            if (!found.isBoolean) {
                const std::string* text = &found.text;
                if (member == "id"sv) id = text;
                else if (member == "title"sv) title = text;
                else if (member == "parent"sv) parent = text;
                else if (member == "kind"sv) kind = text;
                else if (member == "key"sv) key = text;
                else if (member == "symbol"sv) symbol = text;
                else if (member == "row"sv) row = text;
            } else if (member == "enabled"sv) {
                enabled = found.flag;
            } else if (member == "submenu"sv) {
                submenu = found.flag;
            } else if (member == "hidden"sv) {
                hidden = found.flag;
            } else if (member == "data"sv) {
                data = found.flag;
            }
        }
    }
    bool isKind(std::string_view named) const { return kind && *kind == named; }
    // A row that would open a submenu, unless it is cut for depth.
    bool opensASubmenu() const { return submenu && !hidden && !isKind("separator"); }
};

MenuOwner::MenuOwner(std::string identity, bool hosted, std::filesystem::path menuFile,
                     std::shared_ptr<platform::Menu> menu, MenuCallbacks callbacks)
    : identity_(std::move(identity)),
      hosted_(hosted),
      menuFile_(std::move(menuFile)),
      callbacks_(std::move(callbacks)),
      menu_(menu ? std::move(menu) : std::make_shared<platform::Menu>()) {
    menu_->setAutoenablesItems(false);
    if (callbacks_.didOpen) menu_->setDelegate(this);
    if (!callbacks_.localized) callbacks_.localized = [](const std::string& key) { return key; };
}

void MenuOwner::draw(FlatObjects rows, std::optional<MenuFooter> footer, bool reportsSubmenus,
                     std::optional<std::string> publication) {
    platform::Desktop& desktop = platform::desktop();
    if (!drawnOnce_) {
        drawnOnce_ = true;
        desktop.setActivationPolicy(platform::ActivationPolicy::accessory);
        if (!hosted_) {
            item_ = &desktop.makeStatusItem();
            item_->setAutosaveName(identity_);
            item_->setMenu(menu_.get());
        }
    }
    rows_ = std::move(rows);
    reportsSubmenus_ = reportsSubmenus;
    publication_ = std::move(publication);

    const FlatObject* header = firstHeader(rows_);
    const std::string label = header ? textOr(*header, "title", identity_) : identity_;
    if (item_) drawTheButton(header, label);

    replaceItems(*menu_, rows_, std::nullopt);
    refreshFooter_ = footer ? footer->refresh : nullptr;
    if (callbacks_.didOpen || footer) {
        menu_->setDelegate(this);
        if (footer && footer->append) footer->append(*menu_, *this);
    } else {
        menu_->setDelegate(nullptr);
    }
}

// The button's image and title are only ever set, never cleared.
void MenuOwner::drawTheButton(const FlatObject* header, const std::string& label) {
    auto image = platform::systemSymbol(statusSymbolOf(rows_), label);
    if (image && header) {
        if (auto pointSize = numberMember(*header, "pointSize")) {
            const double weight = numberMember(*header, "weight").value_or(platform::FONT_WEIGHT_REGULAR);
            if (auto configured = platform::configuredSymbol(*image, *pointSize, weight)) image = configured;
        }
    }
    if (!image) {
        item_->setTitle(label);
    } else {
        const std::string* badge = header ? stringMember(*header, "badge") : nullptr;
        if (badge) {
            if (auto badged = badgedSymbol(*image, *badge, label)) image = badged;
        }
        image->isTemplate = true;
        item_->setImage(image);
    }
    item_->setToolTip(header ? textOr(*header, "tooltip", label) : label);
    item_->setAccessibilityLabel(label);
    item_->setVisible(!(header && isTrue(*header, "hidden")));
}

void MenuOwner::replaceItems(platform::Menu& menu, const FlatObjects& rows, const std::optional<std::string>& branch) {
    if (FileSubmenu* file = asFileSubmenu(&menu)) {
        for (const auto& item : file->hostItems) file->removeItem(*item);
        file->hostItems.clear();
    } else {
        menu.removeAllItems();
    }
    std::map<std::string, platform::Menu*> menus;
    std::set<std::string> cut;  // submenu rows past the depth limit: the rows below them go too
    if (branch) menus[*branch] = &menu;
    for (const FlatObject& row : rows) {
        const RowFields fields(row);
        const std::string id = fields.id ? *fields.id : std::string();
        const std::string* parent = fields.parent;
        const bool belowACut = parent && cut.contains(*parent);
        platform::Menu* target = nullptr;  // a cut row's id is never in `menus`
        if (parent && menus.contains(*parent)) target = menus[*parent];
        else if (!branch && !belowACut) target = &menu;
        // A branch update's rows must name their parent; rows without a target are skipped.
        platform::Menu* submenu = target ? appendRow(row, fields, id, *target, false, std::nullopt) : nullptr;
        if (submenu) {
            menus[id] = submenu;
            cut.erase(id);
        } else if (fields.opensASubmenu() && (target || belowACut)) {
            menus.erase(id);
            cut.insert(id);
        }
    }
}

platform::Menu* MenuOwner::appendRow(const FlatObject& row, const std::string& id, platform::Menu& menu, bool fromFile,
                                     const std::optional<FileMenuSource>& fileSource) {
    return appendRow(row, RowFields(row), id, menu, fromFile, fileSource);
}

platform::Menu* MenuOwner::appendRow(const FlatObject& row, const RowFields& fields, const std::string& id,
                                     platform::Menu& menu, bool fromFile,
                                     const std::optional<FileMenuSource>& fileSource) {
    if (fields.hidden) return nullptr;
    if (fields.isKind("separator")) {
        addRowItem(platform::MenuItem::separator(), menu, fromFile);
        return nullptr;
    }
    const std::string title = fields.title ? *fields.title : std::string();
    const bool enabled = fields.enabled;
    const bool hasSubmenu = fields.submenu;

    auto item = std::make_shared<platform::MenuItem>(title);
    if (enabled && !hasSubmenu) {
        item->setAction([this, fromFile](platform::MenuItem& picked) {
            fromFile ? pickedFromFile(picked) : this->picked(picked);
        });
    }
    item->setIdentifier(fields.data || !fields.row ? id : *fields.row);
    item->setRepresentedObject(id);
    item->setEnabled(enabled);
    if (fields.key) {
        if (auto parsed = menuKeyOf(*fields.key)) item->setKeyEquivalent(parsed->equivalent, parsed->mask);
    }
    if (fields.symbol) item->setImage(rowImageOf(*fields.symbol, title));
    addRowItem(item, menu, fromFile);
    // Submenus nest no deeper than a menu file's may, whether the rows came from the shell or
    // from a file: the chain is cut here, so nothing that walks the tree recurses without bound.
    if (!hasSubmenu || depthOf(menu) >= MENU_FILE_SUBMENU_DEPTH_LIMIT) return nullptr;

    auto submenu = submenuFor(row, id, title, menu, fromFile, fileSource);
    submenu->setAutoenablesItems(false);
    if (asFileSubmenu(submenu.get()) || (!fromFile && reportsSubmenus_ && callbacks_.didOpenBranch)) {
        submenu->setDelegate(this);
    }
    item->setSubmenu(submenu);
    return submenu.get();
}

std::shared_ptr<platform::Menu> MenuOwner::submenuFor(const FlatObject& row, const std::string& id, const std::string& title,
                                                      platform::Menu& target, bool fromFile,
                                                      const std::optional<FileMenuSource>& fileSource) {
    const std::string* file = stringMember(row, "submenuFile");
    if (!fromFile && !id.empty() && file && file->starts_with("/")) {
        const Json* fallback = arrayMember(row, "submenuFallback");
        auto submenu = std::make_shared<FileSubmenu>(
            title, id, FileMenuSource{*file, branchPathOf(row)}, true, textOr(row, "submenuSelectionMark", ""),
            fallback && isArrayOfObjects(*fallback) ? std::optional<Json>(*fallback) : std::nullopt);
        appendFileFallback(*submenu, callbacks_.localized("Opening…"));
        return submenu;
    }
    FileSubmenu* parent = asFileSubmenu(&target);
    if (fileSource && parent) {
        return std::make_shared<FileSubmenu>(title, parent->branchID, *fileSource, false, parent->selectionMark,
                                             std::nullopt);
    }
    return std::make_shared<platform::Menu>(title);
}

// The shell's rows in a file submenu are remembered, so a re-read puts them back after the file's.
void MenuOwner::addRowItem(std::shared_ptr<platform::MenuItem> item, platform::Menu& menu, bool fromFile) {
    FileSubmenu* file = asFileSubmenu(&menu);
    if (!fromFile && file) file->hostItems.push_back(item);
    menu.addItem(std::move(item));
}

bool MenuOwner::drawBranch(const std::string& branch, const Json& jsonRows) {
    if (!reportsSubmenus_) return false;
    platform::Menu* target = submenu(branch, *menu_);
    if (!target) return false;
    FlatObjects rows;
    for (const Json& row : jsonRows) rows.emplace_back(row);
    std::set<std::string> dropping{branch};
    FlatObjects kept;
    for (const FlatObject& row : rows_) {
        const std::string* parent = stringMember(row, "parent");
        if (!parent || !dropping.contains(*parent)) {
            kept.push_back(row);
            continue;
        }
        const std::string* id = stringMember(row, "id");
        if (isTrue(row, "submenu") && id) dropping.insert(*id);
    }
    for (const FlatObject& row : rows) kept.push_back(row);
    rows_ = std::move(kept);
    replaceItems(*target, rows, branch);
    return true;
}

platform::Menu* MenuOwner::submenu(const std::string& branch, platform::Menu& in) const {
    const FileSubmenu* file = asFileSubmenu(&in);
    const auto& items = file ? file->hostItems : in.items();
    for (const auto& item : items) {
        platform::Menu* submenu = item->submenu();
        if (!submenu) continue;
        if (item->representedObject() == branch) return submenu;
        if (platform::Menu* found = this->submenu(branch, *submenu)) return found;
    }
    return nullptr;
}

bool MenuOwner::publish() const {
    if (!publication_) return false;
    std::string why;
    return platform::writeFileAtomically(menuFile_, *publication_, &why);
}

bool MenuOwner::popUpAtTheCursor(const std::function<void(platform::Point)>& willOpen) {
    if (!drawnOnce_) return false;
    platform::Desktop& desktop = platform::desktop();
    const platform::Point location = desktop.mouseLocation();
    if (willOpen) willOpen(location);
    desktop.popUp(*menu_, location);
    return true;
}

Json MenuOwner::drawn(const platform::Menu& menu) const {
    Json snapshot = Json::array();
    for (const auto& item : menu.items()) {
        if (item->isSeparator()) {
            snapshot.push_back({{"id", "separator"}, {"title", nullptr}});
            continue;
        }
        Json id = item->representedObject() ? Json(*item->representedObject())
                  : item->identifier()      ? Json(*item->identifier())
                                            : Json(nullptr);
        snapshot.push_back({{"id", std::move(id)}, {"title", item->title()}, {"enabled", item->enabled()}});
        if (item->submenu()) {
            for (Json& inner : drawn(*item->submenu())) snapshot.push_back(std::move(inner));
        }
    }
    return snapshot;
}

// Written directly, keys in sorted order: a 500-row menu is recorded at every draw, and a tree
// built and sorted for it would cost more than the draw itself.
void MenuOwner::appendDrawn(const platform::Menu& menu, std::string& out) const {
    out.push_back('[');
    appendDrawnItems(menu, out);
    out.push_back(']');
}

std::optional<std::string> MenuOwner::titleOf(const std::string& id) const {
    for (const FlatObject& row : rows_) {
        const std::string* rowId = stringMember(row, "id");
        if (!rowId || *rowId != id || isKind(row, "separator")) continue;
        const std::string* title = stringMember(row, "title");
        return title ? std::optional<std::string>(*title) : std::nullopt;
    }
    return std::nullopt;
}

void MenuOwner::appendFileRows(const std::vector<FileMenuRow>& rows, platform::Menu& menu,
                               const std::string& selectionMark) {
    for (const FileMenuRow& row : rows) {
        if (row.separator.value_or(false)) {
            addRowItem(platform::MenuItem::separator(), menu, true);
            continue;
        }
        if (!row.id || !row.title) continue;
        std::string title = *row.title;
        if (row.checked.value_or(false) && !selectionMark.empty() && !title.ends_with(selectionMark)) {
            title += selectionMark;
        }
        FlatObject object;
        object.setString("title", title);
        object.setBoolean("enabled", row.enabled.value_or(true));
        object.setBoolean("submenu", row.submenu.has_value());
        if (row.key) object.setString("key", *row.key);
        if (row.row) object.setString("row", *row.row);
        if (row.data) object.setBoolean("data", *row.data);
        if (row.symbol) object.setString("symbol", *row.symbol);
        std::optional<FileMenuSource> source;
        const FileSubmenu* file = asFileSubmenu(&menu);
        if (auto key = row.branchKey(); key && file) source = file->source.extended(*key);
        platform::Menu* submenu = appendRow(object, *row.id, menu, true, source);
        if (submenu && row.submenu) appendFileRows(*row.submenu, *submenu, selectionMark);
    }
}

void MenuOwner::appendFileFallback(FileSubmenu& submenu, const std::optional<std::string>& defaultNotice) {
    if (submenu.fallback) {
        for (const Json& entry : *submenu.fallback) {
            const std::string* title = stringMember(entry, "title");
            if (isKind(entry, "separator")) submenu.addItem(platform::MenuItem::separator());
            else if (isKind(entry, "info") && title) submenu.addItem(disabledItem(*title));
        }
    } else if (defaultNotice) {
        submenu.addItem(disabledItem(*defaultNotice));
    }
}

void MenuOwner::reread(FileSubmenu& submenu) {
    auto rows = submenu.source.rows();
    submenu.removeAllItems();
    if (!rows) appendFileFallback(submenu, callbacks_.localized("Menu unavailable"));
    else if (rows->empty()) appendFileFallback(submenu, std::nullopt);
    else appendFileRows(*rows, submenu, submenu.selectionMark);
    for (const auto& item : submenu.hostItems) submenu.addItem(item);
}

void MenuOwner::menuNeedsUpdate(platform::Menu& menu) {
    if (&menu == menu_.get()) {
        if (refreshFooter_) refreshFooter_(menu, *this);
    } else if (FileSubmenu* file = asFileSubmenu(&menu)) {
        reread(*file);
    }
}

void MenuOwner::menuWillOpen(platform::Menu& menu) {
    if (&menu == menu_.get()) {
        if (callbacks_.didOpen) callbacks_.didOpen();
        return;
    }
    const FileSubmenu* file = asFileSubmenu(&menu);
    if ((file && !file->declaredByHost) || !reportsSubmenus_) return;
    platform::Menu* above = menu.supermenu();
    if (!above) return;
    for (const auto& item : above->items()) {
        if (item->submenu() != &menu) continue;
        if (item->representedObject() && callbacks_.didOpenBranch) callbacks_.didOpenBranch(*item->representedObject());
        return;
    }
}

void MenuOwner::picked(platform::MenuItem& item) {
    const auto& id = item.representedObject() ? item.representedObject() : item.identifier();
    if (id && callbacks_.didPick) callbacks_.didPick(*id, item.title());
}

void MenuOwner::pickedFromFile(platform::MenuItem& item) {
    if (!item.representedObject()) return;
    std::optional<std::string> branch;
    bool reachedTheRoot = false;
    for (platform::Menu* menu = item.menu(); menu; menu = menu->supermenu()) {
        if (const FileSubmenu* file = asFileSubmenu(menu); file && !branch) branch = file->branchID;
        if (menu == menu_.get()) {
            reachedTheRoot = true;
            break;
        }
    }
    if (reachedTheRoot && branch && callbacks_.didPickInBranch) {
        callbacks_.didPickInBranch(*branch, *item.representedObject(), item.title());
    }
}

platform::MenuAction MenuOwner::pickAction() {
    return [this](platform::MenuItem& item) { picked(item); };
}

}  // namespace host
