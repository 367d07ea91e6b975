#include "updates/updater.h"

#include <algorithm>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "panels/views-entry-points.h"
#include "platform/desktop.h"
#include "platform/process.h"
#include "platform/user-defaults.h"
#include "support/text.h"
#include "updates/update-rows.h"

namespace host {
namespace {

UpdateSettings settings;
bool started = false;

void record(Json fields) { append(std::move(fields), deathLog(platform::ownPid())); }

// The entry point as its C signature; null when the library or the symbol is missing.
template <typename Signature>
Signature entryOf(const char* symbol, std::string* error = nullptr) {
    std::string ignored;
    platform::LibraryEntry found = settings.entry ? settings.entry(symbol, error ? error : &ignored) : nullptr;
    return reinterpret_cast<Signature>(found);
}

const UpdateChoice* channelOf(const std::string& id) {
    if (!settings.updateChoices) return nullptr;
    const auto& rows = settings.updateChoices->rows;
    auto found = std::find_if(rows.begin(), rows.end(), [&](const UpdateChoice& row) { return row.id == id; });
    return found == rows.end() ? nullptr : &*found;
}

void showTheAlert(const std::string& message, const std::string& informative) {
    platform::Desktop& desktop = platform::desktop();
    desktop.activateIgnoringOtherApps();
    desktop.runModal({message, informative, {updateTexts(settings.speaksTurkish).ok}});
}

std::int32_t setTheUpdateFeed(const std::string& feed) {
    auto setFeed = entryOf<ViewsSetUpdateFeed>("wickerly_set_update_feed");
    return setFeed ? setFeed(feed.c_str()) : -1;
}

void switchToTheChannel(const UpdateChoice& channel) {
    if (!settings.updateFeed || selectedUpdateFeed() == channel.feed) return;
    const UpdateTexts& texts = updateTexts(settings.speaksTurkish);
    if (waitingUpdate(1)) return showTheAlert(texts.updateWaiting, texts.finishTheUpdateFirst);
    const std::int32_t code = setTheUpdateFeed(channel.feed);
    if (code == 0) {
        platform::UserDefaults(settings.userDefaults).set(settings.updateChoices->key, channel.choice);
        tellTheChild({{"opened", true}});
        return;
    }
    record({{"kind", "update-channel-change-failed"}, {"choice", channel.choice}, {"code", code}});
    showTheAlert(texts.channelSwitchFailed, "");
}

}  // namespace

std::optional<std::string> updateFeedOf(const Json& info, bool frozen) {
    const std::string* feed = frozen ? stringMember(info, updateFeedKey) : nullptr;
    return feed && !feed->empty() ? std::optional<std::string>(*feed) : std::nullopt;
}

bool speaksTurkishIn(const std::vector<std::string>& preferredLanguages) {
    return !preferredLanguages.empty() && preferredLanguages.front().starts_with("tr");
}

void configureTheUpdates(UpdateSettings newSettings) {
    settings = std::move(newSettings);
    started = false;
}

bool hasAnUpdateFeed() { return settings.updateFeed.has_value(); }
bool updaterStarted() { return started; }
bool speaksTurkish() { return settings.speaksTurkish; }
const std::optional<MenuAttribution>& menuAttribution() { return settings.menuAttribution; }

std::optional<std::string> selectedUpdateFeed() {
    if (!settings.updateFeed) return std::nullopt;
    if (settings.updateChoices) {
        auto stored = platform::UserDefaults(settings.userDefaults).value(settings.updateChoices->key);
        if (stored && stored->is_string()) {
            for (const UpdateChoice& row : settings.updateChoices->rows) {
                if (row.choice == stored->get<std::string>()) return row.feed;
            }
        }
    }
    return settings.updateFeed;
}

void startTheUpdaterOfTheFeed() {
    if (started) return;
    auto feed = selectedUpdateFeed();
    if (!feed) return;
    std::string error;
    auto start = entryOf<ViewsStartUpdater>("wickerly_start_updater", &error);
    if (!start) {
        record({{"kind", "updater-failed"}, {"why", "symbol-missing"}, {"views", settings.viewsPath}, {"error", error}});
        return;
    }
    const std::int32_t code = start(feed->c_str());
    started = code == 0;
    record({{"kind", started ? "updater-started" : "updater-failed"}, {"code", code}, {"feed", *feed},
            {"build", settings.build}});
}

void checkForUpdatesFromTheMenu(const std::string& from) {
    auto check = entryOf<ViewsCheckForUpdates>("wickerly_check_for_updates");
    if (!check) return;
    record({{"kind", "update-check"}, {"code", check()}, {"from", from}});
}

void checkForUpdatesFromTheShell() {
    if (!settings.updateFeed || !started) {
        record({{"kind", "update-check-ignored"}, {"from", "shell"},
                {"feed", settings.updateFeed ? Json(*settings.updateFeed) : Json(nullptr)}, {"started", started}});
        return;
    }
    platform::Desktop& desktop = platform::desktop();
    if (desktop.activationPolicy() == platform::ActivationPolicy::prohibited) {
        desktop.setActivationPolicy(platform::ActivationPolicy::accessory);
    }
    desktop.activateIgnoringOtherApps();
    checkForUpdatesFromTheMenu("shell");
}

std::optional<std::string> waitingUpdate(std::int32_t capacity) {
    auto waiting = entryOf<ViewsWaitingUpdate>("wickerly_waiting_update");
    if (!waiting || capacity <= 0) return std::nullopt;
    std::string buffer(static_cast<std::size_t>(capacity), '\0');
    const std::int32_t length = waiting(buffer.data(), capacity);
    if (length < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(std::min(length, capacity)));
    return withInvalidUTF8Repaired(buffer);
}

bool pickedTheUpdaterRow(const std::string& id) {
    if (const UpdateChoice* channel = channelOf(id)) {
        switchToTheChannel(*channel);
        return true;
    }
    if (id == checkForUpdatesRow || id == restartToUpdateRow) {
        checkForUpdatesFromTheMenu(id == restartToUpdateRow ? "restart-to-update" : "menu");
        return true;
    }
    if (settings.updateFeed && settings.menuAttribution && id == settings.menuAttribution->id) {
        platform::desktop().openWithTheSystem(settings.menuAttribution->url);
        return true;
    }
    return false;
}

}  // namespace host
