#include "menu-bar-app-menu/dock-preference.h"

#include "child/death-log.h"
#include "platform/desktop.h"
#include "platform/process.h"
#include "platform/user-defaults.h"

namespace host {
namespace {

DockSettings settings;

bool showsInTheDock() { return platform::desktop().activationPolicy() == platform::ActivationPolicy::regular; }

}  // namespace

void configureTheDockPreference(DockSettings dockSettings) { settings = std::move(dockSettings); }

bool showInTheDock(bool show) {
    const auto policy = show ? platform::ActivationPolicy::regular : platform::ActivationPolicy::accessory;
    if (platform::desktop().setActivationPolicy(policy)) return true;
    append({{"kind", "dock-preference-refused"}, {"show", show}}, deathLog(platform::ownPid()));
    return false;
}

bool theDockIsChosen() { return platform::UserDefaults(settings.userDefaults).boolValue(dockPreferenceKey); }

void paintTheDockPreference(platform::Menu& root, const std::string& title) {
    for (const auto& item : root.items()) {
        if (!item->submenu()) continue;
        for (const auto& inner : item->submenu()->items()) {
            if (inner->representedObject() != dockPreferenceRow) continue;
            inner->setTitle(showsInTheDock() ? title + " \u2713" : title);
            return;
        }
    }
}

bool pickTheDockPreference(const std::string& id) {
    if (id != dockPreferenceRow) return false;
    if (settings.hosted) return true;
    const bool show = !showsInTheDock();
    if (showInTheDock(show)) platform::UserDefaults(settings.userDefaults).set(dockPreferenceKey, show);
    return true;
}

}  // namespace host
