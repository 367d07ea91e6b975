#include "start-up/host-help.h"

#include <system_error>

namespace host {
namespace fs = std::filesystem;

#ifndef HOST_VERSION
#define HOST_VERSION "0.0.0"
#endif
#ifndef HOST_SOURCE_DIR
#define HOST_SOURCE_DIR ""
#endif

namespace {

// The runtime values that only mean something when the shell's output is a message channel.
struct PipedRequest {
    const char* key;
    const char* value;
};
constexpr PipedRequest pipedRequests[] = {{"menu", "child"}, {"panel", "host"}, {"hotkeys", "child"}, {"front", "tell"}};

}  // namespace

std::string hostVersion() { return std::string("menu-bar-host ") + HOST_VERSION; }

std::string hostUsage(const std::optional<fs::path>& documents) {
    std::string text = hostVersion() + R"(: the native host of a menu-bar application

Started as the executable of an application bundle (X.app/Contents/MacOS/<name>), it reads
Contents/Info.plist and Contents/Resources/<name>-runtime.json, starts the shell the runtime
file names and runs until the shell ends. Every argument but the tool modes below goes to the
shell.

Tool modes (answer and exit):
  --new-app <folder> --name <Name> --id <bundle id> [--scheme <scheme>]
                                      create a ready bundle with a TypeScript shell on the kit
  --publish-menu-from-stdin           normalise a menu publication read from standard input
  --login on|off|status               the bundle's login items as XDG autostart entries
  --desktop-entry on|off|status       the bundle's desktop entry
  --hotkey-plan <front bundle id>     which declared hot keys would be live
  --badge-plan '{"badge":{"pid":<pid>,"text":<text>,"ms":<ms>}}'
                                      where that badge would go
  --which-runtime                     the runtime file in use
  --host-help | --host-version        this text | the version

Environment read by the host:
  MENU_BAR_DESKTOP            a socket path: the scripted desktop listening there;
                              "headless": no desktop; unset: the freedesktop desktop when
                              the session bus or a display is there, else headless
  MENU_BAR_HOSTED=1           the parent hosts the app: no status item, menu.json instead
  MENU_BAR_ROOT_WAIT_SECONDS  how long a hosted host waits to be adopted by a new root
  SWIFT_VIEWS_DYLIB           the views library (panels and updates)
  HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, PATH

)";
    if (documents) {
        text += "Documents: " + (*documents / "shell-protocol.md").string() + " (the shell's messages, the\n" +
                "runtime file, the environment, the files written) and " + (*documents / "desktop-protocol.md").string() +
                ".\n";
    } else {
        text += "Documents: shell-protocol.md and desktop-protocol.md in the project's docs/ folder.\n";
    }
    return text;
}

bool isInsideABundle(const fs::path& executablePath) {
    fs::path folder = executablePath.parent_path();
    return folder.filename() == "MacOS" && folder.parent_path().filename() == "Contents";
}

std::optional<fs::path> hostFolder(const fs::path& executablePath, const fs::path& installed,
                                   const fs::path& inSource, const fs::path& probe) {
    std::vector<fs::path> candidates{executablePath.parent_path().parent_path() / installed};
    if (*HOST_SOURCE_DIR) candidates.push_back(fs::path(HOST_SOURCE_DIR) / inSource);
    for (const fs::path& folder : candidates) {
        std::error_code error;
        if (fs::exists(folder / probe, error)) return folder;
    }
    return std::nullopt;
}

std::optional<fs::path> kitFolder(const fs::path& executablePath) {
    return hostFolder(executablePath, "share/menu-bar-host/kit", "kit", "src/index.ts");
}

std::optional<fs::path> documentsFolder(const fs::path& executablePath) {
    return hostFolder(executablePath, "share/doc/menu-bar-host", "docs", "shell-protocol.md");
}

std::optional<std::string> pipelessWarningOf(const RuntimeConfiguration& config) {
    if (config.piped) return std::nullopt;
    std::string asked;
    for (const PipedRequest& request : pipedRequests) {
        if (!config.runtimeSays(request.key, request.value)) continue;
        asked += std::string(asked.empty() ? "" : ", ") + "\"" + request.key + "\": \"" + request.value + "\"";
    }
    if (asked.empty()) return std::nullopt;
    return "warning: " + config.runtimeFile + " asks for " + asked +
           ", but the bundle declares no URL scheme and no Services, so the shell has no message channel: "
           "its lines go to standard output unread (add CFBundleURLTypes to Info.plist)\n";
}

}  // namespace host
