// The host's log files: one JSON record per line, appended to the file kept open. Lines asked
// for during a loop callback are written together when it returns. The death log of a process
// id holds the records about that shell (or the host).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "support/json.h"

namespace host {

// Set once at start-up: the runtime value "log" (none when absent) and the support folder.
void configureTheDeathLog(std::optional<std::string> log, std::filesystem::path supportDirectory);

// A ".jsonl" log value is one file for every shell; another value is a folder holding
// "shell-<time>-<pid>.jsonl" per pid; without it, "shell.jsonl" in the support folder.
std::filesystem::path deathLog(std::int32_t pid);

// Appends one record and a newline, making the log's folder for the owner alone when missing. A
// record with "kind" gets "at" (when missing) and the host's "pid"; one without is written as
// built. False when the line could not be written: outside a loop callback it is written at
// once; inside one, with the callback's other lines when it returns, and false means the log
// could not be opened (a write that fails then is lost). A symbolic link in the log's place is
// not followed, and said once on standard error. Main thread only.
bool append(Json record, const std::filesystem::path& file);
// The same for a line already serialised (without its newline).
bool appendLine(std::string_view line, const std::filesystem::path& file);
// Writes the lines waiting for the log at once; false when they could not be written.
bool writeTheLogNow(const std::filesystem::path& file);

}  // namespace host
