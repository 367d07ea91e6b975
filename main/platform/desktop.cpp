#include "platform/desktop.h"

namespace host::platform {

int cancelButtonOf(const Alert& alert) {
    for (std::size_t i = 0; i < alert.buttons.size(); ++i) {
        if (alert.buttons[i] == "Cancel") return static_cast<int>(i);
    }
    return alert.buttons.empty() ? 0 : static_cast<int>(alert.buttons.size()) - 1;
}

std::optional<RunningApplication> Desktop::runningApplication(std::int32_t pid) const {
    for (auto& application : runningApplications()) {
        if (application.pid == pid) return application;
    }
    return std::nullopt;
}

std::optional<std::string> Desktop::frontApplicationIdentifier() const {
    auto front = frontmostApplication();
    return front ? front->bundleIdentifier : std::nullopt;
}

void Desktop::observeTheWorkspace(std::function<void(WorkspaceChange, const RunningApplication&)> observer) {
    workspaceObservers_.push_back(std::move(observer));
}

void Desktop::observeBecomingActive(std::function<void()> observer) {
    becameActiveObservers_.push_back(std::move(observer));
}

void Desktop::addHotKeyHandler(std::function<bool(HotKeyId)> handler) {
    hotKeyHandlers_.push_back(std::move(handler));
}

void Desktop::addHotKeyRefusalHandler(std::function<bool(HotKeyId, std::uint64_t, std::int32_t)> handler) {
    hotKeyRefusalHandlers_.push_back(std::move(handler));
}

// Observers may add observers; iterate by index over a list that can grow.
void Desktop::tellTheWorkspaceObservers(WorkspaceChange change, const RunningApplication& application) {
    for (std::size_t i = 0; i < workspaceObservers_.size(); ++i) workspaceObservers_[i](change, application);
}

void Desktop::tellTheHostBecameActive() {
    for (std::size_t i = 0; i < becameActiveObservers_.size(); ++i) becameActiveObservers_[i]();
}

bool Desktop::pressHotKey(HotKeyId id) {
    for (std::size_t i = 0; i < hotKeyHandlers_.size(); ++i) {
        if (hotKeyHandlers_[i](id)) return true;
    }
    return false;
}

void Desktop::refuseHotKey(HotKeyId id, std::uint64_t reference, std::int32_t status) {
    for (std::size_t i = 0; i < hotKeyRefusalHandlers_.size(); ++i) {
        if (hotKeyRefusalHandlers_[i](id, reference, status)) return;
    }
}

}  // namespace host::platform
