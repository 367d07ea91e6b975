#include "start-up/child-environment.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <vector>

#include "start-up/bundle.h"

namespace host {
namespace {

const std::vector<std::string> callerSessionPrefixes = {"CLAUDE_CODE_"};
const std::set<std::string> callerSessionNames = {"CLAUDECODE"};
const std::set<std::string> codeInjectingNames = {"BUN_OPTIONS", "NODE_OPTIONS"};
constexpr const char* hostedVariable = "MENU_BAR_HOSTED";
constexpr const char* rootWaitVariable = "MENU_BAR_ROOT_WAIT_SECONDS";
constexpr const char* defaultPath = "/usr/bin:/bin:/usr/sbin:/sbin";

Environment filteredInheritance(const Environment& inherited) {
    Environment kept;
    for (const auto& [name, value] : inherited) {
        if (!isCallerSession(name) && !codeInjectingNames.count(name)) kept.emplace(name, value);
    }
    return kept;
}

// A whole-text decimal number; a negative or non-finite wait would never end or never start.
double secondsOf(const std::string& text) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return 0;
    errno = 0;
    char* end = nullptr;
    double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(seconds) || seconds < 0) return 0;
    return seconds;
}

void putThePath(Environment& environment, const std::string& executable) {
    auto inherited = environment.find("PATH");
    std::string rest = inherited == environment.end() ? defaultPath : inherited->second;
    environment["PATH"] = std::filesystem::path(executable).parent_path().string() + ":" + rest;
}

void putTheRuntimeValues(Environment& environment, const ChildEnvironmentInputs& inputs) {
    const std::pair<const char*, std::string> places[] = {
        {"logs", inputs.prefix + "LOG_ROOT"},
        {"data", "WICKERLY_HOME"},
        {"socket", inputs.prefix + "SOCKET_PATH"},
        {"copy", inputs.prefix + "COPY_OUTPUT_DIR"},
    };
    for (const auto& [key, name] : places) {
        if (auto found = inputs.runtime.find(key); found != inputs.runtime.end()) environment[name] = found->second;
    }
    if (auto found = inputs.runtime.find("temporary"); found != inputs.runtime.end() && found->second == "true") {
        environment[inputs.prefix + "TEMPORARY"] = "1";
    }
}

// The runtime's own entries win over everything before them; one non-string value voids them all.
void putTheRuntimeEnvironment(Environment& environment, const ChildEnvironmentInputs& inputs) {
    const Json* extra = objectMember(inputs.runtimeObject, "environment");
    if (!extra) return;
    for (const auto& [name, value] : extra->items()) {
        if (!value.is_string()) return;
    }
    for (const auto& [name, value] : extra->items()) {
        environment[name] = resolvedRuntimeValue(value.get<std::string>(), inputs.bundleDirectory, inputs.home);
    }
}

}  // namespace

bool isCallerSession(const std::string& name) {
    if (callerSessionNames.count(name)) return true;
    for (const auto& prefix : callerSessionPrefixes) {
        if (name.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

std::string ownViewsOf(const std::filesystem::path& bundleDirectory) {
    return (bundleDirectory / "Contents" / "Frameworks" / "libViews.dylib").string();
}

ChildEnvironment childEnvironmentOf(const ChildEnvironmentInputs& inputs, bool ownViewsExists) {
    ChildEnvironment result;
    Environment& environment = result.environment;
    environment = filteredInheritance(inputs.inherited);
    if (!inputs.frozen) putThePath(environment, inputs.executable);
    environment[inputs.prefix + "LAUNCHER_PID"] = std::to_string(inputs.hostPid);

    auto hosted = environment.find(hostedVariable);
    result.hostedByItsParent = inputs.parentPid != 1 && hosted != environment.end() && hosted->second == "1";
    if (result.hostedByItsParent) environment[inputs.prefix + "HOSTED"] = "1";
    environment.erase(hostedVariable);

    auto wait = environment.find(rootWaitVariable);
    if (result.hostedByItsParent && wait != environment.end()) result.rootWaitSeconds = secondsOf(wait->second);
    environment.erase(rootWaitVariable);

    environment[inputs.prefix + "REOPEN_READY_SIGNAL"] = reopenReadySignalName;
    environment[inputs.prefix + "BUNDLE_PATH"] = inputs.bundleDirectory.string();
    putTheRuntimeValues(environment, inputs);
    putTheRuntimeEnvironment(environment, inputs);

    result.ownViews = ownViewsOf(inputs.bundleDirectory);
    if (ownViewsExists) environment["SWIFT_VIEWS_DYLIB"] = result.ownViews;
    return result;
}

}  // namespace host
