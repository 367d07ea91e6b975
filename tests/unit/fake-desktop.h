// A desktop held in memory for unit tests: applications, the front one, windows and screens,
// and a list of the activations the host asked for. Installed for one test's lifetime.
#pragma once

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/process.h"

namespace testing_support {

using host::platform::RunningApplication;

class FakeDesktop : public host::platform::Desktop {
public:
    std::vector<RunningApplication> applications;
    std::optional<std::int32_t> front;
    std::vector<host::platform::OnScreenWindow> windows;
    std::vector<host::platform::Rect> screenFrames{{0, 0, 1440, 900}};  // the primary first
    int windowLevel = 25;                      // the status window level
    std::set<std::int32_t> refusing;           // pids that refuse to activate
    std::vector<std::string> activations;      // "yield <pid>", "activate <pid>"
    std::vector<std::string> openedBySystem;
    std::vector<host::platform::Alert> alerts;  // shown, each answered with its first button

    static std::int32_t hostPid() { return host::platform::ownPid(); }

    // A workspace change as the desktop would announce it.
    void launch(RunningApplication application) {
        applications.push_back(application);
        tellTheWorkspaceObservers(host::platform::WorkspaceChange::launched, application);
    }
    void bringToFront(std::int32_t pid) {
        front = pid;
        if (auto application = runningApplication(pid)) {
            tellTheWorkspaceObservers(host::platform::WorkspaceChange::activated, *application);
        }
        if (pid == hostPid()) tellTheHostBecameActive();
    }
    // Hidden, unhidden: the state changes only in the notification.
    void announce(host::platform::WorkspaceChange change, std::int32_t pid) {
        if (auto application = runningApplication(pid)) tellTheWorkspaceObservers(change, *application);
    }
    void terminate(std::int32_t pid) {
        auto application = runningApplication(pid);
        std::erase_if(applications, [&](const RunningApplication& known) { return known.pid == pid; });
        if (front == pid) front.reset();
        if (application) tellTheWorkspaceObservers(host::platform::WorkspaceChange::terminated, *application);
    }

    std::vector<RunningApplication> runningApplications() const override {
        auto all = applications;
        all.push_back(RunningApplication{hostPid(), "app.example.demo", "Demo", "/Apps/Demo.app",
                                         host::platform::ActivationPolicy::accessory});
        return all;
    }
    std::optional<RunningApplication> frontmostApplication() const override {
        return front ? runningApplication(*front) : std::nullopt;
    }
    bool isActive() const override { return front == hostPid(); }
    void yieldActivation(std::int32_t pid) override { activations.push_back("yield " + std::to_string(pid)); }
    bool activate(std::int32_t pid) override {
        activations.push_back("activate " + std::to_string(pid));
        return runningApplication(pid).has_value() && !refusing.contains(pid);
    }
    void activateIgnoringOtherApps() override {}
    host::platform::ActivationPolicy activationPolicy() const override { return host::platform::ActivationPolicy::accessory; }
    bool setActivationPolicy(host::platform::ActivationPolicy) override { return true; }
    bool openWithTheSystem(const std::string& url) override {
        openedBySystem.push_back(url);
        return true;
    }
    host::platform::StatusItem& makeStatusItem() override {
        statusItems_.push_back(std::make_unique<host::platform::StatusItem>(static_cast<int>(statusItems_.size()) + 1));
        return *statusItems_.back();
    }
    host::platform::BadgePanel& badgePanel() override { return badgePanel_; }
    host::platform::Point mouseLocation() const override { return {}; }
    void popUp(host::platform::Menu&, host::platform::Point) override {}
    host::platform::HotKeyRegistration registerHotKey(std::uint32_t, std::uint32_t, host::platform::HotKeyId, std::uint32_t) override {
        return {0, 1};
    }
    void unregisterHotKey(std::uint64_t) override {}
    host::platform::KeyboardLayout keyboardLayoutType() const override { return host::platform::KeyboardLayout::ansi; }
    std::vector<host::platform::OnScreenWindow> onScreenWindows() const override { return windows; }
    int statusWindowLevel() const override { return windowLevel; }
    std::vector<host::platform::Rect> screens() const override { return screenFrames; }
    int runModal(const host::platform::Alert& alert) override {
        alerts.push_back(alert);
        return 0;
    }
    std::vector<std::string> preferredLanguages() const override { return {}; }
    void replyToApplicationShouldTerminate(bool) override {}

private:
    std::vector<std::unique_ptr<host::platform::StatusItem>> statusItems_;
    host::platform::BadgePanel badgePanel_;
};

// Puts a fake desktop in use and gives the previous one back when it goes.
class InstalledFakeDesktop {
public:
    InstalledFakeDesktop() {
        auto made = std::make_unique<FakeDesktop>();
        fake_ = made.get();
        previous_ = host::platform::useTheDesktop(std::move(made));
    }
    ~InstalledFakeDesktop() { host::platform::useTheDesktop(std::move(previous_)); }
    InstalledFakeDesktop(const InstalledFakeDesktop&) = delete;
    InstalledFakeDesktop& operator=(const InstalledFakeDesktop&) = delete;

    FakeDesktop& operator*() const { return *fake_; }
    FakeDesktop* operator->() const { return fake_; }

private:
    FakeDesktop* fake_;
    std::unique_ptr<host::platform::Desktop> previous_;
};

inline RunningApplication application(std::int32_t pid, const std::string& bundle,
                                      host::platform::ActivationPolicy policy = host::platform::ActivationPolicy::regular) {
    return RunningApplication{pid, bundle, bundle, std::nullopt, policy};
}

}  // namespace testing_support
