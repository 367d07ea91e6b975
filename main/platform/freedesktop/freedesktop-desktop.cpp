#include "platform/freedesktop/freedesktop-desktop.h"

#include <cstdlib>

#include "platform/descriptors.h"
#include "platform/freedesktop/application-object.h"
#include "platform/freedesktop/bus.h"
#include "platform/freedesktop/dbusmenu.h"
#include "platform/freedesktop/logind.h"
#include "platform/freedesktop/notifications.h"
#include "platform/freedesktop/status-notifier-item.h"
#include "platform/localized-strings.h"
#include "support/event-loop.h"

namespace host::platform {
namespace {

constexpr const char* MENU_PATH = "/MenuBar";
constexpr const char* SHUT_DOWN_REASON = "shut";

bool isFileURI(const std::string& uri) { return uri.starts_with("file:"); }

}  // namespace

struct FreedesktopDesktop::BusConnection {
    bus::Connection connection;
};

struct FreedesktopDesktop::Shown {
    std::unique_ptr<StatusItem> item;
    std::unique_ptr<DbusmenuExporter> menu;
    std::unique_ptr<StatusNotifierItem> notifier;
};

struct FreedesktopDesktop::BadgeLook {
    bool visible = false;
    std::string text;
    Rect frame;
    int level = 0;
    friend bool operator==(const BadgeLook&, const BadgeLook&) = default;
};

FreedesktopDesktop::FreedesktopDesktop(FreedesktopHost host, const std::string& sessionBus,
                                       std::unique_ptr<WindowSystem> windows)
    : host_(std::move(host)),
      bus_(std::make_unique<BusConnection>()),
      windows_(windows ? std::move(windows) : headlessWindowSystem()) {
    if (sessionBus.empty()) sessionBusFailure_ = "DBUS_SESSION_BUS_ADDRESS is not set";
    else bus_->connection = bus::connectedTo(sessionBus, &sessionBusFailure_);
    if (bus_->connection && !host_.identity.empty()) {
        notifications_ = std::make_unique<Notifications>(bus_->connection.get(), host_.name, host_.identity);
    }
    listenToTheWindowSystem();
}

void FreedesktopDesktop::listenForShutdowns() {
    if (logind_ || host_.identity.empty()) return;
    logind_ = std::make_unique<Logind>(host_.name, [this] {
        perform([this] { quit(CurrentEvent{std::nullopt, SHUT_DOWN_REASON}); });
    });
}

FreedesktopDesktop::~FreedesktopDesktop() { *alive_ = false; }

bool FreedesktopDesktop::onTheSessionBus() const { return bus_->connection != nullptr; }

void FreedesktopDesktop::listenToTheWindowSystem() {
    WindowSystemEvents events;
    events.workspaceChanged = [this](WorkspaceChange change, const RunningApplication& application) {
        tellTheWorkspaceObservers(change, application.pid == host_.pid ? theHost() : application);
    };
    events.hostBecameActive = [this] { tellTheHostBecameActive(); };
    events.hotKeyPressed = [this](HotKeyId id) { return pressHotKey(id); };
    events.hotKeyRefused = [this](HotKeyId id, std::uint64_t reference, std::int32_t status) {
        refuseHotKey(id, reference, status);
    };
    events.displayReconfigured = [this](std::uint32_t flags) {
        if (handlers().displayReconfigured) handlers().displayReconfigured(flags);
    };
    events.lost = [this](const std::string& why) { windowSystemLost(why); };
    windows_->setEvents(std::move(events));
}

// The window system answers as the headless one from now on. Replacing it would hand out hot-key
// references that the owners may still hold for the lost grabs.
void FreedesktopDesktop::windowSystemLost(const std::string& why) {
    say("desktop: the window system is gone (" + why + "); carrying on without it\n");
}

// The application's bus name and the other instance

bool FreedesktopDesktop::ownTheApplicationName() {
    if (!bus_->connection || host_.identity.empty() || application_) return true;
    ApplicationRequests requests;
    requests.activate = [this](std::optional<std::int32_t>) {
        perform([this] {
            if (handlers().reopen) handlers().reopen();
        });
    };
    requests.open = [this](const std::vector<std::string>& uris, std::optional<std::int32_t> sender) {
        perform([this, uris, sender] { open(uris, sender); });
    };
    // The desktop entry's Quit: the user's own quit, so it is confirmed first.
    requests.quit = [this](std::optional<std::int32_t>) { perform([this] { quit(std::nullopt); }); };
    application_ = std::make_unique<ApplicationObject>(bus_->connection.get(), host_.identity, std::move(requests));
    switch (application_->standing()) {
        case ApplicationObject::Standing::owner: return true;
        case ApplicationObject::Standing::anotherRuns: return false;
        case ApplicationObject::Standing::failed: break;
    }
    say("desktop: the application's bus name is not ours (" + application_->failure() + ")\n");
    return true;
}

bool FreedesktopDesktop::handOver(const std::vector<std::string>& uris, std::string* why) {
    if (!bus_->connection) return *why = sessionBusFailure_, false;
    return handToTheRunningInstance(bus_->connection.get(), host_.identity, uris, why);
}

// URLs of other schemes than files are the get-URL request, files an open request, in order.
void FreedesktopDesktop::open(const std::vector<std::string>& uris, std::optional<std::int32_t> sender) {
    const CurrentEvent event{sender, std::nullopt};
    std::vector<std::string> batch;
    auto openTheBatch = [&] {
        if (!batch.empty() && handlers().openURLs) handlers().openURLs(batch, event);
        batch.clear();
    };
    for (const std::string& uri : uris) {
        if (isFileURI(uri) || !handlers().getURL) {
            batch.push_back(uri);
            continue;
        }
        openTheBatch();
        handlers().getURL(uri, event);
    }
    openTheBatch();
}

// Without a delegate the application ends at once, as the platform's would.
void FreedesktopDesktop::quit(const std::optional<CurrentEvent>& event) {
    TerminateReply reply = TerminateReply::now;
    if (handlers().shouldTerminate) reply = handlers().shouldTerminate(event);
    if (reply == TerminateReply::now) exitNow(0);
}

void FreedesktopDesktop::perform(std::function<void()> work) {
    if (alertsOpen_ > 0) {
        waitingForTheAlert_.push_back(std::move(work));
        return;
    }
    std::weak_ptr<bool> alive = alive_;
    loop::postToTheMainQueue([alive, work = std::move(work)] {
        if (auto still = alive.lock(); still && *still) work();
    });
}

// Applications, activation and the window system's answers

// The window system knows the host by its windows alone; the host is its bundle.
RunningApplication FreedesktopDesktop::theHost() const {
    return RunningApplication{host_.pid, host_.identity, host_.name, host_.bundlePath, policy_};
}

std::vector<RunningApplication> FreedesktopDesktop::runningApplications() const {
    std::vector<RunningApplication> all = windows_->runningApplications();
    for (auto& application : all) {
        if (application.pid != host_.pid) continue;
        application = theHost();
        return all;
    }
    all.push_back(theHost());
    return all;
}

std::optional<RunningApplication> FreedesktopDesktop::frontmostApplication() const {
    auto front = windows_->frontmostPid();
    return front ? runningApplication(*front) : std::nullopt;
}

bool FreedesktopDesktop::isActive() const { return windows_->frontmostPid() == host_.pid; }
void FreedesktopDesktop::yieldActivation(std::int32_t pid) { windows_->yieldActivation(pid); }
bool FreedesktopDesktop::activate(std::int32_t pid) { return windows_->activate(pid); }
void FreedesktopDesktop::activateIgnoringOtherApps() { windows_->activateTheHost(); }

bool FreedesktopDesktop::setActivationPolicy(ActivationPolicy policy) {
    policy_ = policy;
    return true;
}

bool FreedesktopDesktop::openWithTheSystem(const std::string& url) {
    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) return true;
    g_clear_error(&error);
    return false;
}

Point FreedesktopDesktop::mouseLocation() const { return windows_->mouseLocation(); }

void FreedesktopDesktop::popUp(Menu& menu, Point) { openTheMenu(menu); }

HotKeyRegistration FreedesktopDesktop::registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                                      std::uint32_t options) {
    return windows_->registerHotKey(code, modifiers, id, options);
}

void FreedesktopDesktop::unregisterHotKey(std::uint64_t reference) { windows_->unregisterHotKey(reference); }
KeyboardLayout FreedesktopDesktop::keyboardLayoutType() const { return windows_->keyboardLayoutType(); }
std::vector<OnScreenWindow> FreedesktopDesktop::onScreenWindows() const { return windows_->onScreenWindows(); }
int FreedesktopDesktop::statusWindowLevel() const { return windows_->statusWindowLevel(); }
std::vector<Rect> FreedesktopDesktop::screens() const { return windows_->screens(); }

std::vector<std::string> FreedesktopDesktop::preferredLanguages() const {
    return preferredLanguagesOf([](const char* name) { return std::getenv(name); });
}

// Status items, menus and the badge panel

StatusItem& FreedesktopDesktop::makeStatusItem() {
    const int number = static_cast<int>(statusItems_.size()) + 1;
    auto shown = std::make_unique<Shown>();
    shown->item = std::make_unique<StatusItem>(number);
    if (bus_->connection && !host_.identity.empty()) {
        StatusItem* item = shown->item.get();
        const std::string menuPath = number == 1 ? MENU_PATH : std::string(MENU_PATH) + "/" + std::to_string(number);
        DbusmenuExporter::Hooks hooks{[item] { return item->menu(); },
                                      [this](DbusmenuExporter::Work work) { perform(std::move(work)); }};
        shown->menu = std::make_unique<DbusmenuExporter>(bus_->connection.get(), menuPath, std::move(hooks));
        // A click on the item opens its menu, as on any status bar.
        auto clicked = [this, item] {
            perform([item] {
                if (Menu* menu = item->menu()) openTheMenu(*menu);
            });
        };
        shown->notifier = std::make_unique<StatusNotifierItem>(
            bus_->connection.get(), StatusNotifierIdentity{host_.pid, host_.identity, host_.name}, number, menuPath,
            clicked);
        if (!shown->notifier->failure().empty()) say("desktop: no status item on the bus (" + shown->notifier->failure() + ")\n");
    }
    statusItems_.push_back(std::move(shown));
    modelChanged();
    return *statusItems_.back()->item;
}

void FreedesktopDesktop::modelChanged() {
    for (const auto& shown : statusItems_) {
        if (shown->menu) shown->menu->markChanged();
    }
    if (publishPosted_) return;
    publishPosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    loop::postToTheMainQueue([this, alive] {
        if (auto still = alive.lock(); still && *still) publishChanges();
    });
}

void FreedesktopDesktop::publishChanges() {
    publishPosted_ = false;
    for (const auto& shown : statusItems_) {
        if (shown->notifier) shown->notifier->show(*shown->item);
        if (shown->menu) shown->menu->publishChanges();
    }
    BadgeLook badge{badgePanel_.visible(), badgePanel_.text(), badgePanel_.frame(), badgePanel_.level()};
    if (!lastBadge_ || *lastBadge_ != badge) {
        lastBadge_ = std::make_unique<BadgeLook>(badge);
        windows_->showTheBadgePanel(badgePanel_);
    }
}

// Alerts

void FreedesktopDesktop::sayOnce(bool& said, const std::string& line) {
    if (said) return;
    said = true;
    say(line);
}

// Requests of the desktop that come meanwhile wait for the answer, as they would behind a
// modal alert.
int FreedesktopDesktop::runModal(const Alert& alert) {
    if (alert.buttons.empty()) return 0;
    if (!notifications_) {
        sayOnce(saidNoAlerts_, "alerts: no session bus; each alert takes its first button\n");
        return 0;
    }
    publishChanges();
    ++alertsOpen_;
    std::string why;
    const std::optional<int> answer = notifications_->ask(alert, &why);
    if (--alertsOpen_ == 0) {
        while (!waitingForTheAlert_.empty()) {
            perform(std::move(waitingForTheAlert_.front()));
            waitingForTheAlert_.pop_front();
        }
    }
    if (answer) return *answer;
    sayOnce(saidNoAlerts_, "alerts: " + why + "; each alert takes its first button\n");
    return 0;
}

}  // namespace host::platform
