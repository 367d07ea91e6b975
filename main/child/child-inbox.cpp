#include "child/child-inbox.h"

#include <algorithm>
#include <utility>
#include <vector>

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
// A row, its place among the unread and the callback's own allocation, with an allocator's
// bookkeeping for each.
const std::size_t ChildInbox::ROW_OVERHEAD = sizeof(Row) + sizeof(Unread) + 3 * 16;

ChildInbox::ChildInbox(int fd, std::size_t limit)
    : fd_(fd), limit_(limit), self_(std::make_shared<ChildInbox*>(this)) {
    platform::makeNonBlocking(fd_);
}

// Senders still queued hear "closed" from here, so their callbacks must not reach into an
// owner that is already half destroyed.
ChildInbox::~ChildInbox() {
    self_.reset();
    close();
}

bool ChildInbox::send(std::string bytes, Settled settled, std::size_t keeps) {
    if (failure_) {
        tell(settled, std::optional<std::string>(*failure_));  // a copy: the callback may close()
        return false;
    }
    if (held_ + kept_ + bytes.size() + keeps > limit_) {
        tell(settled, NOT_READING);
        return false;
    }
    held_ += bytes.size();
    kept_ += keeps;
    rows_.push_back(Row{std::move(bytes), 0, std::move(settled), keeps});
    if (!writeWaits_) {
        drain();
        if (loop::insideACallback()) writeAtTheCallbacksEnd();
    }
    return !failure_;
}

void ChildInbox::flush() { drain(); }

void ChildInbox::writeAtTheCallbacksEnd() {
    writeWaits_ = true;
    loop::whenThisCallbackReturns([self = std::weak_ptr<ChildInbox*>(self_)] {
        auto inbox = self.lock();
        if (!inbox) return;
        (*inbox)->writeWaits_ = false;
        (*inbox)->drain();
    });
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

void ChildInbox::drain() {
    if (holding_) {
        if (waker_) waker_->suspend();
        return;
    }
    writeTheRows();
    if (failure_) return;
    if (rows_.empty() && waker_) waker_->suspend();
    settleWhatWasRead();
    followTheReader();
}

// Writes as much as the pipe takes, every row queued in one write.
void ChildInbox::writeTheRows() {
    std::vector<std::string_view> pieces;
    while (!rows_.empty()) {
        pieces.clear();
        for (const Row& row : rows_) {
            if (pieces.size() == platform::WRITTEN_PIECES) break;
            pieces.push_back(std::string_view(row.bytes).substr(row.sent));
        }
        const platform::Written written = platform::writeSomeOf(fd_, pieces);
        if (written.failure) return giveUp(*written.failure);
        if (written.full) return watch();
        takeWhatWasWritten(written.bytes);
    }
}

// A row wholly in the pipe waits there for the shell to read it; it leaves the queue before any
// callback runs, so a callback that sends again or closes finds the inbox consistent.
void ChildInbox::takeWhatWasWritten(std::size_t bytes) {
    written_ += bytes;
    while (!rows_.empty()) {
        Row& row = rows_.front();
        const std::size_t taken = std::min(bytes, row.bytes.size() - row.sent);
        row.sent += taken;
        bytes -= taken;
        if (row.sent < row.bytes.size()) return;
        held_ -= row.bytes.size();
        // Only a sender who asked how it ends is followed until the shell reads.
        if (row.settled) unread_.push_back(Unread{written_ - bytes, std::move(row.settled), row.keeps});
        else kept_ -= row.keeps;
        rows_.pop_front();
    }
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
        kept_ -= unread_.front().keeps;
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
    kept_ = 0;
    for (Unread& row : unread) tell(row.settled, why);
    for (Row& row : taken) tell(row.settled, why);
}

}  // namespace host
