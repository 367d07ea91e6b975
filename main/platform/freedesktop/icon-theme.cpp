#include "platform/freedesktop/icon-theme.h"

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "platform/process.h"

namespace host::platform {
namespace fs = std::filesystem;
namespace {

// The standard icon names (Icon Naming Specification) closest to each symbol the host draws.
const std::map<std::string, std::string> STANDARD_ICON_NAMES = {
    {"app.badge", "application-x-executable"},
    {"arrow.clockwise", "view-refresh"},
    {"arrow.down.circle", "go-down"},
    {"arrow.triangle.2.circlepath", "view-refresh"},
    {"arrow.up.circle", "go-up"},
    {"bell", "preferences-desktop-notification"},
    {"bell.fill", "preferences-desktop-notification"},
    {"bell.slash", "notifications-disabled"},
    {"bolt", "battery-full-charging"},
    {"bolt.fill", "battery-full-charging"},
    {"book", "accessories-dictionary"},
    {"bookmark", "bookmark-new"},
    {"calendar", "x-office-calendar"},
    {"checkmark", "object-select"},
    {"checkmark.circle", "emblem-default"},
    {"checkmark.circle.fill", "emblem-default"},
    {"clock", "appointment-soon"},
    {"cloud", "weather-overcast"},
    {"desktopcomputer", "computer"},
    {"display", "video-display"},
    {"doc", "text-x-generic"},
    {"doc.on.doc", "edit-copy"},
    {"ellipsis", "view-more"},
    {"ellipsis.circle", "view-more"},
    {"envelope", "mail-unread"},
    {"exclamationmark.triangle", "dialog-warning"},
    {"eye", "view-reveal"},
    {"folder", "folder"},
    {"gear", "preferences-system"},
    {"gearshape", "preferences-system"},
    {"globe", "applications-internet"},
    {"heart", "emblem-favorite"},
    {"heart.fill", "emblem-favorite"},
    {"house", "user-home"},
    {"info.circle", "dialog-information"},
    {"keyboard", "input-keyboard"},
    {"laptopcomputer", "computer-laptop"},
    {"link", "insert-link"},
    {"list.bullet", "view-list"},
    {"lock", "system-lock-screen"},
    {"magnifyingglass", "edit-find"},
    {"minus", "list-remove"},
    {"moon", "weather-clear-night"},
    {"paperplane", "mail-send"},
    {"pause.fill", "media-playback-pause"},
    {"pencil", "document-edit"},
    {"person", "avatar-default"},
    {"play.fill", "media-playback-start"},
    {"plus", "list-add"},
    {"power", "system-shutdown"},
    {"questionmark.circle", "help-about"},
    {"sparkles", "starred"},
    {"square.and.arrow.up", "document-send"},
    {"star", "non-starred"},
    {"star.fill", "starred"},
    {"stop.fill", "media-playback-stop"},
    {"sun.max", "weather-clear"},
    {"trash", "user-trash"},
    {"wifi", "network-wireless"},
    {"xmark", "window-close"},
};

const char* const ICON_EXTENSIONS[] = {".png", ".svg", ".xpm"};

std::vector<fs::path> iconDirectories() {
    const fs::path home = homeDirectory();
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    std::vector<fs::path> directories;
    directories.push_back((dataHome && dataHome[0] == '/' ? fs::path(dataHome) : home / ".local" / "share") / "icons");
    directories.push_back(home / ".icons");
    std::istringstream dirs(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (!dir.empty() && dir[0] == '/') directories.push_back(fs::path(dir) / "icons");
    }
    directories.push_back("/usr/share/pixmaps");
    return directories;
}

bool isIconFile(const fs::path& file) {
    const std::string extension = file.extension().string();
    for (const char* known : ICON_EXTENSIONS) {
        if (extension == known) return true;
    }
    return false;
}

// Every icon name in the directories: themes lay icons out as <theme>/<size>/<context>/<name>
// or <theme>/<context>/<size>/<name>, so four levels reach them all.
std::unordered_set<std::string> installedIconNames() {
    constexpr int DEEPEST_LEVEL = 4;
    std::unordered_set<std::string> names;
    for (const fs::path& directory : iconDirectories()) {
        std::error_code error;
        fs::recursive_directory_iterator walk(directory, fs::directory_options::skip_permission_denied, error);
        for (fs::recursive_directory_iterator end; !error && walk != end; walk.increment(error)) {
            if (walk.depth() >= DEEPEST_LEVEL) walk.disable_recursion_pending();
            if (isIconFile(walk->path())) names.insert(walk->path().stem().string());
        }
    }
    return names;
}

}  // namespace

std::optional<std::string> themedIconName(const std::string& symbol) {
    static const std::unordered_set<std::string> installed = installedIconNames();
    std::vector<std::string> candidates{symbol};
    if (auto standard = STANDARD_ICON_NAMES.find(symbol); standard != STANDARD_ICON_NAMES.end()) {
        candidates.push_back(standard->second + "-symbolic");
        candidates.push_back(standard->second);
    }
    for (const std::string& name : candidates) {
        if (installed.contains(name)) return name;
    }
    return std::nullopt;
}

}  // namespace host::platform
