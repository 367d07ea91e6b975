// Runs a program to its end with its own environment, feeding standard input and collecting
// both outputs. A program that outlives the time limit is killed, so no test can hang or leave
// it behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;      // exit status, or 128 + signal
    bool timedOut = false;
};

struct RunRequest {
    std::string program;
    std::vector<std::string> arguments;        // after argv[0]
    std::string argv0;                         // the program path when empty
    std::map<std::string, std::string> environment;
    std::string input;
    std::string directory;                     // working directory; unchanged when empty
    std::chrono::milliseconds limit{20000};
};

RunResult runToTheEnd(const RunRequest& request);

}  // namespace testing_support

namespace testing_support {

// A server the test starts, which says where it listens in one line on descriptor
// `announcement` (Xvfb -displayfd, dbus-daemon --print-address). Its other output is dropped.
struct StartedServer {
    pid_t pid = -1;
    std::string announced;  // empty when it did not start or said nothing in time
};
StartedServer startAServer(std::vector<std::string> words, int announcement);

// Ends a server started so (SIGTERM) and waits for it.
void endTheServer(pid_t pid);

}  // namespace testing_support
