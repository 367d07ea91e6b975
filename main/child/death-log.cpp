#include "child/death-log.h"

#include <algorithm>
#include <set>
#include <system_error>

#include "platform/descriptors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/clock.h"

namespace host {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> logValue;
fs::path supportFolder;
std::set<fs::path> toldOfTheLink;  // said once per log

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
    if (file.has_parent_path() && !platform::makePrivateFolders(file.parent_path())) return false;
    auto line = sortedJson(record);
    if (!line) return false;
    const platform::Appended appended = platform::appendToFile(file, *line + "\n");
    if (appended == platform::Appended::symbolicLink && toldOfTheLink.insert(file).second) {
        platform::say("log not written: " + file.string() + " is a symbolic link\n");
    }
    return appended == platform::Appended::written;
}

}  // namespace host
