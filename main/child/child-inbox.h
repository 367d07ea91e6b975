// The writer to one shell's standard input. It never blocks the host: what the pipe cannot take
// yet is queued and written when the pipe drains, up to CHILD_INBOX_LIMIT bytes held. Each
// sender learns, once, whether the shell took all its bytes out of the pipe (no reason) or why it
// never will: bytes that reach the pipe are followed until the shell has read them, so a shell
// that ends before reading them gives them back. In a loop callback the first message is
// written at once and the others wait for the callback's end, to go in one write. Main thread
// only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "support/event-loop.h"

namespace host {

inline constexpr std::size_t CHILD_INBOX_LIMIT = 1048576;

class ChildInbox {
public:
    // Called once: no reason when the shell read every byte, else why it never will.
    using Settled = std::function<void(const std::optional<std::string>& reason)>;

    // Takes ownership of the pipe's writing end and makes it non-blocking.
    explicit ChildInbox(int fd, std::size_t limit = CHILD_INBOX_LIMIT);
    ~ChildInbox();
    ChildInbox(const ChildInbox&) = delete;
    ChildInbox& operator=(const ChildInbox&) = delete;

    // What the inbox keeps for a row besides its bytes, for senders that count it in `keeps`.
    static const std::size_t ROW_OVERHEAD;

    // Offers one message (opaque bytes). True when accepted and the inbox has not failed by
    // the time it returns (or, for a message that waits for the callback's end, so far). A
    // message that would take what the inbox holds over the limit is refused with
    // "child-not-reading" and the inbox stays usable. What it holds is the bytes not yet in the
    // pipe, and `keeps` per message until its sender has been told: the memory the sender's
    // callback and the row keep, so that the limit bounds what a shell that stops reading
    // costs the host.
    bool send(std::string bytes, Settled settled = nullptr, std::size_t keeps = 0);

    // Writes what waits, now (before the shell is signalled, so what was sent first is in its pipe).
    void flush();

    // Stops writing for good: what is queued, and what is sent from now on, stays queued until
    // close() gives it back. A shell being swapped out then only has to read what is already
    // in its pipe, and nothing written after its last read is lost with it.
    void hold();

    // Ends the inbox for good: senders whose bytes the shell has read hear so, the others (queued,
    // or still unread in the pipe) hear "closed"; the pipe is closed. Idempotent.
    void close();

    // Bytes not yet written into the pipe.
    std::size_t held() const { return held_; }
    // What the senders' `keeps` add to them.
    std::size_t kept() const { return kept_; }
    // Messages all in the pipe whose senders wait for the shell to read them.
    std::size_t waitingToBeRead() const { return unread_.size(); }
    const std::optional<std::string>& failure() const { return failure_; }

private:
    struct Row {
        std::string bytes;
        std::size_t sent = 0;
        Settled settled;
        std::size_t keeps = 0;
    };

    // A row all in the pipe, until the shell has read up to `end` (counted in bytes written).
    struct Unread {
        std::uint64_t end;
        Settled settled;
        std::size_t keeps = 0;
    };

    void drain();
    void writeTheRows();
    void takeWhatWasWritten(std::size_t bytes);
    void writeAtTheCallbacksEnd();
    void watch();
    void settleWhatWasRead();
    void followTheReader();
    void giveUp(const std::string& reason);

    int fd_;
    std::size_t limit_;
    std::deque<Row> rows_;
    std::size_t held_ = 0;
    std::size_t kept_ = 0;
    bool writeWaits_ = false;  // later messages wait for the end of the running callback
    std::shared_ptr<ChildInbox*> self_;  // held weakly by the work waiting for that end
    std::deque<Unread> unread_;
    std::uint64_t written_ = 0;
    double readerCheckDelay_ = 0;
    loop::Timer readerCheck_;
    std::optional<std::string> failure_;
    bool holding_ = false;
    std::unique_ptr<loop::FdSource> waker_;
};

}  // namespace host
