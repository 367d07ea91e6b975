#include "control-socket/host-connection.h"

#include "platform/sockets.h"

namespace host {
// Text that is not UTF-8 is replaced rather than thrown over.
Reply::Reply(const Json& object) {
    try {
        line = object.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception&) {
        line.clear();
    }
}

Reply Reply::written(std::string text) {
    Reply reply;
    reply.line = std::move(text);
    return reply;
}

HostConnection::HostConnection(int fd, Answer answer) : fd_(fd), answer_(std::move(answer)) {}

HostConnection::~HostConnection() {
    reading_.reset();
    writing_.reset();
    if (fd_ >= 0) platform::closeSocket(fd_);
}

void HostConnection::start(std::function<void()> ended) {
    ended_ = std::move(ended);
    // The sources hold the connection only while a callback runs: its owner decides its life.
    std::weak_ptr<HostConnection> self = weak_from_this();
    reading_ = std::make_unique<loop::FdSource>(fd_, loop::FdSource::Condition::readable, [self] {
        if (auto connection = self.lock()) {
            connection->hostRead();
            connection->proceed();
        }
    });
    writing_ = std::make_unique<loop::FdSource>(fd_, loop::FdSource::Condition::writable, [self] {
        if (auto connection = self.lock()) connection->proceed();
    });
    watchWhatIsNeeded();
}

void HostConnection::hostRead() {
    if (!open()) return;
    char buffer[READ_BYTES];
    platform::Received received = platform::receiveSome(fd_, buffer, sizeof buffer);
    if (received.failed) return close();
    clientClosed_ = clientClosed_ || received.ended;
    pending_.append(buffer, received.bytes);
}

// Answers while the client keeps up with the replies, then waits for whichever side moves next.
void HostConnection::proceed() {
    for (bool again = true; again && open();) {
        const bool linesWait = answerCompleteLines();
        writeQueued();
        again = linesWait && unsent() < QUEUE_PAUSE;
    }
    if (!open()) return;
    // A client that closed its sending side still gets every reply it asked for.
    if (clientClosed_ && unsent() == 0 && !answering_) return close();
    watchWhatIsNeeded();
}

// True when complete lines wait because too many replies do.
bool HostConnection::answerCompleteLines() {
    if (answering_) return false;  // an answer that turns the loop must not answer out of order
    answering_ = true;
    std::size_t start = 0;
    bool linesWait = false;
    while (open()) {
        const std::size_t end = pending_.find('\n', start);
        if (end == std::string::npos) break;
        if (unsent() >= QUEUE_PAUSE) {
            linesWait = true;
            break;
        }
        if (end - start > LONGEST_REQUEST) {
            refuseTheLongLine();
            break;
        }
        // A copy: an answer may read more into the buffer.
        const std::string line = pending_.substr(start, end - start);
        start = end + 1;
        queue(answer_(line));
    }
    pending_.erase(0, start);
    answering_ = false;
    if (open() && !linesWait && pending_.size() > LONGEST_REQUEST) refuseTheLongLine();
    return linesWait;
}

void HostConnection::refuseTheLongLine() {
    queue(Json{{"error", "request-too-long"}});
    writeQueued();
    close();
}

void HostConnection::queue(Reply reply) {
    if (!open()) return;
    if (unsent() + reply.line.size() + 1 > MOST_UNSENT) return close();
    output_ += reply.line;
    output_.push_back('\n');
}

void HostConnection::writeQueued() {
    while (open() && unsent() > 0) {
        platform::Written written = platform::sendSome(fd_, std::string_view(output_).substr(sent_));
        if (written.failure) return close();
        if (written.full) break;
        sent_ += written.bytes;
    }
    // What was sent goes once it is the bigger part, so the buffer stays within twice what waits.
    if (sent_ == output_.size()) {
        output_.clear();
        sent_ = 0;
    } else if (sent_ >= unsent()) {
        output_.erase(0, sent_);
        sent_ = 0;
    }
}

void HostConnection::watchWhatIsNeeded() {
    if (!open()) return;
    if (!clientClosed_ && !answering_ && unsent() < QUEUE_PAUSE) reading_->resume();
    else reading_->suspend();
    if (unsent() > 0) writing_->resume();
    else writing_->suspend();
}

void HostConnection::close() {
    if (!open()) return;
    if (reading_) reading_->suspend();
    if (writing_) writing_->suspend();
    platform::closeSocket(fd_);
    fd_ = -1;
    pending_.clear();
    output_.clear();
    sent_ = 0;
    std::function<void()> ended = std::move(ended_);
    ended_ = nullptr;
    if (ended) ended();
}

}  // namespace host
