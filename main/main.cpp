// The host's entry: a fixed start-up sequence, read top to bottom. Tool modes and unusable
// configurations end the process before any shell, signal source or window exists.
#include <csignal>
#include <cstdlib>
#include <string>

#include "apps-watch/apps-watch.h"
#include "badges/badge-geometry.h"
#include "badges/badge-overlay.h"
#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "hot-keys/child-hot-keys.h"
#include "hot-keys/hot-key-chords.h"
#include "hot-keys/hot-key-owner.h"
#include "control-socket/host-listener.h"
#include "control-socket/host-requests.h"
#include "links/delivery-queue.h"
#include "links/display-change.h"
#include "links/focus-return.h"
#include "links/url-intake.h"
#include "menu-bar-app-menu/dock-preference.h"
#include "menu-bar-app-menu/menu-lifecycle.h"
#include "panels/panel-host.h"
#include "platform/descriptors.h"
#include "platform/desktop-connection.h"
#include "platform/desktop.h"
#include "platform/localized-strings.h"
#include "platform/login-items.h"
#include "platform/process.h"
#include "platform/user-defaults.h"
#include "quit-and-restart/quit-handling.h"
#include "quit-and-restart/quit-state.h"
#include "quit-and-restart/restart.h"
#include "remote-sessions/remote-machines.h"
#include "root-watch/root-watch.h"
#include "start-up/bundle.h"
#include "start-up/child-environment.h"
#include "start-up/host-help.h"
#include "start-up/new-app.h"
#include "start-up/signals.h"
#include "start-up/tool-modes.h"
#include "support/event-loop.h"
#include "updates/update-choices.h"
#include "updates/updater.h"

namespace host {
namespace {

[[noreturn]] void finish(const ToolResult& result) {
    platform::writeAll(platform::standardOutput, result.out);
    platform::say(result.err);
    platform::exitNow(result.status);
}

// Read without iostreams, whose set-up would otherwise run at every start.
std::string everythingOnStandardInput() {
    std::string text;
    char buffer[1 << 16];
    while (std::size_t count = platform::readSome(0, buffer, sizeof buffer)) text.append(buffer, count);
    return text;
}

bool firstArgumentIs(const Arguments& commandLine, const char* flag) {
    return !commandLine.empty() && commandLine.front() == flag;
}

const Json& infoValue(const Bundle& bundle, const char* key) {
    static const Json absent;
    auto found = bundle.info.find(key);
    return found == bundle.info.end() ? absent : *found;
}

// Bun from the PATH, else the copy the source tree's setup pinned.
NewAppParts newAppPartsOf(const std::filesystem::path& executablePath) {
    const char* path = std::getenv("PATH");
    auto bun = programOnThePath("bun", path ? path : "");
    if (!bun) {
        if (auto tools = hostFolder(executablePath, "bin", ".tools/node_modules/.bin", "bun"))
            if (platform::isExecutableFile(*tools / "bun")) bun = *tools / "bun";
    }
    return NewAppParts{executablePath, kitFolder(executablePath), bun};
}

// The messages this host acts on so far; the others are recognised and dropped.
std::shared_ptr<const MessageHandlers> messageHandlers() {
    auto handlers = std::make_shared<MessageHandlers>();
    handlers->menu = drawTheChildsMenu;
    handlers->menuBranch = drawTheChildsBranch;
    handlers->popUp = [] { popUpTheChildsMenuAtTheCursor(); };
    handlers->menuUnavailable = showUnavailableMenu;
    handlers->setupQuitSenders = [](std::set<std::string> senders) {
        setupQuitListener = QuitListener{shellPid().value_or(0), std::move(senders)};
    };
    handlers->setupQuitSettled = [](bool restarting) { finishSettingsQuit("settled", restarting); };
    handlers->focusReplies = [] { focusReturn().childReplies = true; };
    handlers->hotKeys = [](const Json& rows) {
        if (ChildHotKeys* hotKeys = childHotKeys()) hotKeys->take(rows);
    };
    handlers->urlReply = [](const std::string& url, std::optional<std::string> focus, std::optional<std::int32_t> panel) {
        focusReturn().replied(url, focus, panel);
    };
    // Focus return ignores replies until a shell announced them.
    handlers->urlRepliesAnnounced = std::make_shared<std::atomic<bool>>(false);
    handlers->panel = [](const Json& panel) { panelHost().call(panel); };
    handlers->badge = [](const Badge& badge) { badgeOwner().show(badge); };
    handlers->watchApps = [] { appsWatch().start(); };
    return handlers;
}

void reopenTheMenuOrAskTheChild() {
    if (!reopenMenu || !reopenMenu()) askTheChildToReopen();
}

SignalHandlers signalHandlers() {
    SignalHandlers handlers;
    handlers.termination = [] {
        terminating = true;
        endTheShell("term");
    };
    handlers.interruption = [] { signalTheShell(SIGINT); };
    handlers.swap = askForAShellSwap;
    handlers.reopenHeard = theChildHearsReopen;
    handlers.menuAsked = reopenTheMenuOrAskTheChild;
    handlers.updateCheckAsked = checkForUpdatesFromTheShell;
    return handlers;
}

ShellSettings shellSettingsOf(const RuntimeConfiguration& config, const ChildEnvironment& environment,
                              const Arguments& commandLine) {
    ShellSettings settings;
    settings.executable = config.executable;
    if (!config.frozen) settings.arguments.push_back(*config.runtimeValue("shell"));
    settings.arguments.insert(settings.arguments.end(), commandLine.begin(), commandLine.end());
    settings.environment = environment.environment;
    settings.piped = config.piped;
    settings.recognised = {config.piped && config.runtimeSays("panel", "host"),
                           config.piped && config.runtimeSays("hotkeys", "child"), config.drawsTheChildsMenu};
    settings.handlers = messageHandlers();
    if (settings.recognised.hostsTheChildsPanel) settings.ended = [] { panelHost().closeAll(); };
    if (const std::string* socket = config.runtimeValue("socket")) settings.socketPath = *socket;
    settings.hostedByItsParent = environment.hostedByItsParent;
    return settings;
}

int startTheHost(int argc, char** argv) {
    // The process and its bundle; the tool modes that need no runtime file.
    std::int32_t bornUnder = platform::parentPid();
    Arguments commandLine(argv + std::min(argc, 1), argv + argc);
    std::string argv0 = argc > 0 ? argv[0] : "";
    std::string executablePath = platform::ownExecutablePath(argv0).string();
    Bundle bundle = bundleOfExecutable(executablePath);

    // The host's own help, and a new app: these need no bundle.
    if (commandLine == Arguments{hostVersionFlag}) finish(ToolResult{hostVersion() + "\n", "", 0});
    const bool insideABundle = isInsideABundle(executablePath);
    if (commandLine == Arguments{hostHelpFlag} || (commandLine.empty() && !insideABundle))
        finish(ToolResult{hostUsage(documentsFolder(executablePath)), "", 0});
    if (firstArgumentIs(commandLine, newAppFlag)) finish(createTheNewApp(commandLine, newAppPartsOf(executablePath)));

    if (commandLine == Arguments{publishMenuFlag}) finish(publishTheMenuFromStdin(everythingOnStandardInput()));
    if (firstArgumentIs(commandLine, loginFlag)) {
        auto items = platform::launchAgentLoginItems(bundle.directory, platform::autostartDirectory());
        finish(answerTheLogin(commandLine, bundle.identifier, launchAgentPlists(bundle.directory), *items));
    }
    if (firstArgumentIs(commandLine, desktopEntryFlag)) {
        std::optional<platform::DesktopEntry> entry;
        if (bundle.identifier) {
            entry = platform::DesktopEntry{*bundle.identifier, desktopNameOf(bundle), executablePath,
                                           schemesOf(bundle.info)};
        }
        finish(answerTheDesktopEntry(commandLine, entry));
    }
    std::vector<HotKey> declaredHotKeys = declaredHotKeysOf(infoValue(bundle, hotKeysKey));
    configureTheRemoteMachines(remoteMachinesOf(infoValue(bundle, remoteMachinesKey), platform::homeDirectory()));
    if (firstArgumentIs(commandLine, hotKeyPlanFlag)) finish(planTheHotKeys(commandLine, declaredHotKeys));
    if (firstArgumentIs(commandLine, badgePlanFlag)) {
        platform::connectTheDesktop(std::getenv(platform::DESKTOP_SOCKET_VARIABLE),
                                    {"", bundle.directory.string(), desktopNameOf(bundle)}, platform::DesktopUse::tool);
        finish(planTheBadge(commandLine, platform::desktop().onScreenWindows()));
    }

    // The runtime file.
    std::vector<std::string> runtimeFiles = runtimeFilesOf(bundle);
    if (!bundle.identifier) unavailable("CFBundleIdentifier is missing");
    std::string why;
    auto runtimeFile = chosenRuntimeFile(runtimeFiles, executableNameOf(argv0), &why);
    if (!runtimeFile) unavailable(why);
    if (firstArgumentIs(commandLine, whichRuntimeFlag)) finish(ToolResult{*runtimeFile + "\n", "", 0});
    std::filesystem::path home = platform::homeDirectory();
    auto config = readTheRuntime(bundle, *bundle.identifier, *runtimeFile, home, &why);
    if (!config) unavailable(why);
    if (auto warning = pipelessWarningOf(*config)) platform::say(*warning);

    // The shell's environment.
    ChildEnvironmentInputs inputs{platform::ownEnvironment(), platform::ownPid(), bornUnder, config->prefix,
                                  config->executable, config->frozen.has_value(), config->runtime,
                                  config->runtimeObject, bundle.directory, home};
    ChildEnvironment environment = childEnvironmentOf(inputs, std::filesystem::exists(ownViewsOf(bundle.directory)));

    // Signals first, while the host has one thread: every later thread inherits the blocked mask.
    std::signal(SIGPIPE, SIG_IGN);
    installTheSignalSources(signalHandlers());

    // The shell, its logs and its messages.
    std::filesystem::path menuDirectory = platform::userDataDirectory() / config->identity;
    const std::string* log = config->runtimeValue("log");
    configureTheDeathLog(log ? std::optional<std::string>(*log) : std::nullopt, menuDirectory);
    const std::string* links = config->runtimeValue("links");
    const std::filesystem::path linkLog = links ? std::filesystem::path(*links) : menuDirectory / "links.jsonl";
    configureTheLinkLog(linkLog);
    configureTheMessages({config->piped && config->runtimeSays("front", "tell")});
    configureTheShell(shellSettingsOf(*config, environment, commandLine));
    configureTheRestart({config->identity, executablePath, argv0, commandLine});
    makeChild();

    // The desktop: the application starts without a Dock icon or menu bar. When it already runs
    // on this desktop, this instance hands its arguments over and leaves.
    platform::connectTheDesktop(std::getenv(platform::DESKTOP_SOCKET_VARIABLE),
                                {config->identity, bundle.directory.string(), desktopNameOf(bundle)});
    if (auto status = platform::handOverToTheRunningInstance(commandLine)) platform::exitNow(*status);
    platform::Desktop& desktop = platform::desktop();
    desktop.setActivationPolicy(platform::ActivationPolicy::prohibited);
    desktop.observeTheWorkspace([](platform::WorkspaceChange change, const platform::RunningApplication& application) {
        if (change == platform::WorkspaceChange::activated) tellTheChildTheFront(application.bundleIdentifier);
    });

    // The root: the host leaves with it (unless it is pid 1), and a root already gone means no shell.
    configureTheRootWatch({environment.rootWaitSeconds, menuDirectory / "awaiting-root.json", 3});
    if (bornUnder != launchdPid) {
        watchTheRoot(bornUnder);
        if (platform::parentPid() != bornUnder) rootGone(bornUnder);
    }

    // The shell starts as soon as it is known to be this desktop's one instance: what follows
    // acts on its messages and signals only once the loop runs. Its output is read from then on.
    watch();
    if (!leavingTheHost() && !run(&why)) {
        platform::say(why + "\n");
        platform::exitNow(71);
    }
    listen();

    // Links in, focus back, quitting: the desktop's requests.
    makeTheFocusReturn(linkLog);
    const std::string* opens = config->runtimeValue("opens");
    configureTheURLIntake({config->identity, config->schemes, config->linkExtension, linkFileBytes,
                           config->fileExtension, config->fileLinkHead, config->linkRelayPrefix,
                           opens ? std::optional<std::filesystem::path>(*opens) : std::nullopt});
    const std::optional<std::string> displayChangeURL = displayChangeURLOf(bundle.info, config->schemes);
    configureTheDisplayChange(displayChangeURL);
    configureTheQuitHandling({bundle.directory, applicationNameOf(bundle.info, executableNameOf(argv0))});
    platform::DesktopHandlers desktopHandlers;
    if (!config->schemes.empty()) desktopHandlers.getURL = openURL;
    desktopHandlers.openURLs = openURLs;
    if (!config->services.empty()) desktopHandlers.servicesRequest = openFiles;
    if (displayChangeURL) desktopHandlers.displayReconfigured = displayReconfigured;
    desktopHandlers.shouldTerminate = shouldTerminate;
    desktopHandlers.reopen = [] {
        focusReturn().reopened();
        reopenTheMenuOrAskTheChild();
    };
    desktop.setHandlers(desktopHandlers);

    // The status menu.
    const bool hosted = environment.hostedByItsParent;
    const std::filesystem::path userDefaults =
        platform::UserDefaults::fileFor(config->identity, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    configureTheDockPreference({hosted, userDefaults});
    std::filesystem::path resources = bundle.directory / "Contents" / "Resources";
    makeTheMenuOwner({config->drawsTheChildsMenu, hosted,
                      config->drawsTheChildsMenu && config->runtimeSays("opened", "tell"), config->identity,
                      menuDirectory / "menu.json",
                      [resources](const std::string& key) {
                          return platform::localizedString(resources, key, platform::desktop().preferredLanguages());
                      },
                      [menuDirectory] { listenForTheHost(menuDirectory / "menu.sock"); }});
    configureTheHostRequests({config->schemes, linkFileBytes});

    // Hot keys, panels and updates, the shell's hot keys, the apps watch and badges.
    if (config->piped && !declaredHotKeys.empty()) {
        const bool iso = desktop.keyboardLayoutType() == platform::KeyboardLayout::iso;
        makeTheHotKeyOwner({declaredHotKeys, menuDirectory / activationFileName,
                            iso ? isoTopLeftKeyCode : ansiTopLeftKeyCode});
    }
    // Panels and updates share the views library, loaded on first need.
    makeThePanelHost(viewsPathOf(environment.environment, bundle.directory));
    const Json& build = infoValue(bundle, "CFBundleVersion");
    configureTheUpdates({updateFeedOf(bundle.info, config->frozen.has_value()), updateChoicesOf(config->runtimeObject),
                         menuAttributionOf(config->runtimeObject),
                         speaksTurkishIn(platform::desktop().preferredLanguages()),
                         build.is_string() ? build.get<std::string>() : "", userDefaults, panelHost().viewsPath(),
                         [](const std::string& symbol, std::string* error) { return panelHost().entry(symbol, error); }});
    if (config->piped && config->runtimeSays("hotkeys", "child")) makeTheChildHotKeys();
    makeTheAppsWatch();
    makeTheBadgeOwner();

    if (!leavingTheHost()) {
        tellTheChildTheFront(platform::desktop().frontApplicationIdentifier());
        loop::postToTheMainQueue(startTheUpdaterOfTheFeed);
    }
    loop::runTheMainLoop();
    return 0;
}

}  // namespace
}  // namespace host

int main(int argc, char** argv) { return host::startTheHost(argc, argv); }
