// A D-Bus daemon of the test's own, with a configuration that starts no services, ended by its
// pid: no test talks to the machine's own bus.
#pragma once

#include <string>

#include <sys/types.h>

#include "bundle-fixture.h"

namespace testing_support {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& address() const { return address_; }

private:
    TemporaryFolder folder_;
    pid_t pid_ = -1;
    std::string address_;
};

}  // namespace testing_support
