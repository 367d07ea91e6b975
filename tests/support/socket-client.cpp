#include "socket-client.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

SocketClient::SocketClient(const std::filesystem::path& socket) {
    sockaddr_un address{};
    const std::string path = socket.string();
    if (path.size() >= sizeof address.sun_path) return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return;
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
}

SocketClient::~SocketClient() { close(); }

void SocketClient::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool SocketClient::waitFor(short events, std::chrono::milliseconds limit) {
    pollfd watched{fd_, events, 0};
    int ready;
    do ready = ::poll(&watched, 1, static_cast<int>(limit.count()));
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

long SocketClient::sendWhatFits(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0) sent += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR) continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        else return -1;
    }
    return static_cast<long>(sent);
}

bool SocketClient::send(const std::string& bytes, std::chrono::milliseconds limit) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        long n = sendWhatFits(bytes.substr(sent));
        if (n < 0) return false;
        sent += static_cast<std::size_t>(n);
        if (sent < bytes.size() && !waitFor(POLLOUT, limit)) return false;
    }
    return true;
}

bool SocketClient::readWhatArrived() {
    char chunk[65536];
    while (fd_ >= 0 && !ended_) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) buffer_.append(chunk, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR) continue;
        else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        else ended_ = true;
    }
    return fd_ >= 0 && !ended_;
}

std::size_t SocketClient::takeCompleteLines(std::string* last) {
    std::size_t count = 0, start = 0;
    for (std::size_t end; (end = buffer_.find('\n', start)) != std::string::npos; start = end + 1) {
        ++count;
        if (last) *last = buffer_.substr(start, end - start);
    }
    buffer_.erase(0, start);
    return count;
}

std::optional<std::string> SocketClient::line(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const bool open = readWhatArrived();
        auto end = buffer_.find('\n');
        if (end != std::string::npos) {
            std::string found = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return found;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!open || left.count() <= 0 || !waitFor(POLLIN, left)) return std::nullopt;
    }
}

nlohmann::json SocketClient::ask(const nlohmann::json& request) {
    if (!send(request.dump() + "\n")) return nullptr;
    auto reply = line();
    return reply ? nlohmann::json::parse(*reply, nullptr, false) : nlohmann::json(nullptr);
}

bool SocketClient::endsWithin(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (readWhatArrived()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitFor(POLLIN, left)) return false;
    }
    return true;
}

}  // namespace testing_support
