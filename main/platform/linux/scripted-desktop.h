// The desktop on Linux: a mirror of what a scripted desktop process tells over a socket, and the
// host's own status items, menus, hot keys and badge panel, which it reports back. With no
// desktop connected it is headless: no other application, no windows, one screen, nothing
// pressed, alerts answered with their first button.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/linux/line-channel.h"
#include "support/json.h"

namespace host::platform {

inline constexpr int DESKTOP_PROTOCOL_VERSION = 1;

struct HostIdentity {
    std::int32_t pid = 0;
    std::string identity;
    std::string bundlePath;
};

class ScriptedDesktop : public Desktop {
public:
    explicit ScriptedDesktop(HostIdentity host);
    ~ScriptedDesktop() override;

    // Takes a connected socket, says hello and waits up to `seconds` for the desktop to be
    // ready. False, with the reason, when it is not: the desktop then stays headless.
    bool connect(int fd, double seconds, std::string* why);
    bool connected() const { return channel_ && channel_->open(); }

    std::vector<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    bool isActive() const override;
    void yieldActivation(std::int32_t pid) override;
    bool activate(std::int32_t pid) override;
    void activateIgnoringOtherApps() override;
    ActivationPolicy activationPolicy() const override { return policy_; }
    bool setActivationPolicy(ActivationPolicy policy) override;
    bool openWithTheSystem(const std::string& url) override;
    StatusItem& makeStatusItem() override;
    BadgePanel& badgePanel() override { return badgePanel_; }
    Point mouseLocation() const override { return mouse_; }
    void popUp(Menu& menu, Point location) override;
    HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                      std::uint32_t options) override;
    void unregisterHotKey(std::uint64_t reference) override;
    KeyboardLayout keyboardLayoutType() const override { return layout_; }
    std::vector<OnScreenWindow> onScreenWindows() const override { return windows_; }
    std::vector<Rect> screens() const override { return screens_; }
    int runModal(const Alert& alert) override;
    std::vector<std::string> preferredLanguages() const override { return languages_; }
    void replyToApplicationShouldTerminate(bool terminate) override;
    void modelChanged() override;

private:
    struct Registration {
        std::uint32_t code;
        std::uint32_t modifiers;
        HotKeyId id;
        std::uint32_t options;
    };

    void takeLine(const std::string& line);
    void takeReady(const Json& event);
    void takeEvent(const Json& event);
    bool takeStateEvent(const std::string& name, const Json& event);
    bool takeActionEvent(const std::string& name, const Json& event);
    void takeLaunched(const Json& event);
    void takePidEvent(WorkspaceChange change, const Json& event);
    void takeQuit(const Json& event);
    void takeService(const Json& event);
    void takeOpenMenu(const Json& event);
    void takePick(const Json& event);
    void takeHotKey(const Json& event);
    void takeAlertAnswer(const Json& event);
    MenuItem* itemNamedBy(const Json& event);
    void disconnected();
    void becomeHeadless();
    void send(const Json& state);
    void sendError(const std::string& message);
    void flushChanges();
    void sendIfChanged(const Json& state, std::string& last);
    void postOnce(bool& posted, void (ScriptedDesktop::*work)());
    void postTheDeferredEvents();
    void runDeferredEvents();
    bool deferring() const;

    HostIdentity host_;
    std::unique_ptr<LineChannel> channel_;
    bool handshaking_ = false;
    bool ready_ = false;
    std::string refusal_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);

    // Mirrored from the desktop.
    std::vector<RunningApplication> applications_;
    std::set<std::int32_t> refusingActivation_;
    std::optional<std::int32_t> front_;
    std::vector<OnScreenWindow> windows_;
    std::vector<Rect> screens_;
    Point mouse_;
    KeyboardLayout layout_ = KeyboardLayout::ansi;
    std::vector<std::string> languages_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> takenChords_;
    bool refusesPolicyChanges_ = false;

    // The host's own.
    ActivationPolicy policy_ = ActivationPolicy::regular;
    std::deque<std::unique_ptr<StatusItem>> statusItems_;
    Menu* poppedUp_ = nullptr;
    BadgePanel badgePanel_;
    std::map<std::uint64_t, Registration> hotKeys_;
    std::uint64_t lastHotKeyReference_ = 0;
    std::vector<Json> pendingQuitRequests_;

    // Alerts wait for their answer; desktop events meanwhile wait in order.
    int lastAlert_ = 0;
    std::map<int, std::size_t> openAlerts_;  // id to number of buttons
    std::map<int, int> alertAnswers_;
    std::deque<Json> deferredEvents_;
    bool deferredRunPosted_ = false;

    bool flushPosted_ = false;
    std::string lastStatusItems_;
    std::string lastHotKeys_;
    std::string lastBadge_;
};

}  // namespace host::platform
