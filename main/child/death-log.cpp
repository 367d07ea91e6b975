#include "child/death-log.h"

#include <algorithm>
#include <set>
#include <system_error>

#include <map>
#include <memory>

#include "platform/descriptors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/clock.h"
#include "support/event-loop.h"

namespace host {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> logValue;
fs::path supportFolder;
std::set<fs::path> toldOfTheLink;  // said once per log

// Logs stay open between lines. A log folder holds a file per shell, so only the few written
// last are kept open.
constexpr std::size_t MOST_OPEN_LOGS = 8;

struct Log {
    std::unique_ptr<platform::LogFile> file;
    std::string waiting;  // lines for the end of the running callback
    std::uint64_t lastUse = 0;
};

std::map<std::string, Log> logs;  // by path: comparing strings is cheaper than paths
std::uint64_t uses = 0;
bool writeScheduled = false;

// The folder is made once per opening, not per line.
bool open(const fs::path& path, Log& log) {
    log.file.reset();
    if (path.has_parent_path() && !platform::makePrivateFolders(path.parent_path())) return false;
    platform::LogFile::Opened why;
    log.file = platform::LogFile::open(path, &why);
    if (why == platform::LogFile::Opened::symbolicLink && toldOfTheLink.insert(path).second) {
        platform::say("log not written: " + path.string() + " is a symbolic link\n");
    }
    return log.file != nullptr;
}

// A log moved or removed since its last lines gets the next ones in a new file at its path, as
// when every line opened the file anew.
bool writeTheWaitingLines(const fs::path& path, Log& log) {
    if (log.waiting.empty()) return true;
    const bool written = (log.file && log.file->inPlace()) || open(path, log) ? log.file->write(log.waiting) : false;
    log.waiting.clear();
    return written;
}

void closeTheLeastRecentlyWritten() {
    while (logs.size() > MOST_OPEN_LOGS) {
        auto oldest = std::min_element(logs.begin(), logs.end(),
                                       [](const auto& a, const auto& b) { return a.second.lastUse < b.second.lastUse; });
        logs.erase(oldest);
    }
}

void writeEveryLog() {
    writeScheduled = false;
    for (auto& [path, log] : logs) writeTheWaitingLines(path, log);
    closeTheLeastRecentlyWritten();
}

fs::path fileInLogFolder(const fs::path& folder, std::int32_t pid) {
    std::string ending = "-" + std::to_string(pid) + ".jsonl";
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.starts_with("shell-") && name.ends_with(ending)) return folder / name;
    }
    std::string stamp = clockNow();
    std::replace(stamp.begin(), stamp.end(), ':', '-');
    return folder / ("shell-" + stamp + ending);
}

}  // namespace

void configureTheDeathLog(std::optional<std::string> log, fs::path supportDirectory) {
    logValue = std::move(log);
    supportFolder = std::move(supportDirectory);
}

fs::path deathLog(std::int32_t pid) {
    if (!logValue) return supportFolder / "shell.jsonl";
    if (logValue->ends_with(".jsonl")) return *logValue;
    return fileInLogFolder(*logValue, pid);
}

bool append(Json record, const fs::path& file) {
    if (record.is_object() && record.contains("kind")) {
        if (!record.contains("at")) record["at"] = clockNow();
        record["pid"] = platform::ownPid();
    }
    auto line = sortedJson(record);
    if (!line) return false;
    return appendLine(*line, file);
}

bool appendLine(std::string_view line, const fs::path& file) {
    Log& log = logs[file.native()];
    log.lastUse = ++uses;
    if (!log.file && !open(file, log)) {
        logs.erase(file.native());
        return false;
    }
    log.waiting.append(line).push_back('\n');
    if (!loop::insideACallback()) return writeTheWaitingLines(file, log);
    if (!writeScheduled) {
        writeScheduled = true;
        loop::whenThisCallbackReturns(writeEveryLog);
    }
    return true;
}

bool writeTheLogNow(const fs::path& file) {
    auto found = logs.find(file.native());
    return found == logs.end() || writeTheWaitingLines(file, found->second);
}

}  // namespace host
