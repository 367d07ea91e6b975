// The apps watch: on the shell's request, the host tells it which applications run and which
// windows are on screen, and tells it again after every launch, quit, activation, hide or
// unhide. A burst of such changes within one turn of the main queue gives one snapshot.
// Main thread only.
#pragma once

#include <functional>
#include <memory>

#include "support/json.h"

namespace host {

class AppsWatch {
public:
    using Tell = std::function<void(const Json& snapshot)>;

    // Snapshots go to `tell` (the shell, in the host).
    explicit AppsWatch(Tell tell);
    AppsWatch(const AppsWatch&) = delete;
    AppsWatch& operator=(const AppsWatch&) = delete;

    // The workspace observers are installed; they stay for the desktop's lifetime.
    bool watching = false;
    // A snapshot is queued on the main queue and not yet sent.
    bool owed = false;

    // Observes the desktop in use (once), then sends a snapshot at once.
    void start();
    // Queues one snapshot unless one is already owed.
    void soon();
    void send();

private:
    Tell tell_;
    // Observers and queued work hold this weakly: the desktop may outlive the watch.
    std::shared_ptr<AppsWatch*> self_;
};

// {"apps": [rows], "windows": [[owner pid, layer], ...]} from the desktop in use.
Json appsSnapshot();

// The host's one apps watch, made at start-up; it tells the shell.
AppsWatch& appsWatch();
void makeTheAppsWatch();

}  // namespace host
