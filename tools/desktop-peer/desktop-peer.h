// The desktop's end of the scripted desktop connection: it listens, takes the host's connection,
// sends events and collects the host's state lines. Blocking and single-threaded, for tests and
// the console. Nothing here throws; failures come back as false, an empty result or error text.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace desktop {

using Json = nlohmann::json;
using Predicate = std::function<bool(const Json&)>;

// Longest state line taken; a longer one is dropped.
inline constexpr std::size_t MAX_LINE_BYTES = 16u << 20;

class Peer {
public:
    Peer() = default;
    ~Peer();  // closes everything and removes the socket file it made
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    // Binds and listens on `path`, first removing a stale socket there (never another kind of
    // file). Returns the reason it could not, or an empty string.
    std::string listen(const std::string& path);
    // Takes the host's connection and reads its hello line, both within `timeoutSeconds`.
    // Returns the reason it could not, or an empty string.
    std::string accept(double timeoutSeconds);
    // Closes the connection as a desktop that leaves would; keeps listening.
    void disconnect();

    const std::string& path() const { return path_; }
    int listenerFd() const { return listener_; }   // -1 when not listening
    int fd() const { return connection_; }         // -1 when not connected
    bool connected() const { return connection_ >= 0; }
    const Json& hello() const { return hello_; }   // null until accepted
    // Why the last operation failed or the connection ended; empty when nothing went wrong.
    const std::string& lastError() const { return lastError_; }

    // Sends one event as one line. False when it could not be written whole; a host that does
    // not read for a while or has gone ends the connection.
    bool sendEvent(const Json& event);
    // Sends several events in one write, so the host most likely reads them as one burst.
    bool sendEvents(const std::vector<Json>& events);
    // {"event": name} with `fields` added.
    bool send(const std::string& name, const Json& fields = Json::object());
    bool ready();  // {"event": "ready", "version": 1}
    // Sends a ping with a fresh id and waits for its pong. False on timeout or disconnection.
    bool ping(double timeoutSeconds = 5);

    // Reads whatever has arrived without blocking. Returns connected().
    bool readAvailable();

    // Waits for a state line of `kind` that satisfies `predicate` (any line without one).
    // A wait looks at the lines received since the last mark() (all of them when never
    // marked), in order, skipping those an earlier wait returned; it returns the first that
    // matches and counts it as returned. It reads more lines until one matches, the time is up
    // or the host leaves; then it returns nothing.
    std::optional<Json> waitFor(const std::string& kind, double timeoutSeconds);
    std::optional<Json> waitFor(const std::string& kind, const Predicate& predicate,
                                double timeoutSeconds);
    // Later waits only look at lines received from now on.
    void mark();

    // Every state line received, in order (since the last forget()).
    const std::vector<Json>& received() const { return received_; }
    // Lines that were not state objects, each as the reason it was dropped (since forget()).
    const std::vector<std::string>& dropped() const { return dropped_; }
    // The latest line of a kind, kept across forget().
    std::optional<Json> latest(const std::string& kind) const;
    // Drops the record of received and dropped lines (not the latest of each kind), so a long
    // run stays small; also a mark().
    void forget();

    // The number of the first item titled `title`, depth first through the menus of the
    // latest "status-items".
    std::optional<std::int64_t> itemNumber(const std::string& title) const;
    // The latest "status-items" as text; see renderStatusItem().
    std::string renderStatusItems() const;

private:
    using Deadline = std::chrono::steady_clock::time_point;

    bool writeAll(const std::string& bytes);
    bool waitUntilWritable(Deadline deadline);
    bool readUntil(Deadline deadline);
    void takeLines();
    void takeLine(const std::string& line);
    void drop(const std::string& reason);
    void dropOverlong(const std::string& start);
    void endConnection(const std::string& reason);
    bool fail(const std::string& reason);
    std::string refuse(const std::string& reason);

    std::string path_;
    int listener_ = -1;
    int connection_ = -1;
    Json hello_;
    std::string lastError_;
    std::string buffer_;
    std::size_t scanned_ = 0;    // bytes of buffer_ known to hold no line feed
    bool discarding_ = false;    // inside an overlong line, until its line feed
    std::vector<Json> received_;
    std::vector<bool> returned_;
    std::size_t horizon_ = 0;    // waits start here
    std::vector<std::string> dropped_;
    std::map<std::string, Json> latest_;
    std::int64_t nextPing_ = 1;
};

// Field access that tolerates missing fields and wrong types, as the host's lines are not
// trusted: the field when `object` is an object that has it, else null.
const Json* field(const Json& object, const std::string& name);
std::string textOf(const Json& object, const std::string& name);   // "" unless a string
std::optional<std::int64_t> integerOf(const Json& object, const std::string& name);
bool flagOf(const Json& object, const std::string& name, bool fallback);
// Compact JSON text, with invalid UTF-8 replaced rather than failing.
std::string dumpOf(const Json& value);

// The first item titled `title` in `menu` and its submenus, depth first.
std::optional<std::int64_t> findItem(const Json& menu, const std::string& title);

// A status item and its menu tree as indented text, one line each:
//   status item 1: "Title" image "gear" tip "Tool tip"
//     [3] Open  cmd+O
//     [4] Not now  (disabled)
//     ----------------
//     [5] More
//       [6] Inside
std::string renderStatusItem(const Json& statusItem);
// The items of `menu`, each line indented by `indent` spaces, submenus by two more.
std::string renderMenu(const Json& menu, int indent);
// A key-equivalent modifier mask (shift 0x20000, control 0x40000, option 0x80000,
// command 0x100000) as "ctrl+opt+shift+cmd"; bits without a name follow in hex.
std::string menuModifierNames(std::int64_t mask);
// A hot key's modifier mask (command 0x100, shift 0x200, option 0x800, control 0x1000) the
// same way.
std::string hotKeyModifierNames(std::int64_t mask);

}  // namespace desktop
