// The X11 window system: the pieces that speak each protocol, tied to the host's loop. Events
// are read whenever the connection's descriptor is readable (and after each round trip, which
// may have queued some); the workspace is looked at again once per batch, so each change is
// told once. A display that goes away leaves the headless defaults in place.
#include "platform/x11/x11-window-system.h"

#include <cstdlib>
#include <map>
#include <set>

#include "platform/processes.h"
#include "platform/x11/applications.h"
#include "platform/x11/badge-window.h"
#include "platform/x11/desktop-entries.h"
#include "platform/x11/ewmh.h"
#include "platform/x11/key-grabs.h"
#include "platform/x11/randr-screens.h"
#include "platform/x11/x11-on-demand.h"
#include "platform/x11/xcb-replies.h"
#include "support/event-loop.h"

namespace host::platform {
namespace {

using namespace x11;

constexpr int STATUS_WINDOW_LEVEL = 25;

std::string whyTheConnectionBroke(int error) {
    switch (error) {
    case XCB_CONN_CLOSED_EXT_NOTSUPPORTED: return "the display lacks an extension the host needs";
    case XCB_CONN_CLOSED_MEM_INSUFFICIENT: return "out of memory for the display connection";
    case XCB_CONN_CLOSED_REQ_LEN_EXCEED: return "a request was too long for the display";
    case XCB_CONN_CLOSED_PARSE_ERR: return "the display name cannot be read";
    case XCB_CONN_CLOSED_INVALID_SCREEN: return "the display has no such screen";
    default: return "the connection to the display broke";
    }
}

xcb_screen_t* screenNumbered(xcb_connection_t* connection, int number) {
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < number && screens.rem; ++i) xcb_screen_next(&screens);
    return screens.rem ? screens.data : nullptr;
}

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

class X11WindowSystem final : public WindowSystem {
public:
    X11WindowSystem(xcb_connection_t* connection, int screenNumber, std::int32_t hostPid)
        : connection_(connection),
          screen_(screenNumbered(connection, screenNumber)),
          hostPid_(hostPid),
          ewmh_(connection, screenNumber, screen_->root),
          keys_(connection, screen_->root),
          randr_(connection, screen_->root),
          badge_(connection, screen_, hostPid),
          entries_(applicationFolders()) {}

    ~X11WindowSystem() override { *alive_ = false; }

    bool start(std::string* why);

    void setEvents(WindowSystemEvents events) override { events_ = std::move(events); }
    std::vector<RunningApplication> runningApplications() const override;
    std::optional<std::int32_t> frontmostPid() const override;
    // X has no cooperative activation: the activation request itself moves the focus.
    void yieldActivation(std::int32_t) override {}
    bool activate(std::int32_t pid) override;
    void activateTheHost() override;
    HotKeyRegistration registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                      std::uint32_t options) override;
    void unregisterHotKey(std::uint64_t reference) override;
    KeyboardLayout keyboardLayoutType() const override;
    std::vector<OnScreenWindow> onScreenWindows() const override;
    int statusWindowLevel() const override { return STATUS_WINDOW_LEVEL; }
    std::vector<Rect> screens() const override;
    Point mouseLocation() const override;
    void showTheBadgePanel(const BadgePanel& panel) override;

private:
    bool lost() const { return headless_ != nullptr; }
    void drain();
    void drainSoon() const;
    void take(const xcb_generic_event_t& event, const WindowSystemEvents& events);
    void lookAgain(bool tell);
    RunningApplication identify(std::int32_t pid, const ClientWindow& first);
    std::optional<xcb_window_t> topmostWindowOf(std::int32_t pid) const;
    void lose(const std::string& why);
    Rect primaryFrame() const;
    Rect global(const Rect& root) const;

    std::unique_ptr<xcb_connection_t, Disconnect> connection_;
    xcb_screen_t* screen_;
    std::int32_t hostPid_;
    Ewmh ewmh_;
    KeyGrabs keys_;
    mutable RandrScreens randr_;
    BadgeWindow badge_;
    DesktopEntries entries_;
    std::unique_ptr<loop::FdSource> watch_;
    WindowSystemEvents events_;
    std::map<xcb_window_t, ClientWindow> clients_;
    std::set<xcb_window_t> changedClients_;
    Workspace workspace_;
    bool workspaceChanged_ = false;
    bool displayChanged_ = false;
    mutable bool drainPosted_ = false;
    // Answers for good once the display is gone; its hot-key references follow the grabs' ones,
    // so that releasing a grab of the lost display never releases one of its chords.
    std::unique_ptr<WindowSystem> headless_;
    std::uint64_t headlessReferences_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

bool X11WindowSystem::start(std::string* why) {
    xcb_connection_t* connection = connection_.get();
    if (!ewmh_.start()) {
        if (why) *why = "the display does not answer";
        return false;
    }
    if (!keys_.start(why)) return false;
    randr_.start();
    const std::uint32_t rootEvents = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, screen_->root, XCB_CW_EVENT_MASK, &rootEvents);
    lookAgain(false);
    watch_ = std::make_unique<loop::FdSource>(xcb_get_file_descriptor(connection), loop::FdSource::Condition::readable,
                                              [this] { drain(); });
    watch_->resume();
    drainSoon();
    return true;
}

// Round trips may leave events in xcb's queue, where the descriptor no longer shows them.
void X11WindowSystem::drainSoon() const {
    if (drainPosted_ || lost()) return;
    drainPosted_ = true;
    std::weak_ptr<bool> alive = alive_;
    auto* self = const_cast<X11WindowSystem*>(this);
    loop::postToTheMainQueue([alive, self] {
        if (auto still = alive.lock(); still && *still) self->drain();
    });
}

void X11WindowSystem::drain() {
    drainPosted_ = false;
    if (lost()) return;
    // A handler may end this window system: the events stay with the caller's copy.
    const WindowSystemEvents events = events_;
    std::weak_ptr<bool> alive = alive_;
    do {
        while (auto event = owned(xcb_poll_for_event(connection_.get()))) {
            take(*event, events);
            if (alive.expired()) return;
        }
        if (int error = xcb_connection_has_error(connection_.get())) {
            lose(whyTheConnectionBroke(error));
            return;
        }
        if (displayChanged_) {
            displayChanged_ = false;
            if (events.displayReconfigured) events.displayReconfigured(DISPLAY_BEGIN_CONFIGURATION_FLAG);
            if (alive.expired()) return;
            if (events.displayReconfigured) events.displayReconfigured(0);
            if (alive.expired()) return;
        }
        if (!workspaceChanged_) return;
        // Its round trips may queue more events: they are read before this turn ends.
        lookAgain(true);
    } while (!alive.expired());
}

void X11WindowSystem::take(const xcb_generic_event_t& event, const WindowSystemEvents& events) {
    switch (event.response_type & 0x7f) {
    case 0:
        // An error: most often a window that went away between two requests.
        return;
    case XCB_KEY_PRESS:
        if (auto id = keys_.pressed(reinterpret_cast<const xcb_key_press_event_t&>(event)); id && events.hotKeyPressed) {
            events.hotKeyPressed(*id);
        }
        return;
    case XCB_KEY_RELEASE: keys_.released(reinterpret_cast<const xcb_key_release_event_t&>(event)); return;
    case XCB_PROPERTY_NOTIFY: {
        const auto& changed = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (changed.window == screen_->root) {
            workspaceChanged_ = workspaceChanged_ || ewmh_.changesTheClients(changed.atom);
        } else if (clients_.contains(changed.window) && ewmh_.changesAClient(changed.atom)) {
            changedClients_.insert(changed.window);
            workspaceChanged_ = true;
        }
        return;
    }
    default:
        if (badge_.takeEvent(event) || keys_.takeMappingEvent(event)) return;
        if (randr_.takeChangeEvent(event)) displayChanged_ = true;
    }
}

// Describes the clients that are new or changed, then tells what that changed.
void X11WindowSystem::lookAgain(bool tell) {
    workspaceChanged_ = false;
    const std::vector<xcb_window_t> listed = ewmh_.clients();
    const std::set<xcb_window_t> stillListed(listed.begin(), listed.end());
    std::erase_if(clients_, [&](const auto& client) { return !stillListed.contains(client.first); });
    std::vector<xcb_window_t> unknown;
    for (xcb_window_t window : listed) {
        if (!clients_.contains(window) || changedClients_.contains(window)) unknown.push_back(window);
    }
    changedClients_.clear();
    const auto described = ewmh_.describe(unknown);
    for (std::size_t i = 0; i < unknown.size(); ++i) {
        if (described[i]) clients_[unknown[i]] = *described[i];
        else clients_.erase(unknown[i]);
    }
    std::vector<ClientWindow> clients;
    for (xcb_window_t window : listed) {
        if (auto found = clients_.find(window); found != clients_.end()) clients.push_back(found->second);
    }
    Workspace after = workspaceOf(clients, ewmh_.activeWindow(), workspace_,
                                  [this](std::int32_t pid, const ClientWindow& first) { return identify(pid, first); });
    const WorkspaceChanges changes = tell ? changesBetween(workspace_, after) : WorkspaceChanges{};
    workspace_ = std::move(after);
    const WindowSystemEvents events = events_;
    std::weak_ptr<bool> alive = alive_;
    for (const auto& [change, application] : changes) {
        if (events.workspaceChanged) events.workspaceChanged(change, application);
        if (alive.expired()) return;
        if (change == WorkspaceChange::activated && application.pid == hostPid_ && events.hostBecameActive) {
            events.hostBecameActive();
            if (alive.expired()) return;
        }
    }
}

// The desktop entry of the window's class, else of the process's executable.
RunningApplication X11WindowSystem::identify(std::int32_t pid, const ClientWindow& first) {
    entries_.readAgainWhenChanged();
    const DesktopEntry* entry = entries_.entryOf(first.className, first.instance, std::nullopt);
    if (!entry) {
        if (auto executable = executablePathOf(pid)) entry = entries_.entryOf("", "", std::filesystem::path(*executable));
    }
    RunningApplication application{pid, std::nullopt, std::nullopt, std::nullopt, ActivationPolicy::regular};
    if (entry) {
        application.bundleIdentifier = entry->id;
        application.localizedName = entry->name;
        application.bundlePath = entry->file.string();
    } else if (!first.className.empty()) {
        application.localizedName = first.className;
    }
    return application;
}

void X11WindowSystem::lose(const std::string& why) {
    if (lost()) return;
    headless_ = headlessWindowSystem();
    headlessReferences_ = keys_.lastReference();
    watch_.reset();
    if (auto lostNow = events_.lost) lostNow(why);
}

std::vector<RunningApplication> X11WindowSystem::runningApplications() const {
    return lost() ? headless_->runningApplications() : workspace_.applications;
}

std::optional<std::int32_t> X11WindowSystem::frontmostPid() const {
    return lost() ? headless_->frontmostPid() : workspace_.front;
}

// The application's highest window that is not hidden, else its highest one.
std::optional<xcb_window_t> X11WindowSystem::topmostWindowOf(std::int32_t pid) const {
    std::vector<xcb_window_t> order = ewmh_.clientsBottomToTop();
    if (order.empty()) order = ewmh_.clients();
    std::optional<xcb_window_t> hidden;
    for (auto window = order.rbegin(); window != order.rend(); ++window) {
        auto client = clients_.find(*window);
        if (client == clients_.end() || client->second.pid != pid) continue;
        if (!client->second.hidden) return *window;
        if (!hidden) hidden = *window;
    }
    return hidden;
}

bool X11WindowSystem::activate(std::int32_t pid) {
    if (lost()) return headless_->activate(pid);
    auto window = topmostWindowOf(pid);
    if (window) ewmh_.requestActivation(*window, ewmh_.activeWindow());
    drainSoon();
    return window.has_value();
}

void X11WindowSystem::activateTheHost() {
    if (!lost()) activate(hostPid_);
}

// Options are the Mac hot key service's own; X grabs have none.
HotKeyRegistration X11WindowSystem::registerHotKey(std::uint32_t code, std::uint32_t modifiers, HotKeyId id,
                                                   std::uint32_t options) {
    if (lost()) {
        HotKeyRegistration registration = headless_->registerHotKey(code, modifiers, id, options);
        if (registration.reference != 0) registration.reference += headlessReferences_;
        return registration;
    }
    HotKeyRegistration registration = keys_.grab(code, modifiers, id);
    drainSoon();
    return registration;
}

void X11WindowSystem::unregisterHotKey(std::uint64_t reference) {
    if (!lost()) keys_.ungrab(reference);
    else if (reference > headlessReferences_) headless_->unregisterHotKey(reference - headlessReferences_);
}

KeyboardLayout X11WindowSystem::keyboardLayoutType() const {
    if (lost()) return headless_->keyboardLayoutType();
    const KeyboardLayout layout = keys_.layoutType();
    drainSoon();
    return layout;
}

Rect X11WindowSystem::primaryFrame() const {
    const std::vector<Rect>& frames = randr_.frames();
    return frames.empty() ? Rect{} : frames.front();
}

// From root coordinates to the global ones, whose origin is the primary screen's top left.
Rect X11WindowSystem::global(const Rect& root) const {
    const Rect primary = primaryFrame();
    return {root.x - primary.x, root.y - primary.y, root.width, root.height};
}

std::vector<OnScreenWindow> X11WindowSystem::onScreenWindows() const {
    if (lost()) return headless_->onScreenWindows();
    std::vector<OnScreenWindow> windows;
    for (const ShownWindow& shown : ewmh_.shownFrontToBack()) windows.push_back({shown.pid, shown.layer, global(shown.bounds)});
    drainSoon();
    return windows;
}

std::vector<Rect> X11WindowSystem::screens() const {
    if (lost()) return headless_->screens();
    std::vector<Rect> frames;
    for (const Rect& frame : randr_.frames()) frames.push_back(global(frame));
    drainSoon();
    return frames;
}

// In the coordinates a menu pops up in: origin at the primary screen's bottom left, y upwards.
Point X11WindowSystem::mouseLocation() const {
    if (lost()) return headless_->mouseLocation();
    auto pointer = owned(xcb_query_pointer_reply(connection_.get(), xcb_query_pointer(connection_.get(), screen_->root), nullptr));
    drainSoon();
    if (!pointer) return {};
    const Rect primary = primaryFrame();
    return {pointer->root_x - primary.x, primary.height - (pointer->root_y - primary.y)};
}

// The panel's frame stands in the primary screen's coordinates, y upwards from its bottom.
void X11WindowSystem::showTheBadgePanel(const BadgePanel& panel) {
    if (lost()) return;
    if (!panel.visible()) {
        badge_.hide();
        return;
    }
    const Rect primary = primaryFrame();
    const Rect& frame = panel.frame();
    badge_.show(panel.text(), {primary.x + frame.x, primary.y + primary.height - frame.maxY(), frame.width, frame.height},
                ewmh_.compositorRuns());
    drainSoon();
}

}  // namespace

std::unique_ptr<WindowSystem> openTheX11WindowSystem(const char* displayName, std::int32_t hostPid, std::string* why) {
    const char* name = displayName ? displayName : std::getenv("DISPLAY");
    if (!name || !*name) {
        if (why) *why = "DISPLAY is not set";
        return nullptr;
    }
    std::string missing;
    if (!loadTheX11Libraries(&missing)) {
        if (why) *why = "the X11 libraries cannot be loaded: " + missing;
        return nullptr;
    }
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(name, &screenNumber);
    if (int error = xcb_connection_has_error(connection); error || !screenNumbered(connection, screenNumber)) {
        if (why) *why = std::string("the display ") + name + " cannot be opened: " +
                        (error ? whyTheConnectionBroke(error) : "it has no such screen");
        xcb_disconnect(connection);
        return nullptr;
    }
    auto system = std::make_unique<X11WindowSystem>(connection, screenNumber, hostPid);
    if (!system->start(why)) return nullptr;
    return system;
}

}  // namespace host::platform
