#include "links/focus-return.h"

#include <algorithm>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "platform/process.h"
#include "support/clock.h"

namespace host {
namespace {

Json identifierOf(const std::optional<platform::RunningApplication>& application) {
    if (!application || !application->bundleIdentifier) return nullptr;
    return *application->bundleIdentifier;
}

bool hasNotTerminated(const platform::RunningApplication& application) {
    return platform::desktop().runningApplication(application.pid).has_value();
}

// Cooperative activation: the host yields to the target, then asks it to activate.
bool handTheFocusTo(const platform::RunningApplication& application) {
    platform::Desktop& desktop = platform::desktop();
    desktop.yieldActivation(application.pid);
    return desktop.activate(application.pid);
}

std::optional<platform::RunningApplication> theShellsApplication() {
    if (!shellIsRunning()) return std::nullopt;
    return platform::desktop().runningApplication(*shellPid());
}

std::unique_ptr<FocusReturn>& theFocusReturn() {
    static std::unique_ptr<FocusReturn> instance;
    return instance;
}

}  // namespace

FocusReturn::FocusReturn(std::filesystem::path linkLog)
    : linkLog_(std::move(linkLog)), self_(std::make_shared<FocusReturn*>(this)) {
    std::weak_ptr<FocusReturn*> weak = self_;
    platform::Desktop& desktop = platform::desktop();
    desktop.observeTheWorkspace([weak](platform::WorkspaceChange change, const platform::RunningApplication& application) {
        auto self = weak.lock();
        if (!self) return;
        if (change == platform::WorkspaceChange::activated) (*self)->otherActivated(application);
        if (change == platform::WorkspaceChange::terminated) (*self)->otherEnded(application);
    });
    desktop.observeBecomingActive([weak] {
        if (auto self = weak.lock()) (*self)->becameActive();
    });
}

void FocusReturn::linkArrived(const std::string& url) {
    owed = true;
    link = url;
    answered = false;
    if (!platform::desktop().isActive()) return;  // the host becoming active decides
    if (childReplies) yieldToTheChild();  // and wait for the reply
    else giveBack();
}

void FocusReturn::replied(const std::string& url, const std::optional<std::string>& focus,
                          std::optional<std::int32_t> panel) {
    if (!childReplies || !owed || url != link) return;
    answered = true;
    const bool active = platform::desktop().isActive();
    if (focus != PANEL_FOCUS) {
        if (active) giveBack();
        return;
    }
    owed = false;
    panelHeld = panel;
    std::optional<platform::RunningApplication> target;
    if (panel) target = platform::desktop().runningApplication(*panel);
    if (!target) target = theShellsApplication();
    Json activated = nullptr;
    if (active && target) activated = handTheFocusTo(*target);
    write({{"focus", "kept"}, {"link", link}, {"activated", activated}, {"launcher", platform::ownPid()}});
}

void FocusReturn::giveBack() {
    owed = false;
    if (!previous || !hasNotTerminated(*previous)) return;
    const bool accepted = handTheFocusTo(*previous);
    write({{"focus", accepted ? "returned" : "refused"},
           {"link", link},
           {"to", identifierOf(previous)},
           {"pid", previous->pid},
           {"launcher", platform::ownPid()}});
}

bool FocusReturn::isAWindowlessAccessory(const platform::RunningApplication& application) const {
    if (application.policy == platform::ActivationPolicy::regular) return false;
    const platform::Desktop& desktop = platform::desktop();
    const int statusLevel = desktop.statusWindowLevel();
    auto windows = desktop.onScreenWindows();
    return std::none_of(windows.begin(), windows.end(), [&](const platform::OnScreenWindow& window) {
        return window.ownerPid == application.pid && window.layer < statusLevel;
    });
}

void FocusReturn::otherActivated(const platform::RunningApplication& application) {
    if (application.pid == platform::ownPid() || isAWindowlessAccessory(application)) return;
    previous = application;
    owed = false;
    panelHeld.reset();
}

void FocusReturn::otherEnded(const platform::RunningApplication& application) {
    if (panelHeld != application.pid) return;
    panelHeld.reset();
    if (platform::desktop().isActive()) giveBack();
}

void FocusReturn::becameActive() {
    write({{"focus", "launcher-active"},
           {"owed", owed},
           {"childReplies", childReplies},
           {"answered", answered},
           {"link", link},
           {"previous", identifierOf(previous)},
           {"launcher", platform::ownPid()}});
    if (!owed) return;
    if (childReplies && !answered) yieldToTheChild();
    else giveBack();
}

void FocusReturn::write(Json record) const {
    record["at"] = clockNow();
    append(std::move(record), linkLog_);
}

FocusReturn& focusReturn() {
    if (!theFocusReturn()) theFocusReturn() = std::make_unique<FocusReturn>(std::filesystem::path());
    return *theFocusReturn();
}

void makeTheFocusReturn(std::filesystem::path linkLog) {
    theFocusReturn() = std::make_unique<FocusReturn>(std::move(linkLog));
}

}  // namespace host
