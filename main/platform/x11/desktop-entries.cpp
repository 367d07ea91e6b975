#include "platform/x11/desktop-entries.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include <glib.h>

namespace host::platform::x11 {
namespace {

namespace fs = std::filesystem;

constexpr const char* GROUP = "Desktop Entry";
constexpr const char* ENTRY_SUFFIX = ".desktop";

std::vector<std::string> pathsIn(const char* list) {
    std::vector<std::string> paths;
    std::string rest = list;
    for (std::size_t start = 0; start <= rest.size();) {
        std::size_t end = rest.find(':', start);
        if (end == std::string::npos) end = rest.size();
        if (end > start) paths.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return paths;
}

std::optional<fs::file_time_type> changedAt(const fs::path& folder) {
    std::error_code error;
    auto time = fs::last_write_time(folder, error);
    if (error) return std::nullopt;
    return time;
}

std::optional<std::string> stringOf(GKeyFile* file, const char* key, bool localized = false) {
    gchar* value = localized ? g_key_file_get_locale_string(file, GROUP, key, nullptr, nullptr)
                             : g_key_file_get_string(file, GROUP, key, nullptr);
    if (!value) return std::nullopt;
    std::string text = value;
    g_free(value);
    return text;
}

// The id of an entry file: its path below the folder with "/" as "-", without ".desktop".
std::string idOf(const fs::path& relative) {
    std::string id = relative.generic_string();
    id.resize(id.size() - std::string(ENTRY_SUFFIX).size());
    std::replace(id.begin(), id.end(), '/', '-');
    return id;
}

// Application entries of one folder, in path order; Hidden ones as entries with no name.
std::vector<DesktopEntry> entriesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->path().extension() == ENTRY_SUFFIX && it->is_regular_file(error)) files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    std::vector<DesktopEntry> entries;
    for (const fs::path& file : files) {
        GKeyFile* keys = g_key_file_new();
        if (g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr) &&
            stringOf(keys, "Type") == "Application") {
            const bool hidden = g_key_file_get_boolean(keys, GROUP, "Hidden", nullptr);
            entries.push_back({idOf(file.lexically_relative(folder)), hidden ? "" : stringOf(keys, "Name", true).value_or(""),
                               file, hidden ? std::nullopt : stringOf(keys, "StartupWMClass"),
                               hidden ? "" : stringOf(keys, "Exec").value_or("")});
        }
        g_key_file_free(keys);
    }
    return entries;
}

bool isAnAssignment(const char* word) { return std::strchr(word, '=') != nullptr && word[0] != '='; }

// The program an Exec line starts (past "env NAME=value ..."), as a path; none when there is
// none or it is not found on PATH.
std::optional<fs::path> programOfExec(const std::string& exec) {
    gchar** words = nullptr;
    if (exec.empty() || !g_shell_parse_argv(exec.c_str(), nullptr, &words, nullptr)) return std::nullopt;
    gchar** word = words;
    if (*word && fs::path(*word).filename() == "env") {
        for (++word; *word && isAnAssignment(*word); ++word) {
        }
    }
    std::optional<fs::path> program;
    if (*word) {
        if (gchar* found = g_find_program_in_path(*word)) {
            std::error_code error;
            program = fs::weakly_canonical(found, error);
            g_free(found);
        }
    }
    g_strfreev(words);
    return program;
}

}  // namespace

std::vector<fs::path> applicationFolders() {
    std::vector<fs::path> folders;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome) folders.push_back(fs::path(dataHome) / "applications");
    else if (home && *home) folders.push_back(fs::path(home) / ".local/share/applications");
    const char* dataDirs = std::getenv("XDG_DATA_DIRS");
    for (const std::string& dir : pathsIn(dataDirs && *dataDirs ? dataDirs : "/usr/local/share:/usr/share")) {
        folders.push_back(fs::path(dir) / "applications");
    }
    return folders;
}

DesktopEntries::DesktopEntries(std::vector<fs::path> folders) : folders_(std::move(folders)) { read(); }

void DesktopEntries::read() {
    entries_.clear();
    programs_.clear();
    readAt_.clear();
    std::set<std::string> seen;
    for (const fs::path& folder : folders_) {
        readAt_.push_back(changedAt(folder));
        for (DesktopEntry& entry : entriesIn(folder)) {
            if (seen.insert(entry.id).second && !entry.name.empty()) entries_.push_back(std::move(entry));
        }
    }
}

void DesktopEntries::readAgainWhenChanged() {
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        if (changedAt(folders_[i]) != readAt_[i]) {
            read();
            return;
        }
    }
}

std::optional<fs::path> DesktopEntries::programOf(std::size_t index) const {
    auto known = programs_.find(index);
    if (known != programs_.end()) return known->second;
    return programs_[index] = programOfExec(entries_[index].exec);
}

const DesktopEntry* DesktopEntries::entryOf(const std::string& className, const std::string& instance,
                                            const std::optional<fs::path>& executable) const {
    for (const std::string* wmClass : {&className, &instance}) {
        if (wmClass->empty()) continue;
        for (const DesktopEntry& entry : entries_) {
            if (entry.startupWMClass == *wmClass) return &entry;
        }
    }
    if (!executable) return nullptr;
    std::error_code error;
    const fs::path running = fs::weakly_canonical(*executable, error);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (programOf(i) == running) return &entries_[i];
    }
    return nullptr;
}

}  // namespace host::platform::x11
