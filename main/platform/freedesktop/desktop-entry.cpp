// The desktop entry, the session service file and mimeapps.list, written for --desktop-entry.
#include <gio/gio.h>

#include <cstdlib>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/desktop-entry.h"
#include "platform/files.h"
#include "platform/freedesktop/desktop-entry-format.h"
#include "platform/process.h"

namespace host::platform {
namespace fs = std::filesystem;
namespace {

constexpr const char* DEFAULTS_SECTION = "[Default Applications]";
constexpr const char* SCHEME_HANDLER = "x-scheme-handler/";

fs::path xdgFolder(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value && value[0] == '/' ? fs::path(value) : homeDirectory() / fallback;
}

fs::path entryFile(const std::string& identity) {
    return xdgFolder("XDG_DATA_HOME", ".local/share") / "applications" / (identity + ".desktop");
}

fs::path serviceFile(const std::string& identity) {
    return xdgFolder("XDG_DATA_HOME", ".local/share") / "dbus-1" / "services" / (identity + ".service");
}

fs::path mimeappsFile() { return xdgFolder("XDG_CONFIG_HOME", ".config") / "mimeapps.list"; }

// A string value: backslash and the control characters escaped, a leading space kept.
std::string stringValue(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '\n') escaped += "\\n";
        else if (c == '\t') escaped += "\\t";
        else if (c == '\r') escaped += "\\r";
        else escaped += c;
    }
    if (escaped.starts_with(' ')) escaped.replace(0, 1, "\\s");
    return escaped;
}

// The service's Exec is split as a shell would: single quotes keep everything but a quote.
std::string shellQuoted(const std::string& argument) {
    std::string quoted = "'";
    for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string entryText(const DesktopEntry& entry) {
    std::string mimeTypes;
    for (const auto& scheme : entry.schemes) mimeTypes += SCHEME_HANDLER + scheme + ";";
    std::string text = "[Desktop Entry]\nType=Application\nVersion=1.5\nName=" + stringValue(entry.name) +
                       "\nExec=" + execArgument(entry.executable) + " %U\nDBusActivatable=true\nTerminal=false\n";
    if (!mimeTypes.empty()) text += "MimeType=" + mimeTypes + "\n";
    return text + "Actions=quit;\n\n[Desktop Action quit]\nName=Quit\n";
}

std::string serviceText(const DesktopEntry& entry) {
    return "[D-BUS Service]\nName=" + entry.identity + "\nExec=" + shellQuoted(entry.executable) + "\n";
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

bool isSectionHeader(const std::string& line) { return line.starts_with('['); }

// The key of a "key=value" line, trimmed; empty for any other line.
std::string keyOf(const std::string& line) {
    auto equals = line.find('=');
    if (equals == std::string::npos || line.starts_with('#')) return "";
    std::string key = line.substr(0, equals);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    return key;
}

std::vector<std::string> valuesOf(const std::string& line) {
    std::vector<std::string> values;
    std::istringstream list(line.substr(line.find('=') + 1));
    for (std::string value; std::getline(list, value, ';');) {
        while (!value.empty() && value.front() == ' ') value.erase(0, 1);
        if (!value.empty()) values.push_back(value);
    }
    return values;
}

std::string lineOf(const std::string& key, const std::vector<std::string>& values) {
    std::string line = key + "=";
    for (const auto& value : values) line += value + ";";
    return line;
}

// The range of the defaults section's lines after its header: [first, end).
std::pair<std::size_t, std::size_t> defaultsSection(std::vector<std::string>& lines) {
    std::size_t header = 0;
    while (header < lines.size() && lines[header] != DEFAULTS_SECTION) ++header;
    if (header == lines.size()) {
        if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
        lines.emplace_back(DEFAULTS_SECTION);
    }
    std::size_t end = header + 1;
    while (end < lines.size() && !isSectionHeader(lines[end])) ++end;
    return {header + 1, end};
}

// Our entry first in each scheme's line, the other handlers kept after it as fallbacks.
std::string withTheDefaults(const std::string& text, const std::string& desktopFile,
                            const std::set<std::string>& schemes) {
    std::vector<std::string> lines = linesOf(text);
    for (const auto& scheme : schemes) {
        auto [first, end] = defaultsSection(lines);
        const std::string key = SCHEME_HANDLER + scheme;
        std::size_t found = first;
        while (found < end && keyOf(lines[found]) != key) ++found;
        std::vector<std::string> values{desktopFile};
        if (found < end) {
            for (const auto& value : valuesOf(lines[found])) {
                if (value != desktopFile) values.push_back(value);
            }
            lines[found] = lineOf(key, values);
        } else {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(first), lineOf(key, values));
        }
    }
    return joined(lines);
}

std::string withoutTheDefaults(const std::string& text, const std::string& desktopFile) {
    std::vector<std::string> lines = linesOf(text);
    std::vector<std::string> kept;
    bool inDefaults = false;
    for (const auto& line : lines) {
        if (isSectionHeader(line)) inDefaults = line == DEFAULTS_SECTION;
        const std::string key = keyOf(line);
        std::vector<std::string> values = key.empty() ? std::vector<std::string>{} : valuesOf(line);
        if (!inDefaults || key.empty() || std::erase(values, desktopFile) == 0) {
            kept.push_back(line);
        } else if (!values.empty()) {
            kept.push_back(lineOf(key, values));
        }
    }
    return joined(kept);
}

}  // namespace

std::string execArgument(const std::string& argument) {
    const bool needsQuotes = argument.empty() || argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`=") != std::string::npos;
    std::string quoted;
    if (needsQuotes) {
        quoted = "\"";
        for (char c : argument) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
        }
        quoted += "\"";
    } else {
        quoted = argument;
    }
    std::string escaped;
    for (char c : quoted) {
        if (c == '\\') escaped += "\\\\";
        else if (c == '%') escaped += "%%";
        else escaped += c;
    }
    return escaped;
}

bool writeTheDesktopEntry(const DesktopEntry& entry, std::string* error) {
    if (!g_dbus_is_name(entry.identity.c_str()) || g_dbus_is_unique_name(entry.identity.c_str())) {
        *error = "the bundle identifier " + entry.identity + " is no D-Bus name";
        return false;
    }
    for (char c : entry.executable) {
        if (c == '\n' || c == '\r') return *error = "the executable's path has a line break", false;
    }
    if (!writeFileAtomically(entryFile(entry.identity), entryText(entry), error)) return false;
    if (!writeFileAtomically(serviceFile(entry.identity), serviceText(entry), error)) return false;
    if (entry.schemes.empty()) return true;
    const std::string mimeapps = contentsOf(mimeappsFile()).value_or("");
    return writeFileAtomically(mimeappsFile(), withTheDefaults(mimeapps, entry.identity + ".desktop", entry.schemes),
                               error);
}

bool removeTheDesktopEntry(const std::string& identity, std::string* error) {
    if (identity.find('/') != std::string::npos) return *error = "the bundle identifier names no file", false;
    std::error_code failure;
    fs::remove(entryFile(identity), failure);
    if (!failure) fs::remove(serviceFile(identity), failure);
    if (failure) return *error = failure.message(), false;
    auto mimeapps = contentsOf(mimeappsFile());
    if (!mimeapps) return true;
    const std::string edited = withoutTheDefaults(*mimeapps, identity + ".desktop");
    return edited == *mimeapps || writeFileAtomically(mimeappsFile(), edited, error);
}

bool hasTheDesktopEntry(const std::string& identity) {
    std::error_code error;
    return identity.find('/') == std::string::npos && fs::exists(entryFile(identity), error);
}

}  // namespace host::platform
