// Reading and writing descriptors, and leaving the process.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host::platform {

inline constexpr int standardOutput = 1;
inline constexpr int standardError = 2;

// Writes everything, waiting while a non-blocking descriptor is full; false when the
// descriptor failed (the rest is dropped).
bool writeAll(int fd, std::string_view bytes);

// The host's one-line messages on standard error. Never blocks: a writer thread of its own
// writes them, and while it waits for a standard error nobody drains, at most
// STANDARD_ERROR_BACKLOG bytes of messages wait with it; older ones are dropped, and a line
// "(<n> earlier messages dropped)" stands for them once the writer moves again. Thread-safe.
inline constexpr std::size_t STANDARD_ERROR_BACKLOG = 64 * 1024;
void say(std::string_view line);

// Waits up to `seconds` for the messages said so far to be written; for a process about to exit.
void flushTheStandardError(double seconds);

// Some bytes into `buffer`, waiting while a non-blocking descriptor is empty; 0 at end of file
// or on an error.
std::size_t readSome(int fd, char* buffer, std::size_t size);

// One non-blocking write attempt.
struct Written {
    std::size_t bytes = 0;
    bool full = false;                   // nothing could be written now
    std::optional<std::string> failure;  // the system's text for the error
};
Written writeSome(int fd, std::string_view bytes);
// One non-blocking write of the pieces, in order, as far as the descriptor takes them (writev;
// at most the first WRITTEN_PIECES of them).
inline constexpr std::size_t WRITTEN_PIECES = 1024;
Written writeSomeOf(int fd, const std::vector<std::string_view>& pieces);
// All of the pieces, in order, waiting while a non-blocking descriptor is full (writev); false
// when the descriptor failed.
bool writeAllOf(int fd, std::vector<std::string_view> pieces);

void makeNonBlocking(int fd);

// How many bytes written into a pipe its reader has not taken out yet, asked of either end; none
// when the descriptor cannot tell.
std::optional<std::size_t> unreadBytes(int fd);

// A log file kept open between lines. Each write lands whole at the end of the file, whoever
// else appends to it. Main thread only.
class LogFile {
public:
    enum class Opened { opened, failed, symbolicLink };
    // Opens the file, created for the owner alone (0600) when missing. A symbolic link in its
    // place is never followed: someone else may have planted it.
    static std::unique_ptr<LogFile> open(const std::filesystem::path& file, Opened* why);
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    bool write(std::string_view bytes);
    // Whether the file at the path is still this one: false once it was moved, removed or
    // replaced, when the next lines belong in a new file there. One lstat.
    bool inPlace() const;

private:
    LogFile(int fd, std::filesystem::path path);
    int fd_;
    std::filesystem::path path_;
    unsigned long long device_ = 0, inode_ = 0;
};

// Ends the process at once: other threads may still run, so no destructors or flushes, but for
// the work waiting for the running callback's end and the messages on standard error, waited
// for a moment.
[[noreturn]] void exitNow(int status);

// The service manager stops a restarting process with SIGTERM: let it end the process.
void restoreTheDefaultTermination();

}  // namespace host::platform
