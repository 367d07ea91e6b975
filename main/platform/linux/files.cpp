#include "platform/files.h"

#include <glib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace host::platform {
namespace fs = std::filesystem;

namespace {

bool writeAll(int fd, const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool makePrivateFolders(const fs::path& folder) {
    std::error_code ignored;
    if (folder.empty() || fs::is_directory(folder, ignored)) return true;
    if (folder.has_parent_path() && !makePrivateFolders(folder.parent_path())) return false;
    if (mkdir(folder.c_str(), 0700) != 0) return errno == EEXIST && fs::is_directory(folder, ignored);
    chmod(folder.c_str(), 0700);  // the umask may have taken bits from the owner too
    return true;
}

bool writeFileAtomically(const fs::path& file, const std::string& bytes, std::string* error) {
    if (!makePrivateFolders(file.parent_path())) return *error = std::strerror(errno), false;
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".XXXXXX")).string();
    int fd = mkstemp(temporary.data());
    if (fd < 0) return *error = std::strerror(errno), false;
    bool written = writeAll(fd, bytes) && fchmod(fd, 0644) == 0;
    int savedErrno = errno;
    if (close(fd) != 0 && written) written = false, savedErrno = errno;
    if (written && rename(temporary.c_str(), file.c_str()) == 0) return true;
    if (written) savedErrno = errno;
    unlink(temporary.c_str());
    *error = std::strerror(savedErrno);
    return false;
}

// GLib's reader reports a folder or a failed read as an error, where the streams would throw.
std::optional<std::string> contentsOf(const fs::path& file) {
    gchar* bytes = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(file.c_str(), &bytes, &length, nullptr)) return std::nullopt;
    std::string contents(bytes, length);
    g_free(bytes);
    return contents;
}

}  // namespace host::platform
