// A real TCP connection over the loopback interface, both ends held by this process, for tests
// that need a process with an established connection. close() ends it; so does destruction.
#pragma once

namespace testing_support {

class LoopbackConnection {
public:
    LoopbackConnection();
    ~LoopbackConnection() { close(); }
    LoopbackConnection(const LoopbackConnection&) = delete;
    LoopbackConnection& operator=(const LoopbackConnection&) = delete;

    // Whether the listener, the client and the accepted end all came up.
    bool established() const { return served_ >= 0; }
    void close();

private:
    int listener_ = -1;
    int client_ = -1;
    int served_ = -1;
};

}  // namespace testing_support
