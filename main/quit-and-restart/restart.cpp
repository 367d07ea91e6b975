#include "quit-and-restart/restart.h"

#include <algorithm>

#include "platform/descriptors.h"
#include "platform/process.h"
#include "platform/processes.h"

namespace host {
namespace {

RestartSettings settings;

[[noreturn]] void restartTheService(const std::string& service) {
    platform::restoreTheDefaultTermination();
    std::string error;
    auto systemctl = platform::spawnProcess(
        {"/usr/bin/systemctl", {"systemctl", "--user", "restart", service}, platform::ownEnvironment()}, &error);
    if (!systemctl) {
        platform::say("kickstart failed: " + error + "\n");
        platform::exitNow(RESTART_STATUS);
    }
    platform::waitForTheEnd(*systemctl);  // SIGTERM from the service manager may end us here
    platform::exitNow(RESTART_STATUS);
}

[[noreturn]] void startANewInstance() {
    platform::SpawnRequest request;
    request.program = settings.executablePath;
    request.arguments.push_back(settings.argv0);
    for (const auto& argument : relaunchArguments(settings.commandLine)) request.arguments.push_back(argument);
    request.environment = platform::ownEnvironment();
    std::string error;
    if (!platform::spawnDetached(request, &error)) {
        platform::say(error + "\n");
        platform::exitNow(71);
    }
    platform::exitNow(0);
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
