// A process's TCP connections: its socket descriptors under /proc/<pid>/fd matched against the
// established entries of its network namespace's connection tables.
#include "platform/files.h"
#include "platform/processes.h"

#include <dirent.h>
#include <unistd.h>

#include <charconv>
#include <sstream>
#include <string_view>

namespace host::platform {
namespace {

constexpr std::string_view establishedState = "01";  // TCP_ESTABLISHED, in hex

// "socket:[12345]" gives 12345.
std::optional<std::uint64_t> socketInodeOfLink(std::string_view link) {
    constexpr std::string_view head = "socket:[";
    if (!link.starts_with(head) || !link.ends_with(']')) return std::nullopt;
    link = link.substr(head.size(), link.size() - head.size() - 1);
    std::uint64_t inode = 0;
    auto [end, failure] = std::from_chars(link.data(), link.data() + link.size(), inode);
    if (failure != std::errc() || end != link.data() + link.size()) return std::nullopt;
    return inode;
}

std::set<std::uint64_t> socketInodesOf(std::int32_t pid) {
    std::set<std::uint64_t> inodes;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR* directory = opendir(folder.c_str());
    if (!directory) return inodes;
    while (dirent* entry = readdir(directory)) {
        if (entry->d_name[0] == '.') continue;
        char link[64];
        const ssize_t length = readlinkat(dirfd(directory), entry->d_name, link, sizeof link);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof link) continue;
        if (auto inode = socketInodeOfLink(std::string_view(link, static_cast<std::size_t>(length)))) {
            inodes.insert(*inode);
        }
    }
    closedir(directory);
    return inodes;
}

}  // namespace

std::set<std::uint64_t> establishedSocketInodesOf(const std::string& tableText) {
    std::set<std::uint64_t> inodes;
    std::istringstream lines(tableText);
    std::string line;
    std::getline(lines, line);  // the column titles
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
        std::uint64_t inode = 0;
        if (!(fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode)) {
            continue;
        }
        if (state == establishedState && inode != 0) inodes.insert(inode);
    }
    return inodes;
}

bool hasAnEstablishedTCPConnection(std::int32_t pid) {
    if (pid <= 0) return false;
    const std::set<std::uint64_t> sockets = socketInodesOf(pid);
    if (sockets.empty()) return false;
    const std::string net = "/proc/" + std::to_string(pid) + "/net/";
    for (const char* table : {"tcp", "tcp6"}) {
        const auto text = contentsOf(net + table);
        if (!text) continue;
        for (std::uint64_t inode : establishedSocketInodesOf(*text)) {
            if (sockets.count(inode) > 0) return true;
        }
    }
    return false;
}

}  // namespace host::platform
