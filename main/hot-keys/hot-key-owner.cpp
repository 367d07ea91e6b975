#include "hot-keys/hot-key-owner.h"

#include <system_error>

#include "child/messages-to-the-child.h"
#include "links/delivery-queue.h"
#include "platform/desktop.h"
#include "platform/files.h"
#include "platform/process.h"
#include "remote-sessions/remote-machines.h"
#include "support/clock.h"
#include "support/json.h"

namespace host {
namespace {

std::unique_ptr<HotKeyOwner> theOwner;

void armTheOwner(const std::optional<std::string>& front) {
    if (theOwner) theOwner->arm(front);
}

}  // namespace

HotKeyOwner::HotKeyOwner(HotKeyOwnerSettings settings) : settings_(std::move(settings)) {
    const std::size_t count = settings_.declaredHotKeys.size();
    references_.assign(count, std::nullopt);
    statuses_.assign(count, unregisteredHotKeyStatus);

    platform::Desktop& desktop = platform::desktop();
    desktop.addHotKeyHandler([count](platform::HotKeyId id) {
        if (id.signature != hotKeySignature || id.id >= count) return false;
        if (theOwner) theOwner->fire(id.id);
        return true;
    });
    desktop.addHotKeyRefusalHandler([count](platform::HotKeyId id, std::uint64_t reference, std::int32_t status) {
        if (id.signature != hotKeySignature || id.id >= count) return false;
        if (theOwner) theOwner->refused(id.id, reference, status);
        return true;
    });
    desktop.observeTheWorkspace([](platform::WorkspaceChange change, const platform::RunningApplication& application) {
        if (change == platform::WorkspaceChange::activated) armTheOwner(application.bundleIdentifier);
    });
    observeTheSessionChanges([] { armTheOwner(platform::desktop().frontApplicationIdentifier()); });
    arm(platform::desktop().frontApplicationIdentifier());
    watchTheRemoteConfiguration();
}

void HotKeyOwner::arm(const std::optional<std::string>& front) {
    refreshTheSession(front);
    const bool yields = yieldsToTheRemote(front);
    for (std::size_t index = 0; index < settings_.declaredHotKeys.size(); ++index) {
        if (isWanted(settings_.declaredHotKeys[index], front, yields)) registerHotKey(index);
        else unregisterHotKey(index);
    }
    publish();
}

bool HotKeyOwner::isWanted(const HotKey& hotKey, const std::optional<std::string>& front, bool yields) const {
    if (!registersNow(hotKey.when, front)) return false;
    return !yields || keepsTheChord(remoteRouteOf(hotKey.key, front));
}

void HotKeyOwner::registerHotKey(std::size_t index) {
    if (statuses_[index] == 0) return;
    const auto chord = chordOf(settings_.declaredHotKeys[index].key, settings_.topLeftKeyCode);
    if (!chord) {
        statuses_[index] = unsupportedHotKeyStatus;
        return;
    }
    const platform::HotKeyId id{hotKeySignature, static_cast<std::uint32_t>(index)};
    const auto registration = platform::desktop().registerHotKey(chord->code, chord->modifiers, id, 0);
    statuses_[index] = registration.status;
    references_[index] = registration.status == 0 ? std::optional(registration.reference) : std::nullopt;
}

// The refusal is the chord's status until an arm that wants it registers it again.
void HotKeyOwner::refused(std::size_t index, std::uint64_t reference, std::int32_t status) {
    if (statuses_[index] != 0 || references_[index] != reference) return;
    references_[index].reset();
    statuses_[index] = status;
    publish();
}

// A chord that failed keeps its status while unwanted, so the failure stays visible.
void HotKeyOwner::unregisterHotKey(std::size_t index) {
    if (statuses_[index] != 0 || !references_[index]) return;
    platform::desktop().unregisterHotKey(*references_[index]);
    references_[index].reset();
    statuses_[index] = unregisteredHotKeyStatus;
}

void HotKeyOwner::publish() {
    Json rows = Json::array();
    for (std::size_t index = 0; index < settings_.declaredHotKeys.size(); ++index) {
        const HotKey& hotKey = settings_.declaredHotKeys[index];
        const auto chord = chordOf(hotKey.key, settings_.topLeftKeyCode);
        rows.push_back({{"key", publishedKey(hotKey.key)},
                        {"action", hotKey.action.value_or(actionOf(hotKey.url))},
                        {"args", Json::array()},
                        {"status", statuses_[index]},
                        {"code", chord ? static_cast<std::int64_t>(chord->code) : -1}});
    }
    const auto text = sortedJson({{"pid", platform::ownPid()}, {"at", clockNow()}, {"rows", std::move(rows)}});
    if (!text) return;
    std::string ignored;
    platform::writeFileAtomically(settings_.activationFile, *text, &ignored);
}

void HotKeyOwner::fire(std::size_t index) {
    if (index >= settings_.declaredHotKeys.size()) return;
    const HotKey& hotKey = settings_.declaredHotKeys[index];
    if (pressedOnTheRemote(hotKey.key)) return;
    yieldToTheChild();
    deliver(hotKey.url, "hotkey");
}

void HotKeyOwner::watchTheRemoteConfiguration() {
    const auto config = remoteConfigFile();
    if (!config) return;
    platform::makePrivateFolders(config->parent_path());
    configWatch_ = std::make_unique<loop::DirectoryWatch>(config->parent_path(), [this](const auto& names) {
        for (const std::string& name : names) {
            if (!isOwnActivationFile(name)) {
                armTheOwner(platform::desktop().frontApplicationIdentifier());
                return;
            }
        }
    });
    if (!configWatch_->watching()) configWatch_.reset();
}

// Publishing into the watched folder must not arm again, or each arm would cause the next.
bool HotKeyOwner::isOwnActivationFile(const std::string& name) const {
    const auto config = remoteConfigFile();
    if (!config || config->parent_path() != settings_.activationFile.parent_path()) return false;
    const std::string own = settings_.activationFile.filename().string();
    return name == own || name.starts_with("." + own + ".");
}

void makeTheHotKeyOwner(HotKeyOwnerSettings settings) {
    auto owner = std::make_unique<HotKeyOwner>(std::move(settings));
    theOwner = std::move(owner);
}

HotKeyOwner* hotKeyOwner() { return theOwner.get(); }

}  // namespace host
