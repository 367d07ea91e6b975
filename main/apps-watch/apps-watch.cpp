#include "apps-watch/apps-watch.h"

#include "child/messages-to-the-child.h"
#include "platform/desktop.h"
#include "support/event-loop.h"

namespace host {
namespace {

// Launches, quits, activations, hides and unhides: each changes the apps or their state.
bool changesTheApps(platform::WorkspaceChange change) {
    switch (change) {
    case platform::WorkspaceChange::launched:
    case platform::WorkspaceChange::terminated:
    case platform::WorkspaceChange::activated:
    case platform::WorkspaceChange::hidden:
    case platform::WorkspaceChange::unhidden: return true;
    }
    return false;
}

Json applicationRow(const platform::RunningApplication& application, std::int32_t front) {
    const std::string& bundle = *application.bundleIdentifier;
    return {{"bundle", bundle},
            {"name", application.localizedName.value_or(bundle)},
            {"path", application.bundlePath.value_or("")},
            {"pid", application.pid},
            {"policy", static_cast<int>(application.policy)},
            {"active", application.pid == front}};
}

std::unique_ptr<AppsWatch>& theAppsWatch() {
    static std::unique_ptr<AppsWatch> instance;
    return instance;
}

}  // namespace

Json appsSnapshot() {
    const platform::Desktop& desktop = platform::desktop();
    const auto frontmost = desktop.frontmostApplication();
    const std::int32_t front = frontmost ? frontmost->pid : -1;
    Json apps = Json::array();
    // The shell tells applications apart by bundle identifier; one without cannot be named.
    for (const auto& application : desktop.runningApplications()) {
        if (application.bundleIdentifier) apps.push_back(applicationRow(application, front));
    }
    Json windows = Json::array();
    for (const auto& window : desktop.onScreenWindows()) windows.push_back({window.ownerPid, window.layer});
    return {{"apps", std::move(apps)}, {"windows", std::move(windows)}};
}

AppsWatch::AppsWatch(Tell tell) : tell_(std::move(tell)), self_(std::make_shared<AppsWatch*>(this)) {}

void AppsWatch::start() {
    if (!watching) {
        watching = true;
        std::weak_ptr<AppsWatch*> weak = self_;
        platform::desktop().observeTheWorkspace([weak](platform::WorkspaceChange change,
                                                       const platform::RunningApplication&) {
            auto self = weak.lock();
            if (self && changesTheApps(change)) (*self)->soon();
        });
    }
    send();
}

// The flag, not a timer, folds a burst: everything handled before the queued work runs is
// in the one snapshot it takes.
void AppsWatch::soon() {
    if (owed) return;
    owed = true;
    std::weak_ptr<AppsWatch*> weak = self_;
    loop::postToTheMainQueue([weak] {
        auto self = weak.lock();
        if (!self) return;
        (*self)->owed = false;
        (*self)->send();
    });
}

void AppsWatch::send() {
    if (tell_) tell_(appsSnapshot());
}

AppsWatch& appsWatch() {
    if (!theAppsWatch()) makeTheAppsWatch();
    return *theAppsWatch();
}

void makeTheAppsWatch() { theAppsWatch() = std::make_unique<AppsWatch>(tellTheChild); }

}  // namespace host
