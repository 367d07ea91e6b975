// XDG desktop entries: how the system names an application. The host takes an entry's desktop
// file id as the application's bundle identifier, its Name as the name and its file as the
// path. Main thread only.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host::platform::x11 {

struct DesktopEntry {
    std::string id;  // the desktop file id, such as "org.example.Editor"
    std::string name;
    std::filesystem::path file;
    std::optional<std::string> startupWMClass;
    std::string exec;
};

// The folders of entries, the most important first: "applications" below XDG_DATA_HOME (else
// ~/.local/share), then below each of XDG_DATA_DIRS (else /usr/local/share and /usr/share).
std::vector<std::filesystem::path> applicationFolders();

class DesktopEntries {
public:
    // Reads every application entry of the folders. The first entry of an id wins, also when
    // it is a Hidden one, which hides the others.
    explicit DesktopEntries(std::vector<std::filesystem::path> folders);

    // The entry whose StartupWMClass is the window's class, else its instance, else the entry
    // whose Exec program is `executable` (a path); none when no entry fits.
    const DesktopEntry* entryOf(const std::string& className, const std::string& instance,
                                const std::optional<std::filesystem::path>& executable) const;

    // Reads the folders again when one of them changed since the last reading.
    void readAgainWhenChanged();

private:
    void read();
    std::optional<std::filesystem::path> programOf(std::size_t index) const;

    std::vector<std::filesystem::path> folders_;
    std::vector<std::optional<std::filesystem::file_time_type>> readAt_;
    std::vector<DesktopEntry> entries_;
    mutable std::map<std::size_t, std::optional<std::filesystem::path>> programs_;
};

}  // namespace host::platform::x11
