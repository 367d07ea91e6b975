// JSON lines over a connected stream socket, on the main loop: lines are cut as they arrive,
// and writes never block. A peer that stops reading is dropped once too much waits for it.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "support/event-loop.h"

namespace host::platform {

class LineChannel {
public:
    static constexpr std::size_t LONGEST_LINE = 1 << 20;
    static constexpr std::size_t MOST_UNSENT = 8 << 20;

    // Takes the descriptor; it is closed with the channel.
    explicit LineChannel(int fd);
    ~LineChannel();
    LineChannel(const LineChannel&) = delete;
    LineChannel& operator=(const LineChannel&) = delete;

    // `line` gets each line without its line feed; `tooLong` each line over LONGEST_LINE, which
    // is dropped; `closed` once, when the peer left or failed. Reading starts with start().
    void start(std::function<void(const std::string& line)> line, std::function<void()> tooLong,
               std::function<void()> closed);
    // Hands over the lines already read. A handler may run the loop again (an alert waiting for
    // its answer), so lines are taken one at a time from a queue that nested turns share.
    void dispatchPending();
    // Waits up to `seconds` for bytes and cuts the lines they complete, outside the loop.
    bool readBlocking(double seconds);
    void send(std::string line);
    // Waits up to `seconds` for what is queued to be written; for a process about to exit.
    void flushBlocking(double seconds);
    bool open() const { return fd_ >= 0; }
    void close();

private:
    void readAvailable();
    void cutLines();
    void writeQueued();
    void fail();

    int fd_;
    std::string input_;
    bool skippingLongLine_ = false;
    std::string output_;
    std::size_t outputSent_ = 0;
    std::deque<std::string> pending_;
    std::function<void(const std::string&)> line_;
    std::function<void()> tooLong_;
    std::function<void()> closed_;
    std::unique_ptr<loop::FdSource> reading_;
    std::unique_ptr<loop::FdSource> writing_;
};

}  // namespace host::platform
