// Turns of the host's loop for unit tests of code that queues work or starts timers.
#pragma once

#include <functional>

#include "support/event-loop.h"

namespace testing_support {

// Runs the loop until `done` holds; false when a generous deadline had to stop it, so a
// broken wait fails the test instead of hanging the suite.
inline bool runTheLoopUntil(const std::function<bool()>& done) {
    bool gaveUp = false;
    host::loop::Timer patience;
    patience.startOnce(10, [&] { gaveUp = true; });
    host::loop::runTheLoopUntil([&] { return done() || gaveUp; });
    return !gaveUp;
}

// Runs everything queued on the main queue so far, and nothing queued by it.
inline bool runTheQueuedWork() {
    bool reached = false;
    host::loop::postToTheMainQueue([&] { reached = true; });
    return runTheLoopUntil([&] { return reached; });
}

}  // namespace testing_support
