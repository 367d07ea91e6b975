#include "hot-keys/child-hot-keys.h"

#include <memory>

#include "child/messages-to-the-child.h"
#include "links/delivery-queue.h"
#include "platform/desktop.h"
#include "remote-sessions/remote-machines.h"

namespace host {
namespace {

std::unique_ptr<ChildHotKeys> theChildHotKeys;

void armTheChildHotKeys(const std::optional<std::string>& front) {
    if (theChildHotKeys) theChildHotKeys->arm(front);
}

std::optional<ChildHotKeyRow> childHotKeyRowOf(const Json& row) {
    const std::string* key = stringMember(row, "key");
    const std::string* url = stringMember(row, "url");
    const auto code = uint32Member(row, "code");
    const auto modifiers = uint32Member(row, "modifiers");
    if (!key || !url || !code || !modifiers) return std::nullopt;
    std::uint32_t options = 0;
    if (auto found = row.find("options"); found != row.end() && found->is_number_integer()) {
        const auto given = uint32Member(row, "options");
        if (!given) return std::nullopt;  // an integer the system could not be given
        options = *given;
    }
    return ChildHotKeyRow{*key, *code, *modifiers, options, *url};
}

}  // namespace

std::vector<ChildHotKeyRow> childHotKeyRowsOf(const Json& rows) {
    std::vector<ChildHotKeyRow> taken;
    if (!rows.is_array()) return taken;
    for (const Json& row : rows) {
        if (auto parsed = childHotKeyRowOf(row)) taken.push_back(std::move(*parsed));
    }
    return taken;
}

ChildHotKeys::ChildHotKeys() {
    platform::Desktop& desktop = platform::desktop();
    desktop.addHotKeyHandler([](platform::HotKeyId id) {
        if (id.signature != childHotKeySignature) return false;
        if (theChildHotKeys) theChildHotKeys->fire(id.id);
        return true;
    });
    desktop.addHotKeyRefusalHandler([](platform::HotKeyId id, std::uint64_t reference, std::int32_t status) {
        if (id.signature != childHotKeySignature) return false;
        if (theChildHotKeys) theChildHotKeys->refused(id.id, reference, status);
        return true;
    });
    desktop.observeTheWorkspace([](platform::WorkspaceChange change, const platform::RunningApplication& application) {
        if (change == platform::WorkspaceChange::activated) armTheChildHotKeys(application.bundleIdentifier);
    });
    observeTheSessionChanges([] { armTheChildHotKeys(platform::desktop().frontApplicationIdentifier()); });
}

void ChildHotKeys::take(const Json& rows) {
    std::vector<ChildHotKeyRow> parsed = childHotKeyRowsOf(rows);
    for (std::size_t index = 0; index < rows_.size(); ++index) unregisterHotKey(index, false);
    rows_ = std::move(parsed);
    references_.assign(rows_.size(), std::nullopt);
    statuses_.assign(rows_.size(), unregisteredHotKeyStatus);
    arm(platform::desktop().frontApplicationIdentifier());
}

void ChildHotKeys::arm(const std::optional<std::string>& front) {
    if (rows_.empty()) return;
    refreshTheSession(front);
    const bool yields = yieldsToTheRemote(front);
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        if (!yields) {
            registerHotKey(index);
            continue;
        }
        if (keepsTheChord(remoteRouteOf(rows_[index].key, front))) registerHotKey(index);
        else unregisterHotKey(index, true);
    }
    reportTheStatuses();
}

void ChildHotKeys::registerHotKey(std::size_t index) {
    if (statuses_[index] == 0) return;
    const ChildHotKeyRow& row = rows_[index];
    const platform::HotKeyId id{childHotKeySignature, static_cast<std::uint32_t>(index)};
    const auto registration = platform::desktop().registerHotKey(row.code, row.modifiers, id, row.options);
    statuses_[index] = registration.status;
    references_[index] = registration.status == 0 ? std::optional(registration.reference) : std::nullopt;
}

// Unlike a declared chord, a failure status is overwritten: the row is simply released.
void ChildHotKeys::unregisterHotKey(std::size_t index, bool yielded) {
    if (statuses_[index] == 0 && references_[index]) platform::desktop().unregisterHotKey(*references_[index]);
    references_[index].reset();
    statuses_[index] = yielded ? yieldedHotKeyStatus : unregisteredHotKeyStatus;
}

// The refusal is reported now; the next arm registers the row again.
void ChildHotKeys::refused(std::size_t index, std::uint64_t reference, std::int32_t status) {
    if (index >= rows_.size() || statuses_[index] != 0 || references_[index] != reference) return;
    references_[index].reset();
    statuses_[index] = status;
    reportTheStatuses();
}

void ChildHotKeys::fire(std::size_t index) {
    if (index >= rows_.size()) return;
    // Unlike a declared chord, the press does not yield activation to the shell.
    if (!pressedOnTheRemote(rows_[index].key)) deliver(rows_[index].url, "hotkey");
}

void ChildHotKeys::reportTheStatuses() const {
    Json report = Json::array();
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        report.push_back({{"key", rows_[index].key}, {"status", statuses_[index]}});
    }
    tellTheChild({{"hotkeys", std::move(report)}});
}

void makeTheChildHotKeys() {
    auto made = std::make_unique<ChildHotKeys>();
    theChildHotKeys = std::move(made);
}

ChildHotKeys* childHotKeys() { return theChildHotKeys.get(); }

}  // namespace host
