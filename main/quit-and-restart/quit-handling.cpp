#include "quit-and-restart/quit-handling.h"

#include <csignal>

#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "quit-and-restart/quit-state.h"
#include "support/event-loop.h"

namespace host {
namespace {

QuitSettings settings;
loop::Timer settingsQuitTimeout;

std::int32_t shellPidOrZero() { return shellPid().value_or(0); }

void record(Json fields) {
    fields["shell"] = shellPidOrZero();
    append(std::move(fields), deathLog(shellPidOrZero()));
}

std::optional<std::int32_t> senderOf(const std::optional<platform::CurrentEvent>& event) {
    if (!event || !event->senderPid || *event->senderPid <= 0) return std::nullopt;
    return event->senderPid;
}

// The bundle identifier of the application that sent the quit, when there is one.
std::optional<std::string> quitSenderIdentifier(const std::optional<platform::CurrentEvent>& event) {
    auto sender = senderOf(event);
    if (!sender) return std::nullopt;
    auto application = platform::desktop().runningApplication(*sender);
    return application ? application->bundleIdentifier : std::nullopt;
}

bool isASettingsQuit(const std::optional<platform::CurrentEvent>& event) {
    if (!setupQuitListener || setupQuitListener->shell != shellPidOrZero()) return false;
    auto sender = quitSenderIdentifier(event);
    return sender && setupQuitListener->senders.contains(*sender);
}

platform::TerminateReply askTheShellToSettle() {
    if (settingsQuitAwaitingReply) return platform::TerminateReply::later;
    settingsQuitAwaitingReply = true;
    tellTheChild({{"setupQuit", "settings"}});
    settingsQuitTimeout.startOnce(SETTINGS_QUIT_SECONDS, [] { finishSettingsQuit("timeout", false); });
    return platform::TerminateReply::later;
}

}  // namespace

void configureTheQuitHandling(QuitSettings quitSettings) { settings = std::move(quitSettings); }

std::string applicationNameOf(const Json& info, const std::string& processName) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        if (!info.contains(key)) continue;
        const std::string* name = stringMember(info, key);
        return name ? *name : processName;
    }
    return processName;
}

platform::TerminateReply shouldTerminate(const std::optional<platform::CurrentEvent>& event) {
    if (!shellIsRunning()) return platform::TerminateReply::now;
    std::string reason = "outside";
    if (quitIsForTheSession(event)) reason = "session";
    else if (quitIsFromOurOwnBundle(event)) reason = "own";
    if (reason == "own" && !confirmsTheQuit()) {
        record({{"kind", "quit-cancelled"}});
        return platform::TerminateReply::cancel;
    }
    if (reason == "outside" && isASettingsQuit(event)) return askTheShellToSettle();
    quitTheChild(reason);
    return platform::TerminateReply::cancel;
}

bool quitIsForTheSession(const std::optional<platform::CurrentEvent>& event) {
    return event && event->quitReason && sessionQuitReasons.contains(*event->quitReason);
}

bool quitIsFromOurOwnBundle(const std::optional<platform::CurrentEvent>& event) {
    auto sender = senderOf(event);
    if (!sender || *sender == platform::ownPid()) return true;
    auto path = platform::executablePathOf(*sender);
    if (!path) return false;
    const std::string bundle = settings.bundleDirectory.lexically_normal().string();
    return path->starts_with(bundle + "/");
}

bool confirmsTheQuit() {
    platform::Desktop& desktop = platform::desktop();
    const bool prohibited = desktop.activationPolicy() == platform::ActivationPolicy::prohibited;
    if (prohibited) desktop.setActivationPolicy(platform::ActivationPolicy::accessory);
    desktop.activateIgnoringOtherApps();
    const int chosen = desktop.runModal({"Quit " + settings.name + "?",
                                         "Every window and helper process of " + settings.name + " will close.",
                                         {"Quit", "Cancel"}});
    if (prohibited) desktop.setActivationPolicy(platform::ActivationPolicy::prohibited);
    return chosen == 0;
}

void finishSettingsQuit(const std::string& result, bool restarting) {
    if (!settingsQuitAwaitingReply || quitting) return;
    settingsQuitTimeout.cancel();
    record({{"kind", "setup-quit"}, {"result", result}, {"restarting", restarting}});
    if (!restarting) return quitTheChild("settings");
    quitting = true;
    armTheShellExit("settings-restart", shellPidOrZero());
}

void quitTheChild(const std::string& asker) {
    if (quitting) return;
    quitting = true;
    if (auto pid = shellPid()) quitTargets = heldDescendantsOf(*pid);
    for (auto& target : quitTargets) target->signal(SIGTERM);
    record({{"kind", "quit-confirmed"}, {"asker", asker}, {"descendants", pidsOf(quitTargets)}});
    endTheShell("quit");
}

}  // namespace host
