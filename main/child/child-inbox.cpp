#include "child/child-inbox.h"

#include <utility>

#include "platform/descriptors.h"
#include "platform/processes.h"

namespace host {

namespace {

const char* const CLOSED = "closed";
const char* const NOT_READING = "child-not-reading";

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

// Writes as much as the pipe takes. Each finished row leaves the queue before its callback
// runs, so a callback that sends again or closes finds the inbox consistent.
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
        if (written.full) return watch();
        row.sent += written.bytes;
        if (row.sent < row.bytes.size()) continue;
        Settled settled = std::move(row.settled);
        held_ -= row.bytes.size();
        rows_.pop_front();
        tell(settled, std::nullopt);
    }
    if (waker_) waker_->suspend();
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
void ChildInbox::giveUp(const std::string& reason) {
    const std::string why = reason;
    failure_ = why;
    if (waker_) waker_->suspend();
    std::deque<Row> taken = std::exchange(rows_, {});
    held_ = 0;
    for (Row& row : taken) tell(row.settled, why);
}

}  // namespace host
