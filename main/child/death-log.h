// The host's log files: one JSON record per line, appended with the file opened and closed per
// record. The death log of a process id holds the records about that shell (or the host).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "support/json.h"

namespace host {

// Set once at start-up: the runtime value "log" (none when absent) and the support folder.
void configureTheDeathLog(std::optional<std::string> log, std::filesystem::path supportDirectory);

// A ".jsonl" log value is one file for every shell; another value is a folder holding
// "shell-<time>-<pid>.jsonl" per pid; without it, "shell.jsonl" in the support folder.
std::filesystem::path deathLog(std::int32_t pid);

// Appends one record and a newline, making the log's folder for the owner alone when missing. A
// record with "kind" gets "at" (when missing) and the host's "pid"; one without is written as
// built. False when the line could not be written; a symbolic link in the log's place is not
// followed, and said once on standard error. Main thread only.
bool append(Json record, const std::filesystem::path& file);

}  // namespace host
