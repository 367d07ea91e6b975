#include "quit-and-restart/restart.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>

#include "platform/process.h"
#include "platform/processes.h"

namespace host {
namespace {

RestartSettings settings;

void say(const std::string& line) { (void)!::write(STDERR_FILENO, line.data(), line.size()); }

[[noreturn]] void restartTheService(const std::string& service) {
    // The service manager stops this very process during the restart: let SIGTERM end it.
    std::signal(SIGTERM, SIG_DFL);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &term, nullptr);
    std::string error;
    auto systemctl = platform::spawnProcess(
        {"/usr/bin/systemctl", {"systemctl", "--user", "restart", service}, platform::ownEnvironment()}, &error);
    if (!systemctl) {
        say("kickstart failed: " + error + "\n");
        _exit(RESTART_STATUS);
    }
    platform::waitForTheEnd(*systemctl);  // SIGTERM from the service manager may end us here
    _exit(RESTART_STATUS);
}

[[noreturn]] void startANewInstance() {
    platform::SpawnRequest request;
    request.program = settings.executablePath;
    request.arguments.push_back(settings.argv0);
    for (const auto& argument : relaunchArguments(settings.commandLine)) request.arguments.push_back(argument);
    request.environment = platform::ownEnvironment();
    std::string error;
    if (!platform::spawnDetached(request, &error)) {
        say(error + "\n");
        _exit(71);
    }
    _exit(0);
}

}  // namespace

void configureTheRestart(RestartSettings newSettings) { settings = std::move(newSettings); }

std::vector<std::string> relaunchArguments(const std::vector<std::string>& commandLine) {
    std::vector<std::string> arguments = commandLine;
    if (std::find(arguments.begin(), arguments.end(), "--witness-wrapper") != arguments.end()) {
        arguments.push_back("--restart-witness-after");
    }
    return arguments;
}

void restart() {
    std::string service = settings.identity + ".service";
    if (platform::ownUserServiceName() == service) restartTheService(service);
    startANewInstance();
}

}  // namespace host
