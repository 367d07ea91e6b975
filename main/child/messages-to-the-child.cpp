#include "child/messages-to-the-child.h"

#include <csignal>

#include "child/death-log.h"
#include "child/shell.h"
#include "platform/desktop.h"
#include "platform/processes.h"

namespace host {
namespace {

MessageSettings settings;

// The inbox when a message may be sent now, else none.
ChildInbox* openInbox() {
    ChildInbox* inbox = shellInbox();
    return inbox && shellIsRunning() && !swapping ? inbox : nullptr;
}

bool send(ChildInbox* inbox, const Json& message) {
    auto line = sortedJson(message);
    return line && inbox->send(*line + "\n");
}

void logAboutTheShell(const char* kind, std::int32_t pid) {
    append({{"kind", kind}, {"shell", pid}}, deathLog(pid));
}

}  // namespace

void configureTheMessages(MessageSettings newSettings) { settings = newSettings; }

void tellTheChild(const Json& message) {
    if (ChildInbox* inbox = openInbox()) send(inbox, message);
}

void tellTheChildTheFront(const std::optional<std::string>& bundleIdentifier) {
    if (settings.tellsTheChildTheFront && bundleIdentifier) tellTheChild({{"front", *bundleIdentifier}});
}

bool sendMenuPickToTheChild(const std::string& id, const std::string& title, const std::optional<std::string>& branch) {
    ChildInbox* inbox = openInbox();
    if (!inbox) return false;
    Json pick = {{"menu", id}, {"title", title}};
    if (branch) pick["branch"] = *branch;
    return send(inbox, pick);
}

void yieldToTheChild() {
    if (!shellIsRunning()) return;
    platform::Desktop& desktop = platform::desktop();
    if (desktop.runningApplication(*shellPid())) desktop.yieldActivation(*shellPid());
}

bool catches(int signal, std::int32_t pid) { return platform::catchesSignal(signal, pid); }

void askTheChildToReopen() {
    if (!shellIsRunning()) return;
    std::int32_t pid = *shellPid();
    if (!childHearsReopen && !catches(SIGUSR1, pid)) {
        reopenOwed = true;
        logAboutTheShell("reopen-waiting", pid);
        return;
    }
    signalTheShell(SIGUSR1);
}

void theChildHearsReopen() {
    childHearsReopen = true;
    if (!reopenOwed || !shellIsRunning()) return;
    reopenOwed = false;
    signalTheShell(SIGUSR1);
    logAboutTheShell("reopen-resumed", *shellPid());
}

}  // namespace host
