#include "platform/linux/scripted-desktop.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/descriptors.h"
#include "platform/linux/desktop-json.h"
#include "platform/localized-strings.h"

namespace host::platform {
namespace {

const Rect HEADLESS_SCREEN{0, 0, 1440, 900};

std::vector<std::string> languagesOfTheEnvironment() {
    return preferredLanguagesOf([](const char* name) { return std::getenv(name); });
}

std::string bundleNameOf(const std::string& bundlePath) {
    std::string name = bundlePath.substr(bundlePath.find_last_of('/') + 1);
    if (name.ends_with(".app")) name.resize(name.size() - 4);
    return name;
}

}  // namespace

ScriptedDesktop::ScriptedDesktop(HostIdentity host) : host_(std::move(host)) { becomeHeadless(); }

ScriptedDesktop::~ScriptedDesktop() { *alive_ = false; }

void ScriptedDesktop::becomeHeadless() {
    applications_.clear();
    refusingActivation_.clear();
    front_.reset();
    windows_.clear();
    screens_ = {HEADLESS_SCREEN};
    mouse_ = {};
    layout_ = KeyboardLayout::ansi;
    languages_ = languagesOfTheEnvironment();
    takenChords_.clear();
    refusesPolicyChanges_ = false;
    deferredEvents_.clear();
}

bool ScriptedDesktop::connect(int fd, double seconds, std::string* why) {
    channel_ = std::make_unique<LineChannel>(fd);
    channel_->start([this](const std::string& line) { takeLine(line); },
                    [this] { sendError("line longer than 1 MiB dropped"); }, [this] { disconnected(); });
    handshaking_ = true;
    send({{"state", "hello"},
          {"version", DESKTOP_PROTOCOL_VERSION},
          {"pid", host_.pid},
          {"identity", host_.identity},
          {"bundlePath", host_.bundlePath}});
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!ready_ && connected()) {
        const std::chrono::duration<double> left = deadline - Clock::now();
        if (left.count() <= 0) break;
        channel_->readBlocking(left.count());
    }
    handshaking_ = false;
    if (ready_ && connected()) {
        if (!deferredEvents_.empty()) postTheDeferredEvents();
        return true;
    }
    if (why) *why = refusal_.empty() ? (connected() ? "the desktop was not ready in time" : "the desktop closed the connection") : refusal_;
    channel_->close();
    becomeHeadless();
    return false;
}

void ScriptedDesktop::disconnected() {
    if (!handshaking_) say("desktop unavailable: the desktop closed the connection\n");
    becomeHeadless();
}

void ScriptedDesktop::send(const Json& state) {
    if (!connected()) return;
    channel_->send(state.dump(-1, ' ', false, Json::error_handler_t::replace));
}

void ScriptedDesktop::sendError(const std::string& message) { send({{"state", "error"}, {"message", message}}); }

// Applications

std::vector<RunningApplication> ScriptedDesktop::runningApplications() const {
    std::vector<RunningApplication> all = applications_;
    for (const auto& application : all) {
        if (application.pid == host_.pid) return all;
    }
    all.push_back(RunningApplication{host_.pid, host_.identity, bundleNameOf(host_.bundlePath), host_.bundlePath, policy_});
    return all;
}

std::optional<RunningApplication> ScriptedDesktop::frontmostApplication() const {
    return front_ ? runningApplication(*front_) : std::nullopt;
}

bool ScriptedDesktop::isActive() const { return front_ == host_.pid; }

void ScriptedDesktop::yieldActivation(std::int32_t pid) { send({{"state", "yield"}, {"pid", pid}}); }

bool ScriptedDesktop::activate(std::int32_t pid) {
    const bool accepted = runningApplication(pid).has_value() && !refusingActivation_.contains(pid);
    send({{"state", "activate"}, {"pid", pid}, {"accepted", accepted}, {"ignoringOtherApps", false}});
    return accepted;
}

void ScriptedDesktop::activateIgnoringOtherApps() {
    send({{"state", "activate"}, {"pid", host_.pid}, {"accepted", true}, {"ignoringOtherApps", true}});
}

bool ScriptedDesktop::setActivationPolicy(ActivationPolicy policy) {
    const bool accepted = !refusesPolicyChanges_;
    if (accepted) policy_ = policy;
    send({{"state", "activation-policy"}, {"policy", policyName(policy)}, {"accepted", accepted}});
    return accepted;
}

bool ScriptedDesktop::openWithTheSystem(const std::string& url) {
    if (!connected()) return false;
    send({{"state", "open-url"}, {"url", url}});
    return true;
}

// The host's model

StatusItem& ScriptedDesktop::makeStatusItem() {
    statusItems_.push_back(std::make_unique<StatusItem>(static_cast<int>(statusItems_.size()) + 1));
    modelChanged();
    return *statusItems_.back();
}

void ScriptedDesktop::popUp(Menu& menu, Point location) {
    poppedUp_ = &menu;
    openTheMenu(menu);
    flushChanges();
    send({{"state", "pop-up"}, {"x", location.x}, {"y", location.y}, {"menu", menuJson(menu)}});
}

HotKeyRegistration ScriptedDesktop::registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                                   std::uint32_t options) {
    const std::pair<std::uint32_t, std::uint32_t> chord{code, modifiers};
    bool taken = std::find(takenChords_.begin(), takenChords_.end(), chord) != takenChords_.end();
    for (const auto& [reference, registration] : hotKeys_) {
        taken = taken || (registration.code == code && registration.modifiers == modifiers);
    }
    if (taken) return {HOT_KEY_EXISTS_STATUS, 0};
    const std::uint64_t reference = ++lastHotKeyReference_;
    hotKeys_[reference] = Registration{code, modifiers, id, options};
    modelChanged();
    return {0, reference};
}

void ScriptedDesktop::unregisterHotKey(std::uint64_t reference) {
    if (hotKeys_.erase(reference) > 0) modelChanged();
}

void ScriptedDesktop::modelChanged() {
    if (connected()) postOnce(flushPosted_, &ScriptedDesktop::flushChanges);
}

// One queued run of `work` however often it is asked for before it runs; none after the
// desktop is gone.
void ScriptedDesktop::postOnce(bool& posted, void (ScriptedDesktop::*work)()) {
    if (posted) return;
    posted = true;
    std::weak_ptr<bool> alive = alive_;
    loop::postToTheMainQueue([this, alive, work] {
        if (auto still = alive.lock(); still && *still) (this->*work)();
    });
}

// Sends what changed since the last flush, one line per kind.
void ScriptedDesktop::flushChanges() {
    flushPosted_ = false;
    if (!connected()) return;
    Json items = Json::array();
    for (const auto& item : statusItems_) items.push_back(statusItemJson(*item));
    sendIfChanged({{"state", "status-items"}, {"items", std::move(items)}}, lastStatusItems_);
    Json registered = Json::array();
    for (const auto& [reference, registration] : hotKeys_) {
        registered.push_back({{"code", registration.code},
                              {"modifiers", registration.modifiers},
                              {"signature", fourCharacterText(registration.id.signature)},
                              {"id", registration.id.id},
                              {"options", registration.options}});
    }
    sendIfChanged({{"state", "hot-keys"}, {"registered", std::move(registered)}}, lastHotKeys_);
    sendIfChanged(badgePanelJson(badgePanel_), lastBadge_);
}

void ScriptedDesktop::sendIfChanged(const Json& state, std::string& last) {
    std::string line = state.dump(-1, ' ', false, Json::error_handler_t::replace);
    if (line == last) return;
    last = line;
    channel_->send(std::move(line));
}

// Alerts and quit replies

int ScriptedDesktop::runModal(const Alert& alert) {
    if (!connected() || alert.buttons.empty()) return 0;
    const int id = ++lastAlert_;
    openAlerts_[id] = alert.buttons.size();
    flushChanges();
    send({{"state", "alert"},
          {"alert", id},
          {"message", alert.message},
          {"informative", alert.informativeText},
          {"buttons", alert.buttons}});
    loop::runTheLoopUntil([&] {
        if (connected()) channel_->dispatchPending();
        return alertAnswers_.contains(id) || !connected();
    });
    const int answer = alertAnswers_.contains(id) ? alertAnswers_[id] : 0;
    alertAnswers_.erase(id);
    openAlerts_.erase(id);
    if (openAlerts_.empty() && !deferredEvents_.empty()) postTheDeferredEvents();
    return answer;
}

void ScriptedDesktop::replyToApplicationShouldTerminate(bool terminate) {
    for (const Json& request : pendingQuitRequests_) {
        send({{"state", "quit-reply"}, {"request", request}, {"answer", terminate ? "terminate" : "cancel"}});
    }
    pendingQuitRequests_.clear();
}

}  // namespace host::platform
