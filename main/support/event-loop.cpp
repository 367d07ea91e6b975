#include "support/event-loop.h"

#include <glib-unix.h>
#include <glib.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <utility>
#include <vector>

namespace host::loop {

// Exceptions must not unwind through GLib's C frames; there is no logger to report them to yet.
void runSwallowingExceptions(const Callback& callback) noexcept {
    try {
        if (callback) callback();
    } catch (...) {
    }
}

namespace {

// What one attached GLib source calls. GLib holds its own reference, so the core outlives its
// owner while a callback runs, and the owner can be destroyed or re-armed from inside it.
struct Core {
    explicit Core(std::shared_ptr<Callback> run) : callback(std::move(run)) {}
    std::shared_ptr<Callback> callback;
    guint id = 0;
    bool live = true;
};
using CoreRef = std::shared_ptr<Core>;

gpointer holdForGlib(const CoreRef& core) { return new CoreRef(core); }
void releaseFromGlib(gpointer data) { delete static_cast<CoreRef*>(data); }
CoreRef coreHeldBy(gpointer data) { return *static_cast<CoreRef*>(data); }

bool isLive(const CoreRef& core) { return core && core->live; }

// Main thread only: how deep callbacks run inside one another (nested turns), and the work
// waiting for the end of the one that runs now.
int callbackDepth = 0;
std::uint64_t callbacksStarted = 0;
std::vector<Callback> waitingForTheEnd;

// Work asked for by the work that runs here waits for nothing: it is done in the same pass.
void doTheWaitingWork() {
    ++callbackDepth;
    while (!waitingForTheEnd.empty()) {
        for (const Callback& work : std::exchange(waitingForTheEnd, {})) runSwallowingExceptions(work);
    }
    --callbackDepth;
}

// Every callback of the loop runs through here, so what it asked to be done at its end is done
// before the loop goes on.
template <typename Work>
void runAsOneCallback(const Work& work) noexcept {
    ++callbackDepth;
    ++callbacksStarted;
    work();
    doTheWaitingWork();
    --callbackDepth;
}

void runTheCallback(const Callback& callback) noexcept {
    runAsOneCallback([&] { runSwallowingExceptions(callback); });
}

// Idempotent: a source GLib already removed (a fired one-shot) is no longer live.
void detach(CoreRef& core) {
    if (isLive(core)) {
        core->live = false;
        g_source_remove(core->id);
    }
    core.reset();
}

GMainLoop* theMainLoop() {
    static GMainLoop* const loop = g_main_loop_new(nullptr, FALSE);
    return loop;
}

// Set by a quit that comes before the loop runs, so that run returns at once; a run consumes it.
std::atomic<bool> quitRequested{false};

// One source, made once and woken by its ready time, drains a mutex-guarded queue: FIFO across
// threads, and work posted while the queue drains waits for a later turn instead of running
// inside the post.
struct MainQueue {
    std::mutex lock;
    std::vector<Callback> work;
    bool wakeupPending = false;
    GSource* source = nullptr;
};

gboolean runQueuedWork(GSource* source, GSourceFunc, gpointer);

GSourceFuncs mainQueueFuncs = {nullptr, nullptr, runQueuedWork, nullptr, nullptr, nullptr};

// Made on first use, from whichever thread posts first; attaching is thread-safe.
MainQueue& theMainQueue() {
    static MainQueue* const queue = [] {
        auto* made = new MainQueue;  // never destroyed: a reader thread may post while the process exits
        made->source = g_source_new(&mainQueueFuncs, sizeof(GSource));
        g_source_set_priority(made->source, G_PRIORITY_DEFAULT);
        g_source_set_ready_time(made->source, -1);
        g_source_attach(made->source, nullptr);
        return made;
    }();
    return *queue;
}

// The ready time is cleared before the queue is taken, so a post that comes in between wakes
// the source again rather than being missed.
gboolean runQueuedWork(GSource* source, GSourceFunc, gpointer) {
    MainQueue& queue = theMainQueue();
    g_source_set_ready_time(source, -1);
    std::vector<Callback> batch;
    {
        std::lock_guard<std::mutex> guard(queue.lock);
        batch.swap(queue.work);
        queue.wakeupPending = false;
    }
    runAsOneCallback([&] {
        for (const Callback& work : batch) runSwallowingExceptions(work);
    });
    return G_SOURCE_CONTINUE;
}

gboolean fireOnce(gpointer data) {
    CoreRef core = coreHeldBy(data);
    core->live = false;  // GLib drops the source on return; the callback may re-arm the timer.
    runTheCallback(*core->callback);
    return G_SOURCE_REMOVE;
}

gboolean fireRepeating(gpointer data) {
    CoreRef core = coreHeldBy(data);
    runTheCallback(*core->callback);
    return isLive(core) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// Rounds up so a timer never fires early; GLib counts whole milliseconds.
guint millisecondsIn(double seconds) {
    if (!(seconds > 0)) return 0;
    const double milliseconds = std::ceil(seconds * 1000.0);
    if (milliseconds >= static_cast<double>(G_MAXUINT)) return G_MAXUINT;
    return static_cast<guint>(milliseconds);
}

// A standard signal queues once, but a burst can leave several records; each one is a hearing.
// The callback may cancel the source, which closes the descriptor, so check before every read.
gboolean drainSignalRecords(gint fd, GIOCondition, gpointer data) {
    CoreRef core = coreHeldBy(data);
    signalfd_siginfo record;
    while (isLive(core) && read(fd, &record, sizeof record) == sizeof record) runTheCallback(*core->callback);
    return isLive(core) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

gboolean fireFdReady(gint, GIOCondition, gpointer data) {
    CoreRef core = coreHeldBy(data);
    runTheCallback(*core->callback);
    return isLive(core) ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

CoreRef watchFd(int fd, GIOCondition condition, std::shared_ptr<Callback> callback,
                GUnixFDSourceFunc trampoline) {
    auto core = std::make_shared<Core>(std::move(callback));
    core->id = g_unix_fd_add_full(G_PRIORITY_DEFAULT, fd, condition, trampoline,
                                  holdForGlib(core), releaseFromGlib);
    return core;
}

// Hang-up and error count as ready so the owner reads the end of file or sees the error.
GIOCondition glibConditionFor(FdSource::Condition condition) {
    const int always = G_IO_HUP | G_IO_ERR;
    const int wanted = condition == FdSource::Condition::readable ? G_IO_IN : G_IO_OUT;
    return static_cast<GIOCondition>(wanted | always);
}

}  // namespace

void runTheMainLoop() {
    if (quitRequested.exchange(false)) return;
    g_main_loop_run(theMainLoop());
    quitRequested = false;
}

void quitTheMainLoop() {
    quitRequested = true;
    g_main_loop_quit(theMainLoop());
}

// Nothing waits for the end of the callback across a wait for an answer.
void runTheLoopUntil(const std::function<bool()>& done) {
    while (!done()) {
        doTheWaitingWork();
        g_main_context_iteration(nullptr, TRUE);
    }
}

void postToTheMainQueue(Callback work) {
    MainQueue& queue = theMainQueue();
    std::lock_guard<std::mutex> guard(queue.lock);
    queue.work.push_back(std::move(work));
    if (queue.wakeupPending) return;
    queue.wakeupPending = true;
    g_source_set_ready_time(queue.source, 0);
}

void whenThisCallbackReturns(Callback work) {
    if (callbackDepth == 0) return runSwallowingExceptions(work);
    waitingForTheEnd.push_back(std::move(work));
}

bool insideACallback() { return callbackDepth > 0; }

std::uint64_t callbackNumber() { return callbacksStarted; }

void doTheWorkThatWaits() {
    if (onTheMainThread()) doTheWaitingWork();
}

// On Linux the main thread's id is the process id.
bool onTheMainThread() { return gettid() == getpid(); }

struct Timer::State {
    CoreRef core;

    // A fresh core per start: the previous callback may be the one running right now.
    void arm(double seconds, Callback fired, GSourceFunc trampoline) {
        detach(core);
        core = std::make_shared<Core>(std::make_shared<Callback>(std::move(fired)));
        core->id = g_timeout_add_full(G_PRIORITY_DEFAULT, millisecondsIn(seconds), trampoline,
                                      holdForGlib(core), releaseFromGlib);
    }
};

Timer::Timer() : state_(std::make_unique<State>()) {}
Timer::~Timer() { cancel(); }

void Timer::startOnce(double seconds, Callback fired) {
    state_->arm(seconds, std::move(fired), fireOnce);
}

void Timer::startRepeating(double seconds, Callback fired) {
    state_->arm(seconds, std::move(fired), fireRepeating);
}

void Timer::cancel() { detach(state_->core); }
bool Timer::armed() const { return isLive(state_->core); }

struct SignalSource::State {
    CoreRef core;
    int fd = -1;
};

// Blocking only reaches this thread and the threads it starts later, so the host creates its
// signal sources on the main thread before any other thread exists.
SignalSource::SignalSource(int signalNumber, Callback heard) : state_(std::make_unique<State>()) {
    sigset_t signals;
    sigemptyset(&signals);
    if (sigaddset(&signals, signalNumber) != 0) return;
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) return;
    state_->fd = signalfd(-1, &signals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (state_->fd < 0) return;
    state_->core = watchFd(state_->fd, G_IO_IN, std::make_shared<Callback>(std::move(heard)),
                           drainSignalRecords);
}

SignalSource::~SignalSource() { cancel(); }

void SignalSource::cancel() {
    detach(state_->core);
    if (state_->fd >= 0) close(state_->fd);
    state_->fd = -1;
}

bool SignalSource::active() const { return isLive(state_->core); }

struct FdSource::State {
    int fd = -1;
    GIOCondition condition{};
    bool nestedCalls = false;
    std::shared_ptr<Callback> ready;  // shared with every resumed core, which may outlive us
    CoreRef core;
};

FdSource::FdSource(int fd, Condition condition, Callback ready)
    : state_(std::make_unique<State>()) {
    state_->fd = fd;
    state_->condition = glibConditionFor(condition);
    state_->ready = std::make_shared<Callback>(std::move(ready));
}

FdSource::~FdSource() { suspend(); }

void FdSource::resume() {
    if (resumed() || state_->fd < 0) return;
    state_->core = watchFd(state_->fd, state_->condition, state_->ready, fireFdReady);
    if (state_->nestedCalls) {
        if (GSource* source = g_main_context_find_source_by_id(nullptr, state_->core->id)) {
            g_source_set_can_recurse(source, TRUE);
        }
    }
}

void FdSource::allowNestedCalls() {
    state_->nestedCalls = true;
    if (resumed()) {
        suspend();
        resume();
    }
}

void FdSource::suspend() { detach(state_->core); }
bool FdSource::resumed() const { return isLive(state_->core); }

}  // namespace host::loop
