// The channel from one shell: its standard output cut into lines, each line either a message
// for the host (dispatched by a fixed table of rules, first match wins) or passed through,
// byte for byte, to the host's own standard output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "badges/badge-geometry.h"
#include "support/json.h"

namespace host {

// Which conditional messages are recognised at all (all false when the host is not piped).
struct RecognisedMessages {
    bool hostsTheChildsPanel = false;
    bool childOwnsHotKeys = false;
    bool drawsTheChildsMenu = false;
};

// What the host does with each recognised message. Each runs on the main thread; an empty
// handler means the message is recognised and dropped. Handlers marked "current shell only"
// are skipped when the shell that wrote the line is no longer the current one.
struct MessageHandlers {
    std::function<void(std::set<std::string> senders)> setupQuitSenders;             // current shell only
    std::function<void(bool restarting)> setupQuitSettled;                           // current shell only
    std::function<void(const Json& panel)> panel;
    std::function<void(const Json& hotKeys)> hotKeys;
    std::function<void()> watchApps;
    std::function<void(const std::string& text)> menuUnavailable;                    // current shell only
    // The publication as menu.json holds it; none without one.
    std::function<void(FlatObjects rows, bool reportsSubmenus, std::optional<std::string> publication)> menu;  // current shell only
    std::function<void(const std::string& id, const Json& rows)> menuBranch;         // current shell only
    std::function<void()> popUp;                                                     // current shell only
    std::function<void(const Badge& badge)> badge;
    std::function<void()> focusReplies;
    std::function<void(const std::string& url, std::optional<std::string> focus, std::optional<std::int32_t> panel)> urlReply;
    // Given when the URL reply handler does nothing until a focus-replies message was handled:
    // replies read before any shell announced them are then dropped where they are read. Shared
    // by every shell's reader; the reader that reads an announcement sets it.
    std::shared_ptr<std::atomic<bool>> urlRepliesAnnounced;
};

// One recognised message, ready to act on; none for a line that passes through.
struct Dispatch {
    std::function<void()> action;
    bool currentShellOnly = false;
    bool menuMessage = false;  // travels the menu path (its own order)
    bool announcesURLReplies = false;
};

// The dispatch decision for one line (without its newline): pure, so it can be tested alone.
std::optional<Dispatch> dispatchOf(std::string_view line, const RecognisedMessages& recognised,
                                   const MessageHandlers& handlers);

// What one read passes through to the host's output: pieces of the read itself where whole
// lines came in it, so they are not copied, and copies of what was assembled across reads.
class PassedThrough {
public:
    // A piece of the read; it joins the piece before it when the two touch.
    void add(std::string_view piece);
    void addCopy(std::string_view piece);
    const std::vector<std::string_view>& pieces() const { return pieces_; }
    bool empty() const { return pieces_.empty(); }
    void clear();
    std::string joined() const;

private:
    std::vector<std::string_view> pieces_;
    std::deque<std::string> copies_;
};

// A line longer than this cannot be a message. It is passed through as it comes, before its end,
// so an unfinished line never holds more than this.
inline constexpr std::size_t LONGEST_CHILD_MESSAGE = 4 << 20;

// The framing and dispatch of one shell's output. Recognised messages are handed to `post`
// (the main queue in the host) as actions that check, when they run, whether their shell is
// still the current one; other lines are collected for the host's standard output.
class ChildOutput {
public:
    using Post = std::function<void(std::function<void()>)>;

    ChildOutput(RecognisedMessages recognised, std::shared_ptr<const MessageHandlers> handlers,
                std::function<bool()> isCurrent, Post post);

    // Appends `bytes` to what is pending and handles every complete line, in order, posting the
    // recognised messages of the read together. Lines that pass through are added, each with
    // its newline, to `passedThrough`; so is the start of a line longer than
    // LONGEST_CHILD_MESSAGE, and the rest of it as it comes. Its pieces point into `bytes`.
    void take(std::string_view bytes, PassedThrough& passedThrough);
    // The same, the passed-through text appended to *passedThrough when given.
    void take(std::string_view bytes, std::string* passedThrough);

    // Bytes after the last newline; dropped when the shell closes its output.
    const std::string& pending() const { return pending_; }

private:
    // `inTheRead`: the line stands in the bytes read, its newline after it.
    void handleWholeLines(std::string_view lines, PassedThrough& passedThrough);
    void handleLine(std::string_view line, bool inTheRead, PassedThrough& passedThrough);
    void postTheMessages();

    RecognisedMessages recognised_;
    std::shared_ptr<const MessageHandlers> handlers_;
    std::function<bool()> isCurrent_;
    Post post_;
    std::string pending_;
    bool passingALongLine_ = false;
    std::vector<std::function<void()>> messages_;  // of the read under way
};

// Reads `fd` (the shell's output; owned from now on) on a thread of its own until end of file,
// so a slow reader of the host's output never stalls the main loop. Passed-through lines are
// written to `outFd`; writes from several shells' readers never interleave within a line.
// `finished`, when given, is called on the reader's thread once the output has ended and every
// line has been handled (at once when no thread can be started).
void listenOnItsOwnThread(int fd, std::unique_ptr<ChildOutput> output, int outFd,
                          std::function<void()> finished = {});

}  // namespace host
