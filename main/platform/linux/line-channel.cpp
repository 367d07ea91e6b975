#include "platform/linux/line-channel.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>

namespace host::platform {

LineChannel::LineChannel(int fd) : fd_(fd) {
    reading_ = std::make_unique<loop::FdSource>(fd_, loop::FdSource::Condition::readable, [this] { readAvailable(); });
    // A handler may wait in a nested turn for an answer that arrives on this very descriptor.
    reading_->allowNestedCalls();
    writing_ = std::make_unique<loop::FdSource>(fd_, loop::FdSource::Condition::writable, [this] { writeQueued(); });
}

LineChannel::~LineChannel() { close(); }

void LineChannel::start(std::function<void(const std::string&)> line, std::function<void()> tooLong,
                        std::function<void()> closed) {
    line_ = std::move(line);
    tooLong_ = std::move(tooLong);
    closed_ = std::move(closed);
    if (open()) reading_->resume();
}

void LineChannel::close() {
    if (!open()) return;
    reading_->suspend();
    writing_->suspend();
    ::close(fd_);
    fd_ = -1;
    pending_.clear();
    output_.clear();
    outputSent_ = 0;
}

void LineChannel::fail() {
    if (!open()) return;
    close();
    if (closed_) closed_();
}

bool LineChannel::readBlocking(double seconds) {
    if (!open()) return false;
    pollfd watched{fd_, POLLIN, 0};
    const int milliseconds = static_cast<int>(std::ceil(seconds * 1000));
    int ready;
    do ready = ::poll(&watched, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    readAvailable();
    return open();
}

void LineChannel::readAvailable() {
    char buffer[65536];
    ssize_t count;
    do count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    while (count < 0 && errno == EINTR);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count <= 0) {
        fail();
        return;
    }
    input_.append(buffer, static_cast<std::size_t>(count));
    cutLines();
}

void LineChannel::cutLines() {
    std::size_t start = 0;
    for (;;) {
        std::size_t end = input_.find('\n', start);
        if (end == std::string::npos) break;
        std::size_t length = end - start;
        if (skippingLongLine_) {
            skippingLongLine_ = false;
        } else if (length > LONGEST_LINE) {
            if (tooLong_) tooLong_();
        } else {
            pending_.emplace_back(input_, start, length);
        }
        start = end + 1;
    }
    input_.erase(0, start);
    // A line that is already too long is dropped as it comes, so the buffer stays bounded.
    if (input_.size() > LONGEST_LINE) {
        if (!skippingLongLine_ && tooLong_) tooLong_();
        skippingLongLine_ = true;
        input_.clear();
    }
    dispatchPending();
}

void LineChannel::dispatchPending() {
    while (open() && !pending_.empty()) {
        std::string line = std::move(pending_.front());
        pending_.pop_front();
        if (line_) line_(line);
    }
}

void LineChannel::send(std::string line) {
    if (!open()) return;
    line.push_back('\n');
    if (output_.size() - outputSent_ + line.size() > MOST_UNSENT) {
        fail();
        return;
    }
    output_ += line;
    writeQueued();
}

void LineChannel::flushBlocking(double seconds) {
    const int milliseconds = static_cast<int>(std::ceil(seconds * 1000));
    while (open() && outputSent_ < output_.size()) {
        pollfd watched{fd_, POLLOUT, 0};
        if (::poll(&watched, 1, milliseconds) <= 0) return;
        writeQueued();
    }
}

void LineChannel::writeQueued() {
    while (open() && outputSent_ < output_.size()) {
        ssize_t written = ::send(fd_, output_.data() + outputSent_, output_.size() - outputSent_,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (written > 0) {
            outputSent_ += static_cast<std::size_t>(written);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            writing_->resume();
            return;
        } else {
            fail();
            return;
        }
    }
    if (!open()) return;
    output_.clear();
    outputSent_ = 0;
    writing_->suspend();
}

}  // namespace host::platform
