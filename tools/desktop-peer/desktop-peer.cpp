#include "desktop-peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>

namespace desktop {
namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a loaded machine; a host that reads nothing for this long is stuck.
constexpr double WRITE_TIMEOUT_SECONDS = 10;
// Reads per readAvailable(), so a host that writes without pause cannot hold the caller.
constexpr int CHUNKS_PER_READ = 64;

Clock::time_point deadlineAfter(double seconds) {
    seconds = std::clamp(seconds, 0.0, 1e7);  // NaN and absurd values stay within the clock
    return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// The events seen on `fd` before the deadline, 0 when none, -1 when poll fails.
int pollOne(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int count = poll(&entry, 1, millisecondsUntil(deadline));
        if (count > 0) return entry.revents;
        if (count == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string excerpt(const std::string& line) {
    return line.size() <= 60 ? line : line.substr(0, 60) + "...";
}

std::string secondsText(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// Only a socket may be replaced: anything else at the path is someone's file.
std::string removeStaleSocket(const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return errno == ENOENT ? "" : errnoText(path);
    if (!S_ISSOCK(status.st_mode)) return path + " exists and is not a socket";
    if (unlink(path.c_str()) != 0) return errnoText("removing the stale socket " + path);
    return "";
}

bool matches(const Json& line, const std::string& kind, const Predicate& predicate) {
    if (textOf(line, "state") != kind) return false;
    if (!predicate) return true;
    try {
        return predicate(line);
    } catch (const std::exception&) {
        return false;  // a predicate reaching for a field the line lacks does not match
    }
}

}  // namespace

Peer::~Peer() {
    if (connection_ >= 0) close(connection_);
    if (listener_ >= 0) {
        close(listener_);
        unlink(path_.c_str());
    }
}

bool Peer::fail(const std::string& reason) {
    lastError_ = reason;
    return false;
}

std::string Peer::refuse(const std::string& reason) {
    lastError_ = reason;
    return reason;
}

std::string Peer::listen(const std::string& path) {
    if (listener_ >= 0) return refuse("already listening on " + path_);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path)
        return refuse("unusable socket path (empty or too long): " + path);
    if (auto stale = removeStaleSocket(path); !stale.empty()) return refuse(stale);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return refuse(errnoText("socket"));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        std::string reason = errnoText("bind " + path);
        close(fd);
        return refuse(reason);
    }
    if (::listen(fd, 4) != 0) {
        std::string reason = errnoText("listen " + path);
        close(fd);
        unlink(path.c_str());
        return refuse(reason);
    }
    listener_ = fd;
    path_ = path;
    lastError_.clear();
    return "";
}

std::string Peer::accept(double timeoutSeconds) {
    if (listener_ < 0) return refuse("not listening");
    if (connected()) return refuse("already connected");
    auto deadline = deadlineAfter(timeoutSeconds);
    int events = pollOne(listener_, POLLIN, deadline);
    if (events == 0) return refuse("no host connected within " + secondsText(timeoutSeconds));
    if (events < 0) return refuse(errnoText("poll"));
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return refuse(errnoText("accept"));
    connection_ = fd;
    buffer_.clear();
    scanned_ = 0;
    discarding_ = false;
    lastError_.clear();
    std::size_t first = received_.size();
    while (received_.size() == first && readUntil(deadline)) {
    }
    if (received_.size() == first) {
        std::string reason = connected() ? "no hello within " + secondsText(timeoutSeconds)
                                         : "the host left before its hello (" + lastError_ + ")";
        endConnection(reason);
        return reason;
    }
    if (textOf(received_[first], "state") != "hello") {
        std::string reason = "the host's first line is not a hello: " + excerpt(dumpOf(received_[first]));
        endConnection(reason);
        return reason;
    }
    returned_[first] = true;
    hello_ = received_[first];
    return "";
}

void Peer::disconnect() {
    if (connected()) endConnection("the desktop disconnected");
}

void Peer::endConnection(const std::string& reason) {
    if (connection_ >= 0) close(connection_);
    connection_ = -1;
    if (!buffer_.empty() && !discarding_) drop("unfinished line at the end of the connection: " + excerpt(buffer_));
    buffer_.clear();
    scanned_ = 0;
    discarding_ = false;
    lastError_ = reason;
}

bool Peer::sendEvent(const Json& event) {
    if (!connected()) return fail("not connected");
    if (!event.is_object()) return fail("an event is a JSON object: " + excerpt(dumpOf(event)));
    return writeAll(dumpOf(event) + "\n");
}

bool Peer::sendEvents(const std::vector<Json>& events) {
    if (!connected()) return fail("not connected");
    std::string lines;
    for (const Json& event : events) {
        if (!event.is_object()) return fail("an event is a JSON object: " + excerpt(dumpOf(event)));
        lines += dumpOf(event) + "\n";
    }
    return writeAll(lines);
}

bool Peer::send(const std::string& name, const Json& fields) {
    Json event = fields.is_object() ? fields : Json::object();
    event["event"] = name;
    return sendEvent(event);
}

bool Peer::ready() {
    return send("ready", {{"version", 1}});
}

bool Peer::ping(double timeoutSeconds) {
    std::int64_t id = nextPing_++;
    if (!send("ping", {{"id", id}})) return false;
    auto samePing = [id](const Json& pong) {
        const Json* answered = field(pong, "id");
        return answered && *answered == id;
    };
    return waitFor("pong", samePing, timeoutSeconds).has_value();
}

bool Peer::writeAll(const std::string& bytes) {
    auto deadline = deadlineAfter(WRITE_TIMEOUT_SECONDS);
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = ::send(connection_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitUntilWritable(deadline)) return false;
        } else if (errno != EINTR) {
            std::string reason = errnoText("write");
            readAvailable();  // what a host said before it went still counts
            if (connected()) endConnection(reason);
            return false;
        }
    }
    return true;
}

// Keeps reading while it waits, so a host blocked on its own writes to us can go on.
bool Peer::waitUntilWritable(Deadline deadline) {
    while (connected()) {
        int events = pollOne(connection_, POLLIN | POLLOUT, deadline);
        if (events == 0) {
            endConnection("the host read nothing for " + secondsText(WRITE_TIMEOUT_SECONDS));
            return false;
        }
        if (events < 0) {
            endConnection(errnoText("poll"));
            return false;
        }
        if (events & (POLLIN | POLLHUP | POLLERR)) readAvailable();
        if (connected() && (events & POLLOUT)) return true;
    }
    return false;
}

bool Peer::readAvailable() {
    char chunk[65536];
    for (int reads = 0; connected() && reads < CHUNKS_PER_READ; ++reads) {
        ssize_t count = recv(connection_, chunk, sizeof chunk, 0);
        if (count > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(count));
            takeLines();
        } else if (count == 0) {
            endConnection("the host closed the connection");
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            endConnection(errnoText("read"));
        }
    }
    return connected();
}

// Waits for something to read and reads it; false once the time is up or the host is gone.
bool Peer::readUntil(Deadline deadline) {
    if (!connected()) return false;
    int events = pollOne(connection_, POLLIN, deadline);
    if (events == 0) return false;
    if (events < 0) {
        endConnection(errnoText("poll"));
        return false;
    }
    return readAvailable();
}

void Peer::takeLines() {
    std::size_t start = 0;
    for (std::size_t end; (end = buffer_.find('\n', scanned_)) != std::string::npos;) {
        if (discarding_)
            discarding_ = false;
        else if (end - start > MAX_LINE_BYTES)
            dropOverlong(buffer_.substr(start, 60));
        else
            takeLine(buffer_.substr(start, end - start));
        start = scanned_ = end + 1;
    }
    buffer_.erase(0, start);
    if (discarding_) buffer_.clear();
    if (buffer_.size() > MAX_LINE_BYTES) {
        dropOverlong(buffer_);
        buffer_.clear();
        discarding_ = true;
    }
    scanned_ = buffer_.size();
}

void Peer::dropOverlong(const std::string& start) {
    drop("line longer than " + std::to_string(MAX_LINE_BYTES) + " bytes: " + excerpt(start));
}

void Peer::takeLine(const std::string& line) {
    try {
        Json value = Json::parse(line, nullptr, false);
        if (value.is_discarded()) return drop("not JSON: " + excerpt(line));
        if (!value.is_object()) return drop("not a JSON object: " + excerpt(line));
        std::string kind = textOf(value, "state");
        if (kind.empty()) return drop("no state: " + excerpt(line));
        latest_[kind] = value;
        received_.push_back(std::move(value));
        returned_.push_back(false);
    } catch (const std::exception& error) {
        drop(std::string("unusable line (") + error.what() + "): " + excerpt(line));
    }
}

void Peer::drop(const std::string& reason) {
    dropped_.push_back(reason);
}

std::optional<Json> Peer::waitFor(const std::string& kind, double timeoutSeconds) {
    return waitFor(kind, Predicate(), timeoutSeconds);
}

std::optional<Json> Peer::waitFor(const std::string& kind, const Predicate& predicate, double timeoutSeconds) {
    auto deadline = deadlineAfter(timeoutSeconds);
    std::size_t next = horizon_;
    bool more = true;
    for (;;) {
        for (; next < received_.size(); ++next) {
            if (returned_[next] || !matches(received_[next], kind, predicate)) continue;
            returned_[next] = true;
            return received_[next];
        }
        if (!more) break;
        more = readUntil(deadline);
    }
    if (connected()) lastError_ = "no matching " + kind + " within " + secondsText(timeoutSeconds);
    return std::nullopt;
}

void Peer::mark() {
    horizon_ = received_.size();
}

std::optional<Json> Peer::latest(const std::string& kind) const {
    auto found = latest_.find(kind);
    if (found == latest_.end()) return std::nullopt;
    return found->second;
}

void Peer::forget() {
    received_.clear();
    dropped_.clear();
    returned_.clear();
    horizon_ = 0;
}

std::optional<std::int64_t> Peer::itemNumber(const std::string& title) const {
    auto statusItems = latest("status-items");
    const Json* items = statusItems ? field(*statusItems, "items") : nullptr;
    if (!items || !items->is_array()) return std::nullopt;
    for (const Json& statusItem : *items) {
        const Json* menu = field(statusItem, "menu");
        if (auto number = menu ? findItem(*menu, title) : std::nullopt) return number;
    }
    return std::nullopt;
}

std::string Peer::renderStatusItems() const {
    auto statusItems = latest("status-items");
    const Json* items = statusItems ? field(*statusItems, "items") : nullptr;
    if (!items || !items->is_array() || items->empty()) return "no status items\n";
    std::string text;
    for (const Json& statusItem : *items) text += renderStatusItem(statusItem);
    return text;
}

}  // namespace desktop
