// The host's messages on standard error, written by a thread of their own: standard error is
// shared with the shell and the launcher, so it stays blocking, and a launcher that reads only
// the standard output would otherwise stall the host once the pipe is full.
#include <pthread.h>
#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "platform/descriptors.h"

namespace host::platform {
namespace {

struct ErrorWriter {
    std::mutex lock;
    std::condition_variable said, written;
    std::deque<std::string> waiting;
    std::size_t waitingBytes = 0;
    std::uint64_t dropped = 0;
    bool started = false;
    bool writing = false;
};

// Never destroyed: the thread may still be writing while the process exits. A forked child
// (tests fork) has no writer thread and perhaps a held lock, so it starts afresh.
ErrorWriter* currentWriter = new ErrorWriter;
ErrorWriter& errorWriter() { return *currentWriter; }
void startAfreshInTheChild() { currentWriter = new ErrorWriter; }

void writeTheMessages() {
    ErrorWriter& writer = errorWriter();
    std::unique_lock held(writer.lock);
    for (;;) {
        writer.said.wait(held, [&] { return !writer.waiting.empty(); });
        std::string text;
        if (writer.dropped > 0) text = "(" + std::to_string(writer.dropped) + " earlier messages dropped)\n";
        for (const std::string& line : writer.waiting) text += line;
        writer.waiting.clear();
        writer.waitingBytes = 0;
        writer.dropped = 0;
        writer.writing = true;
        held.unlock();
        writeAll(standardError, text);
        held.lock();
        writer.writing = false;
        writer.written.notify_all();
    }
}

// With every signal blocked, as the host's signals are read from a signalfd on the main thread:
// a signal handed to this thread would be lost.
bool startTheWriter() {
    static const bool forksStartAfresh = pthread_atfork(nullptr, nullptr, startAfreshInTheChild) == 0;
    (void)forksStartAfresh;
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    bool started = true;
    try {
        std::thread(writeTheMessages).detach();
    } catch (const std::system_error&) {
        started = false;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

}  // namespace

void say(std::string_view line) {
    ErrorWriter& writer = errorWriter();
    std::lock_guard held(writer.lock);
    if (!writer.started && !(writer.started = startTheWriter())) return;
    writer.waiting.emplace_back(line);
    writer.waitingBytes += line.size();
    while (writer.waitingBytes > STANDARD_ERROR_BACKLOG && writer.waiting.size() > 1) {
        writer.waitingBytes -= writer.waiting.front().size();
        writer.waiting.pop_front();
        ++writer.dropped;
    }
    writer.said.notify_one();
}

void flushTheStandardError(double seconds) {
    ErrorWriter& writer = errorWriter();
    std::unique_lock held(writer.lock);
    writer.written.wait_for(held, std::chrono::duration<double>(seconds),
                            [&] { return writer.waiting.empty() && !writer.writing; });
}

}  // namespace host::platform
