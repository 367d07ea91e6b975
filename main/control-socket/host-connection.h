// One client of the control socket: its bytes are cut into request lines, each line is answered
// in order, and the replies are written without ever blocking the main thread. Main thread only.
//
// Bounds, so that no client can stall the host or grow its memory:
// - a request line longer than LONGEST_REQUEST gets {"error": "request-too-long"} and the
//   connection is dropped;
// - while more than QUEUE_PAUSE bytes of replies wait for the client, the connection neither
//   reads nor answers, so a client that pipelines without reading is simply held back;
// - a connection whose waiting replies would pass MOST_UNSENT is dropped (a few requests can
//   ask for large replies).
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/event-loop.h"
#include "support/json.h"

namespace host {

// An answer: an object serialised here (keys in no particular order), or the line written
// already by the answer, without its line feed, for the answers made most often.
struct Reply {
    Reply(const Json& object);  // NOLINT: any object answers
    static Reply written(std::string line);
    std::string line;

private:
    Reply() = default;
};

class HostConnection : public std::enable_shared_from_this<HostConnection> {
public:
    static constexpr std::size_t READ_BYTES = 4096;
    static constexpr std::size_t LONGEST_REQUEST = 256 * 1024;
    static constexpr std::size_t QUEUE_PAUSE = 64 * 1024;
    static constexpr std::size_t MOST_UNSENT = 1024 * 1024;

    using Answer = std::function<Reply(std::string_view line)>;

    // Takes the connected, non-blocking descriptor; it is closed when the connection ends.
    HostConnection(int fd, Answer answer);
    ~HostConnection();
    HostConnection(const HostConnection&) = delete;
    HostConnection& operator=(const HostConnection&) = delete;

    // Starts reading; `ended` runs once, when the connection has closed. Held by a shared_ptr.
    void start(std::function<void()> ended);
    int fd() const { return fd_; }
    bool open() const { return fd_ >= 0; }
    std::size_t unsent() const { return output_.size() - sent_; }

private:
    void hostRead();
    void proceed();
    bool answerCompleteLines();
    void refuseTheLongLine();
    void queue(Reply reply);
    void writeQueued();
    void watchWhatIsNeeded();
    void close();

    int fd_;
    Answer answer_;
    std::function<void()> ended_;
    std::string pending_;
    std::string output_;
    std::size_t sent_ = 0;
    bool clientClosed_ = false;
    bool answering_ = false;
    std::unique_ptr<loop::FdSource> reading_;
    std::unique_ptr<loop::FdSource> writing_;
};

}  // namespace host
