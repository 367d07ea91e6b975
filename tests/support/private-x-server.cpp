#include "private-x-server.h"

#include "process-runner.h"

namespace testing_support {

PrivateXServer::PrivateXServer(const std::string& screen) {
    constexpr int DISPLAY_FD = 3;
    StartedServer server = startAServer(
        {"Xvfb", "-displayfd", std::to_string(DISPLAY_FD), "-screen", "0", screen, "-nolisten", "tcp", "-noreset"},
        DISPLAY_FD);
    pid_ = server.pid;
    if (!server.announced.empty()) display_ = ":" + server.announced;
}

PrivateXServer::~PrivateXServer() { end(); }

void PrivateXServer::end() {
    endTheServer(pid_);
    pid_ = -1;
}

}  // namespace testing_support
