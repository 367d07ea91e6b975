// The shut-down of the machine as logind announces it on the system bus: PrepareForShutdown(true)
// is told to the host, which holds a delay lock meanwhile so that it can end its shell in order
// (the lock goes with the process). Main thread only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/freedesktop/bus.h"

namespace host::platform {

class Logind {
public:
    // Connects to the system bus in the background; `shuttingDown` runs on each announcement.
    // `who` names the application in the lock.
    Logind(std::string who, std::function<void()> shuttingDown);
    ~Logind();
    Logind(const Logind&) = delete;
    Logind& operator=(const Logind&) = delete;

    void connected(bus::Connection connection);
    void prepareForShutdown(bool starting);

private:
    void takeTheDelayLock();

    std::string who_;
    std::function<void()> shuttingDown_;
    bus::Connection connection_;
    guint subscription_ = 0;
    GCancellable* cancellable_;
    int lock_ = -1;
};

}  // namespace host::platform
