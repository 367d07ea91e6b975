#include "child/child-inbox.h"

#include <algorithm>
#include <utility>

#include "platform/descriptors.h"
#include "platform/processes.h"

namespace host {

namespace {

const char* const CLOSED = "closed";
const char* const NOT_READING = "child-not-reading";

// How soon a reader with bytes still in its pipe is looked at again: at once while it reads,
// backing off to the longest wait while it does not.
constexpr double FIRST_READER_CHECK_SECONDS = 0.001;
constexpr double LAST_READER_CHECK_SECONDS = 0.05;

void tell(const ChildInbox::Settled& settled, const std::optional<std::string>& reason) {
    if (settled) settled(reason);
}

}  // namespace

// The host ignores SIGPIPE process-wide, so a shell that stopped reading shows up as EPIPE
// from write() rather than as a signal; O_NONBLOCK turns a full pipe into EAGAIN.
ChildInbox::ChildInbox(int fd, std::size_t limit) : fd_(fd), limit_(limit) { platform::makeNonBlocking(fd_); }

// Senders still queued hear "closed" from here, so their callbacks must not reach into an
// owner that is already half destroyed.
ChildInbox::~ChildInbox() { close(); }

bool ChildInbox::send(std::string bytes, Settled settled) {
    if (failure_) {
        tell(settled, std::optional<std::string>(*failure_));  // a copy: the callback may close()
        return false;
    }
    if (held_ + bytes.size() > limit_) {
        tell(settled, NOT_READING);
        return false;
    }
    held_ += bytes.size();
    rows_.push_back(Row{std::move(bytes), 0, std::move(settled)});
    drain();
    return !failure_;
}

void ChildInbox::hold() {
    holding_ = true;
    if (waker_) waker_->suspend();
}

void ChildInbox::close() {
    if (failure_ == CLOSED) return;
    giveUp(CLOSED);
    // The source goes first, so the loop never watches a descriptor that is already closed.
    waker_.reset();
    if (fd_ >= 0) platform::closeDescriptor(fd_);
    fd_ = -1;
}

// Writes as much as the pipe takes. A row wholly in the pipe waits there for the shell to read
// it; it leaves the queue before any callback runs, so a callback that sends again or closes
// finds the inbox consistent.
void ChildInbox::drain() {
    if (holding_) {
        if (waker_) waker_->suspend();
        return;
    }
    while (!rows_.empty()) {
        Row& row = rows_.front();
        const std::size_t unsent = row.bytes.size() - row.sent;
        const platform::Written written =
            unsent == 0 ? platform::Written{} : platform::writeSome(fd_, std::string_view(row.bytes).substr(row.sent));
        if (written.failure) return giveUp(*written.failure);
        if (written.full) {
            watch();
            break;
        }
        row.sent += written.bytes;
        written_ += written.bytes;
        if (row.sent < row.bytes.size()) continue;
        held_ -= row.bytes.size();
        // Only a sender who asked how it ends is followed until the shell reads.
        if (row.settled) unread_.push_back(Unread{written_, std::move(row.settled)});
        rows_.pop_front();
    }
    if (rows_.empty() && waker_) waker_->suspend();
    settleWhatWasRead();
    followTheReader();
}

// The pipe tells how much of what was written is still in it; everything before that the shell
// has taken out.
void ChildInbox::settleWhatWasRead() {
    if (unread_.empty() || fd_ < 0) return;
    const std::optional<std::size_t> left = platform::unreadBytes(fd_);
    if (!left || *left > written_) return;
    const std::uint64_t taken = written_ - *left;
    while (!unread_.empty() && unread_.front().end <= taken) {
        Settled settled = std::move(unread_.front().settled);
        unread_.pop_front();
        tell(settled, std::nullopt);
    }
}

// No event says that the shell read, so the pipe is looked at again while bytes wait in it.
void ChildInbox::followTheReader() {
    if (unread_.empty() || fd_ < 0) {
        readerCheck_.cancel();
        readerCheckDelay_ = 0;
        return;
    }
    if (readerCheck_.armed()) return;
    readerCheckDelay_ = readerCheckDelay_ == 0 ? FIRST_READER_CHECK_SECONDS
                                               : std::min(readerCheckDelay_ * 2, LAST_READER_CHECK_SECONDS);
    readerCheck_.startOnce(readerCheckDelay_, [this] {
        const std::size_t waiting = unread_.size();
        settleWhatWasRead();
        if (unread_.size() < waiting) readerCheckDelay_ = 0;
        followTheReader();
    });
}

void ChildInbox::watch() {
    if (!waker_) {
        // The inbox owns the source, so the source never outlives the inbox it drains.
        waker_ = std::make_unique<loop::FdSource>(fd_, loop::FdSource::Condition::writable,
                                                  [this] { drain(); });
    }
    waker_->resume();
}

// Rows are taken out before any callback runs: a callback may send (and be refused) or close.
// What the shell has read counts as delivered whatever happens next; the rest, unread in the
// pipe or never written, is given up in order.
void ChildInbox::giveUp(const std::string& reason) {
    const std::string why = reason;
    failure_ = why;
    if (waker_) waker_->suspend();
    settleWhatWasRead();
    readerCheck_.cancel();
    std::deque<Unread> unread = std::exchange(unread_, {});
    std::deque<Row> taken = std::exchange(rows_, {});
    held_ = 0;
    for (Unread& row : unread) tell(row.settled, why);
    for (Row& row : taken) tell(row.settled, why);
}

}  // namespace host
