// Events from the scripted desktop: the state it mirrors into the host, and the requests it
// makes of the host's handlers.
#include <algorithm>

#include "platform/descriptors.h"
#include "platform/linux/desktop-json.h"
#include "platform/linux/scripted-desktop.h"

namespace host::platform {
namespace {

std::string describedPid(std::int32_t pid) { return "no application with pid " + std::to_string(pid); }

std::optional<CurrentEvent> currentEventOf(const Json& event) {
    auto sender = int32Member(event, "sender");
    const std::string* reason = stringMember(event, "reason");
    if (!sender && !reason) return std::nullopt;
    return CurrentEvent{sender, reason ? std::optional<std::string>(*reason) : std::nullopt};
}

std::optional<std::vector<std::string>> stringsMember(const Json& event, const char* key) {
    const Json* list = arrayMember(event, key);
    if (!list || !isArrayOfStrings(*list)) return std::nullopt;
    return list->get<std::vector<std::string>>();
}

// Every element of a list read by `parse`; none when the list is missing or one element is bad.
template <typename Parse>
auto everyOf(const Json* list, Parse parse) -> std::optional<std::vector<typename decltype(parse(Json()))::value_type>> {
    if (!list) return std::nullopt;
    std::vector<typename decltype(parse(Json()))::value_type> all;
    for (const Json& entry : *list) {
        auto parsed = parse(entry);
        if (!parsed) return std::nullopt;
        all.push_back(std::move(*parsed));
    }
    return all;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> chordOf(const Json& value) {
    auto code = uint32Member(value, "code");
    auto modifiers = uint32Member(value, "modifiers");
    if (!code || !modifiers) return std::nullopt;
    return std::make_pair(*code, *modifiers);
}

// Any JSON value the desktop gave under `key`, passed back as it came; null when absent.
Json echoed(const Json& event, const char* key) {
    auto found = event.find(key);
    return found == event.end() ? Json(nullptr) : *found;
}

Json requestOf(const Json& event) { return echoed(event, "request"); }

}  // namespace

void ScriptedDesktop::takeLine(const std::string& line) {
    std::string why;
    auto event = parsedJson(line, &why);
    if (!event || !event->is_object()) {
        sendError(event ? "not a JSON object" : "not JSON: " + why);
        return;
    }
    const std::string* name = stringMember(*event, "event");
    if (!name) {
        sendError("no \"event\" in " + line.substr(0, 200));
        return;
    }
    if (*name == "alert-answer") {
        takeAlertAnswer(*event);
    } else if (*name == "ready") {
        takeReady(*event);
    } else if (handshaking_ && !ready_ && takeStateEvent(*name, *event)) {
        // State set up before "ready" applies at once; requests, and anything after "ready",
        // wait for the loop, when the host's observers are in place.
    } else if (handshaking_ || deferring()) {
        deferredEvents_.push_back(std::move(*event));
    } else {
        takeEvent(*event);
    }
}

void ScriptedDesktop::takeReady(const Json& event) {
    if (!handshaking_) return;
    auto version = int32Member(event, "version");
    if (version == DESKTOP_PROTOCOL_VERSION) {
        ready_ = true;
        return;
    }
    refusal_ = "the desktop speaks version " + (version ? std::to_string(*version) : "unknown") + ", not " +
               std::to_string(DESKTOP_PROTOCOL_VERSION);
    channel_->close();
}

void ScriptedDesktop::takeEvent(const Json& event) {
    const std::string name = *stringMember(event, "event");
    if (!takeStateEvent(name, event) && !takeActionEvent(name, event)) sendError("unknown event \"" + name + "\"");
}

// While an alert waits, or events wait behind one, later events queue in order.
bool ScriptedDesktop::deferring() const { return !openAlerts_.empty() || !deferredEvents_.empty(); }

void ScriptedDesktop::postTheDeferredEvents() { postOnce(deferredRunPosted_, &ScriptedDesktop::runDeferredEvents); }

void ScriptedDesktop::runDeferredEvents() {
    deferredRunPosted_ = false;
    while (openAlerts_.empty() && !deferredEvents_.empty()) {
        Json event = std::move(deferredEvents_.front());
        deferredEvents_.pop_front();
        takeEvent(event);
    }
}

bool ScriptedDesktop::takeStateEvent(const std::string& name, const Json& event) {
    if (name == "launched") {
        takeLaunched(event);
    } else if (name == "terminated") {
        takePidEvent(WorkspaceChange::terminated, event);
    } else if (name == "activated") {
        takePidEvent(WorkspaceChange::activated, event);
    } else if (name == "hidden") {
        takePidEvent(WorkspaceChange::hidden, event);
    } else if (name == "unhidden") {
        takePidEvent(WorkspaceChange::unhidden, event);
    } else if (name == "windows") {
        if (auto windows = everyOf(arrayMember(event, "windows"), windowOf)) windows_ = std::move(*windows);
        else sendError("windows: a list of {\"pid\", \"layer\", \"bounds\"} is needed");
    } else if (name == "screens") {
        if (auto screens = everyOf(arrayMember(event, "screens"), rectOf)) screens_ = std::move(*screens);
        else sendError("screens: a list of rectangles is needed");
    } else if (name == "mouse") {
        auto x = numberMember(event, "x");
        auto y = numberMember(event, "y");
        if (x && y) mouse_ = {*x, *y};
        else sendError("mouse: \"x\" and \"y\" are needed");
    } else if (name == "keyboard") {
        const std::string* layout = stringMember(event, "layout");
        if (layout && *layout == "ANSI") layout_ = KeyboardLayout::ansi;
        else if (layout && *layout == "ISO") layout_ = KeyboardLayout::iso;
        else if (layout && *layout == "JIS") layout_ = KeyboardLayout::jis;
        else sendError("keyboard: \"layout\" is ANSI, ISO or JIS");
    } else if (name == "languages") {
        if (auto languages = stringsMember(event, "languages")) languages_ = std::move(*languages);
        else sendError("languages: a list of strings is needed");
    } else if (name == "hot-keys-taken") {
        if (auto chords = everyOf(arrayMember(event, "chords"), chordOf)) takenChords_ = std::move(*chords);
        else sendError("hot-keys-taken: a list of {\"code\", \"modifiers\"} is needed");
    } else if (name == "refuse") {
        refusesPolicyChanges_ = boolMember(event, "activationPolicy").value_or(false);
    } else {
        return false;
    }
    return true;
}

void ScriptedDesktop::takeLaunched(const Json& event) {
    auto pid = int32Member(event, "pid");
    if (!pid) {
        sendError("launched: \"pid\" is needed");
        return;
    }
    RunningApplication application{*pid, std::nullopt, std::nullopt, std::nullopt, ActivationPolicy::regular};
    if (const std::string* bundle = stringMember(event, "bundle")) application.bundleIdentifier = *bundle;
    if (const std::string* name = stringMember(event, "name")) application.localizedName = *name;
    if (const std::string* path = stringMember(event, "path")) application.bundlePath = *path;
    if (const std::string* policy = stringMember(event, "policy")) {
        application.policy = policyNamed(*policy).value_or(ActivationPolicy::regular);
    }
    if (boolMember(event, "refusesActivation").value_or(false)) refusingActivation_.insert(*pid);
    else refusingActivation_.erase(*pid);
    auto same = std::find_if(applications_.begin(), applications_.end(),
                             [&](const RunningApplication& known) { return known.pid == *pid; });
    if (same != applications_.end()) *same = application;
    else applications_.push_back(application);
    tellTheWorkspaceObservers(WorkspaceChange::launched, application);
}

void ScriptedDesktop::takePidEvent(WorkspaceChange change, const Json& event) {
    auto pid = int32Member(event, "pid");
    if (!pid) {
        sendError("\"pid\" is needed");
        return;
    }
    auto application = runningApplication(*pid);
    if (!application) {
        sendError(describedPid(*pid));
        return;
    }
    if (change == WorkspaceChange::terminated) {
        if (*pid == host_.pid) {
            sendError("the host cannot be terminated by the desktop");
            return;
        }
        std::erase_if(applications_, [&](const RunningApplication& known) { return known.pid == *pid; });
        refusingActivation_.erase(*pid);
        if (front_ == *pid) front_.reset();
    }
    if (change == WorkspaceChange::activated) front_ = *pid;
    tellTheWorkspaceObservers(change, *application);
    if (change == WorkspaceChange::activated && *pid == host_.pid) tellTheHostBecameActive();
}

bool ScriptedDesktop::takeActionEvent(const std::string& name, const Json& event) {
    if (name == "url") {
        const std::string* url = stringMember(event, "url");
        if (!url) sendError("url: \"url\" is needed");
        else if (handlers().getURL) handlers().getURL(*url, currentEventOf(event).value_or(CurrentEvent{}));
    } else if (name == "open") {
        auto urls = stringsMember(event, "urls");
        if (!urls) sendError("open: \"urls\", a list of strings, is needed");
        else if (handlers().openURLs) handlers().openURLs(*urls, currentEventOf(event));
    } else if (name == "service") {
        takeService(event);
    } else if (name == "quit") {
        takeQuit(event);
    } else if (name == "reopen") {
        if (handlers().reopen) handlers().reopen();
    } else if (name == "display") {
        const std::uint32_t flags = uint32Member(event, "flags").value_or(0);
        if (handlers().displayReconfigured) handlers().displayReconfigured(flags);
    } else if (name == "open-menu") {
        takeOpenMenu(event);
    } else if (name == "pick") {
        takePick(event);
    } else if (name == "hot-key") {
        takeHotKey(event);
    } else if (name == "ping") {
        // The pong says that everything before it was handled: that includes the records and
        // the lines the loop writes when a callback returns.
        loop::doTheWorkThatWaits();
        flushChanges();
        send({{"state", "pong"}, {"id", echoed(event, "id")}});
    } else {
        return false;
    }
    return true;
}

void ScriptedDesktop::takeService(const Json& event) {
    auto files = stringsMember(event, "files");
    if (!files) {
        sendError("service: \"files\", a list of paths, is needed");
        return;
    }
    std::optional<std::string> userData;
    if (const std::string* data = stringMember(event, "userData")) userData = *data;
    std::optional<std::string> error = "the application offers no service";
    if (handlers().servicesRequest) error = handlers().servicesRequest(*files, userData);
    send({{"state", "service-reply"}, {"request", requestOf(event)}, {"error", error ? Json(*error) : Json(nullptr)}});
}

// Without a delegate the application terminates at once, as the platform's would.
void ScriptedDesktop::takeQuit(const Json& event) {
    TerminateReply reply = TerminateReply::now;
    if (handlers().shouldTerminate) reply = handlers().shouldTerminate(currentEventOf(event));
    const char* answer = reply == TerminateReply::now ? "now" : reply == TerminateReply::cancel ? "cancel" : "later";
    send({{"state", "quit-reply"}, {"request", requestOf(event)}, {"answer", answer}});
    if (reply == TerminateReply::later) pendingQuitRequests_.push_back(requestOf(event));
    if (reply != TerminateReply::now) return;
    flushChanges();
    if (connected()) channel_->flushBlocking(1.0);
    exitNow(0);
}

MenuItem* ScriptedDesktop::itemNamedBy(const Json& event) {
    auto serial = event.find("item");
    if (serial == event.end() || !serial->is_number_unsigned()) {
        sendError("\"item\", an item number, is needed");
        return nullptr;
    }
    const auto number = serial->get<std::uint64_t>();
    for (const auto& item : statusItems_) {
        if (!item->menu()) continue;
        if (MenuItem* found = item->menu()->itemWithSerial(number)) return found;
    }
    if (poppedUp_) {
        if (MenuItem* found = poppedUp_->itemWithSerial(number)) return found;
    }
    sendError("no item " + std::to_string(number) + " in any menu");
    return nullptr;
}

void ScriptedDesktop::takeOpenMenu(const Json& event) {
    if (!event.contains("item")) {
        for (auto item = statusItems_.rbegin(); item != statusItems_.rend(); ++item) {
            if ((*item)->menu()) {
                openTheMenu(*(*item)->menu());
                return;
            }
        }
        sendError("no status item has a menu");
        return;
    }
    MenuItem* item = itemNamedBy(event);
    if (!item) return;
    if (!item->submenu()) {
        sendError("item " + std::to_string(item->serial()) + " has no submenu");
        return;
    }
    openTheMenu(*item->submenu());
}

void ScriptedDesktop::takePick(const Json& event) {
    MenuItem* item = itemNamedBy(event);
    if (item && !item->pick()) sendError("item " + std::to_string(item->serial()) + " cannot be picked");
}

void ScriptedDesktop::takeHotKey(const Json& event) {
    auto code = uint32Member(event, "code");
    auto modifiers = uint32Member(event, "modifiers");
    if (!code || !modifiers) {
        sendError("hot-key: \"code\" and \"modifiers\" are needed");
        return;
    }
    for (const auto& [reference, registration] : hotKeys_) {
        if (registration.code == *code && registration.modifiers == *modifiers) {
            pressHotKey(registration.id);
            return;
        }
    }
    sendError("no hot key is registered for that chord");
}

void ScriptedDesktop::takeAlertAnswer(const Json& event) {
    auto alert = int32Member(event, "alert");
    auto button = int32Member(event, "button");
    auto open = alert ? openAlerts_.find(*alert) : openAlerts_.end();
    if (open == openAlerts_.end() || alertAnswers_.contains(*alert)) {
        sendError("no alert is waiting for that answer");
    } else if (!button || *button < 0 || static_cast<std::size_t>(*button) >= open->second) {
        sendError("the alert has no such button");
    } else {
        alertAnswers_[*alert] = *button;
    }
}

}  // namespace host::platform
