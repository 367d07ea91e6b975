// Launch agents as freedesktop autostart entries: enabling an agent writes
// <autostart>/<agent name>.desktop from the agent's ProgramArguments (or Program).
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/login-items.h"
#include "platform/process.h"
#include "platform/files.h"
#include "platform/freedesktop/desktop-entry-format.h"
#include "support/plist.h"

namespace host::platform {
namespace fs = std::filesystem;

namespace {

bool hasControlCharacter(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

std::string nameWithoutPlist(const std::string& plistName) {
    const std::string suffix = ".plist";
    return plistName.ends_with(suffix) ? plistName.substr(0, plistName.size() - suffix.size()) : plistName;
}

class XdgAutostart final : public LoginItems {
public:
    XdgAutostart(fs::path agents, fs::path autostart) : agents_(std::move(agents)), autostart_(std::move(autostart)) {}

    LoginStatus status(const std::string& plistName) override { return statusOf(plistName); }

    LoginStatus statusOf(const std::string& plistName) const {
        std::error_code error;
        if (!isAgentName(plistName) || !fs::is_regular_file(agents_ / plistName, error)) return LoginStatus::notFound;
        return fs::exists(entryOf(plistName), error) ? LoginStatus::enabled : LoginStatus::notRegistered;
    }

    bool enable(const std::string& plistName, std::string* error) override {
        std::vector<std::string> arguments;
        if (!agentArguments(plistName, &arguments, error)) return false;
        std::string exec;
        for (const auto& argument : arguments) exec += (exec.empty() ? "" : " ") + execArgument(argument);
        std::string entry = "[Desktop Entry]\nType=Application\nName=" + nameWithoutPlist(plistName) +
                            "\nExec=" + exec + "\nX-GNOME-Autostart-enabled=true\n";
        return writeFileAtomically(entryOf(plistName), entry, error);
    }

    bool disable(const std::string& plistName, std::string* error) override {
        std::error_code failure;
        if (!isAgentName(plistName)) return true;
        fs::remove(entryOf(plistName), failure);
        if (failure) *error = failure.message();
        return !failure;
    }

private:
    // A name that is one plain file name, so no entry can land outside the autostart folder.
    static bool isAgentName(const std::string& plistName) {
        return !plistName.empty() && plistName.find('/') == std::string::npos && plistName != "." &&
               plistName != ".." && !hasControlCharacter(plistName);
    }

    fs::path entryOf(const std::string& plistName) const {
        return autostart_ / (nameWithoutPlist(plistName) + ".desktop");
    }

    bool agentArguments(const std::string& plistName, std::vector<std::string>* arguments, std::string* error) const {
        if (statusOf(plistName) == LoginStatus::notFound) {
            *error = "no launch agent " + plistName + " in the bundle";
            return false;
        }
        auto agent = readPropertyList(agents_ / plistName);
        if (!agent || !agent->is_object()) return *error = plistName + " is not a property list", false;
        if (const Json* list = arrayMember(*agent, "ProgramArguments"); list && isArrayOfStrings(*list) && !list->empty()) {
            for (const auto& argument : *list) arguments->push_back(argument.get<std::string>());
        } else if (const std::string* program = stringMember(*agent, "Program")) {
            arguments->push_back(*program);
        } else {
            return *error = plistName + " has neither ProgramArguments nor Program", false;
        }
        for (const auto& argument : *arguments) {
            if (hasControlCharacter(argument)) return *error = plistName + " has a control character in its arguments", false;
        }
        return true;
    }

    fs::path agents_;
    fs::path autostart_;
};

}  // namespace

std::unique_ptr<LoginItems> launchAgentLoginItems(const fs::path& bundleDirectory, const fs::path& autostart) {
    return std::make_unique<XdgAutostart>(bundleDirectory / "Contents" / "Library" / "LaunchAgents", autostart);
}

fs::path autostartDirectory() {
    // A relative XDG_CONFIG_HOME is invalid and ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    fs::path base = config && config[0] == '/' ? fs::path(config) : homeDirectory() / ".config";
    return base / "autostart";
}

}  // namespace host::platform
