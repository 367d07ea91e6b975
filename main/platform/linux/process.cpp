#include "platform/process.h"

#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <system_error>

extern char** environ;

namespace host::platform {

// Every log record carries it, so the kernel is asked once per process (again after a fork).
std::atomic<std::int32_t> knownPid{0};

std::int32_t ownPid() {
    static const bool forksAskAgain = pthread_atfork(nullptr, nullptr, [] { knownPid = 0; }) == 0;
    (void)forksAskAgain;
    if (knownPid == 0) knownPid = getpid();
    return knownPid;
}

std::int32_t parentPid() { return getppid(); }

std::filesystem::path ownExecutablePath(const std::string& argv0) {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path(argv0) : path;
}

std::map<std::string, std::string> ownEnvironment() {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string text(*entry);
        auto equals = text.find('=');
        if (equals == std::string::npos || equals == 0) continue;
        variables.emplace(text.substr(0, equals), text.substr(equals + 1));
    }
    return variables;
}

std::filesystem::path homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* user = getpwuid(getuid()); user && user->pw_dir) return user->pw_dir;
    return "/";
}

std::filesystem::path userDataDirectory() {
    // A relative XDG_DATA_HOME is invalid and ignored.
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return data;
    return homeDirectory() / ".local" / "share";
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace host::platform
