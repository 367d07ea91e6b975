// The host's entry: a fixed start-up sequence, read top to bottom. Tool modes and unusable
// configurations end the process before any shell, signal source or window exists.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <iterator>
#include <string>

#include "badges/badge-geometry.h"
#include "hot-keys/hot-key-chords.h"
#include "platform/files.h"
#include "platform/login-items.h"
#include "platform/process.h"
#include "platform/windows.h"
#include "start-up/bundle.h"
#include "start-up/child-environment.h"
#include "start-up/signals.h"
#include "start-up/tool-modes.h"
#include "support/event-loop.h"

namespace host {
namespace {

void writeAll(int fd, const std::string& text) {
    std::size_t written = 0;
    while (written < text.size()) {
        ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        written += static_cast<std::size_t>(n);
    }
}

[[noreturn]] void finish(const ToolResult& result) {
    writeAll(STDOUT_FILENO, result.out);
    writeAll(STDERR_FILENO, result.err);
    _exit(result.status);
}

std::string standardInput() {
    return std::string(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
}

bool firstArgumentIs(const Arguments& commandLine, const char* flag) {
    return !commandLine.empty() && commandLine.front() == flag;
}

const Json& infoValue(const Bundle& bundle, const char* key) {
    static const Json absent;
    auto found = bundle.info.find(key);
    return found == bundle.info.end() ? absent : *found;
}

int startTheHost(int argc, char** argv) {
    // The process and its bundle.
    std::int32_t bornUnder = platform::parentPid();
    Arguments commandLine(argv + std::min(argc, 1), argv + argc);
    std::string argv0 = argc > 0 ? argv[0] : "";
    Bundle bundle = bundleOfExecutable(platform::ownExecutablePath(argv0));

    if (commandLine == Arguments{publishMenuFlag}) finish(publishTheMenuFromStdin(standardInput()));
    if (firstArgumentIs(commandLine, loginFlag)) {
        auto items = platform::launchAgentLoginItems(bundle.directory, platform::autostartDirectory());
        finish(answerTheLogin(commandLine, bundle.identifier, launchAgentPlists(bundle.directory), *items));
    }

    std::vector<HotKey> declaredHotKeys = declaredHotKeysOf(infoValue(bundle, hotKeysKey));
    if (firstArgumentIs(commandLine, hotKeyPlanFlag)) finish(planTheHotKeys(commandLine, declaredHotKeys));
    if (firstArgumentIs(commandLine, badgePlanFlag)) finish(planTheBadge(commandLine, platform::onScreenWindows()));

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

    // The shell's environment.
    ChildEnvironmentInputs inputs{platform::ownEnvironment(), platform::ownPid(), bornUnder, config->prefix,
                                  config->executable, config->frozen.has_value(), config->runtime,
                                  config->runtimeObject, bundle.directory, home};
    ChildEnvironment child = childEnvironmentOf(inputs, std::filesystem::exists(ownViewsOf(bundle.directory)));
    (void)child;

    std::signal(SIGPIPE, SIG_IGN);
    bool terminating = false;
    SignalHandlers handlers;
    handlers.termination = [&terminating] { terminating = true; };
    installTheSignalSources(std::move(handlers));
    loop::runTheMainLoop();
    return 0;
}

}  // namespace
}  // namespace host

int main(int argc, char** argv) { return host::startTheHost(argc, argv); }
