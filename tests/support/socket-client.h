// A client of a Unix stream socket that never blocks for long: every wait has a time limit, so a
// host that stops answering fails the test instead of hanging it. Writes never raise SIGPIPE.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace testing_support {

class SocketClient {
public:
    explicit SocketClient(const std::filesystem::path& socket);
    ~SocketClient();
    SocketClient(const SocketClient&) = delete;
    SocketClient& operator=(const SocketClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    int fd() const { return fd_; }

    // All of `bytes`; false when the peer failed or stopped taking bytes for `limit`.
    bool send(const std::string& bytes, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // As much of `bytes` as goes without waiting; the count sent, or -1 when the peer failed.
    long sendWhatFits(const std::string& bytes);
    // The next line without its line feed; none at the end, on an error or after `limit`.
    std::optional<std::string> line(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Reads what has arrived into the buffer without waiting; false once the peer has ended.
    bool readWhatArrived();
    // Takes the complete lines read so far.
    std::size_t takeCompleteLines(std::string* last = nullptr);
    // One request and its reply; null when none came.
    nlohmann::json ask(const nlohmann::json& request);
    // True when the peer ends the connection within `limit`; what it sent before is kept.
    bool endsWithin(std::chrono::milliseconds limit);
    const std::string& buffered() const { return buffer_; }
    void close();

private:
    bool waitFor(short events, std::chrono::milliseconds limit);

    int fd_ = -1;
    std::string buffer_;
    bool ended_ = false;
};

}  // namespace testing_support
