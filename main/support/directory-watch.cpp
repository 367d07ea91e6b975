#include "support/directory-watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host::loop {

namespace {

// The changes a directory's modification time would show, plus a file closed after writing, so
// a configuration edited in place counts as well as one replaced.
constexpr std::uint32_t watchedChanges =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

}  // namespace

DirectoryWatch::DirectoryWatch(const std::filesystem::path& directory, Changed changed)
    : changed_(std::move(changed)) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return;
    if (inotify_add_watch(fd_, directory.c_str(), watchedChanges | IN_ONLYDIR) < 0) {
        close(fd_);
        fd_ = -1;
        return;
    }
    source_ = std::make_unique<FdSource>(fd_, FdSource::Condition::readable, [this] { drain(); });
    source_->resume();
}

DirectoryWatch::~DirectoryWatch() {
    source_.reset();
    if (fd_ >= 0) close(fd_);
}

bool DirectoryWatch::watching() const { return source_ != nullptr; }

void DirectoryWatch::drain() {
    std::vector<std::string> names;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        const ssize_t n = read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const char* name = buffer + at + sizeof(inotify_event);
            names.emplace_back(event.len > 0 ? std::string(name, strnlen(name, event.len)) : std::string());
            at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
        }
    }
    if (!names.empty() && changed_) changed_(names);
}

}  // namespace host::loop
