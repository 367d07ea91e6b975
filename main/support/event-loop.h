// The host's event loop: GLib's default main context on the main thread, spoken in the host's
// vocabulary (main-queue posts, timers, signal, read/write and process-exit sources).
//
// Every callback runs on the main thread. Each source is owned by one object; destroying or
// cancelling the object removes the source, so a callback never runs after its owner is gone.
// Only postToTheMainQueue may be called from another thread.
#pragma once

#include <csignal>
#include <cstdint>
#include <functional>
#include <memory>

namespace host::loop {

using Callback = std::function<void()>;

// Runs the main loop until quitTheMainLoop(); returns at once if already quit.
void runTheMainLoop();
void quitTheMainLoop();

// Runs turns of the loop from inside a callback until `done` holds: the other sources keep
// running meanwhile, so a piece of work can wait for an answer without stalling the host.
void runTheLoopUntil(const std::function<bool()>& done);

// Queues work to run once on the main loop, after the work already queued. Thread-safe. Work
// queued together runs in one turn, as one callback.
void postToTheMainQueue(Callback work);

// Runs `work` when the loop callback that runs now returns (in the order asked), or at once
// outside any callback: what many events of one callback ask for (a log's lines, the shell's
// input) is then done once for all of them. Main thread only.
void whenThisCallbackReturns(Callback work);
// Whether a loop callback runs now, so that work asked for now would wait for its end.
bool insideACallback();
// A number that changes with every callback the loop starts; for answers good for one callback.
std::uint64_t callbackNumber();
// Does at once the work that waits for the callback's end; for a process about to exit.
void doTheWorkThatWaits();

// Runs `callback`, swallowing what it throws: one piece of work never stops the others.
void runSwallowingExceptions(const Callback& callback) noexcept;

// Whether the caller runs on the process's main thread, the one that runs the loop. Thread-safe.
bool onTheMainThread();

// A one-shot or repeating timer. Starting a started timer restarts it.
class Timer {
public:
    Timer();
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void startOnce(double seconds, Callback fired);
    void startRepeating(double seconds, Callback fired);
    void cancel();
    bool armed() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Blocks the signal for the whole process (it must already be ignored or handled) and reads it
// through a signalfd watched by the loop. Blocked signals queue even while ignored, so none is
// lost between the block and the first loop turn. Cancelling closes the signalfd; the signal
// stays blocked and ignored.
class SignalSource {
public:
    SignalSource(int signalNumber, Callback heard);
    ~SignalSource();
    SignalSource(const SignalSource&) = delete;
    SignalSource& operator=(const SignalSource&) = delete;

    void cancel();
    bool active() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Watches a descriptor for readability or writability. Starts suspended; the callback runs on
// each loop turn while the condition holds and the source is resumed. The descriptor stays
// owned by the caller.
class FdSource {
public:
    enum class Condition { readable, writable };
    FdSource(int fd, Condition condition, Callback ready);
    ~FdSource();
    FdSource(const FdSource&) = delete;
    FdSource& operator=(const FdSource&) = delete;

    void resume();
    void suspend();
    bool resumed() const;
    // Lets the callback run again from a nested turn of the loop started inside it (a reader
    // that waits for an answer on its own descriptor).
    void allowNestedCalls();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace host::loop
