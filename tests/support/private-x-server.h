// An X server of the test's own: Xvfb on a display number it picks itself (-displayfd), ended
// by its pid, so no test touches the machine's display or leaves a server behind.
#pragma once

#include <string>

#include <sys/types.h>

namespace testing_support {

class PrivateXServer {
public:
    // `screen` as Xvfb takes it: width x height x depth.
    explicit PrivateXServer(const std::string& screen = "1280x1024x24");
    ~PrivateXServer();
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    // ":N", or empty when the server did not start.
    const std::string& display() const { return display_; }
    // Ends the server now (the display closes under its clients).
    void end();

private:
    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace testing_support
