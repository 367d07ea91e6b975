// The host's files and descriptors as other processes meet them: standard error that nobody
// drains, and log files and folders that other local users must not reach or redirect.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/descriptors.h"

using namespace host;

namespace {

// Waits for a child at most `seconds`; its status, or -1 when it had to be killed.
int statusWithin(pid_t child, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int raw = 0;
    while (waitpid(child, &raw, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &raw, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

std::string readUntilEnd(int fd) {
    std::string text;
    char buffer[65536];
    for (ssize_t count; (count = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(count));
    return text;
}

// A child says far more than a pipe and the backlog hold while nobody reads its standard error;
// it must get through all of it. Read afterwards, the newest messages are there, in order, and
// one line counts the dropped ones.
TEST(StandardError, SayingNeverWaitsForAReaderAndTheNewestMessagesSurvive) {
    constexpr int messages = 20000;
    int error[2], done[2], go[2];
    ASSERT_EQ(pipe2(error, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(done, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(go, O_CLOEXEC), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(error[1], platform::standardError);
        for (int n = 0; n < messages; ++n) platform::say("message " + std::to_string(n) + "\n");
        (void)!write(done[1], "d", 1);
        char answer;
        (void)!read(go[0], &answer, 1);  // the test now reads standard error
        platform::exitNow(0);
    }
    for (int fd : {error[1], done[1], go[0]}) close(fd);
    pollfd said{done[0], POLLIN, 0};
    const bool gotThrough = poll(&said, 1, 20000) == 1;
    EXPECT_TRUE(gotThrough) << "saying waited for standard error to be read";
    (void)!write(go[1], "g", 1);
    close(go[1]);
    const int readEnd = error[0];
    std::string text;
    std::thread reader([&] { text = readUntilEnd(readEnd); });
    EXPECT_EQ(statusWithin(child, 20), 0);
    reader.join();
    for (int fd : {error[0], done[0]}) close(fd);

    int last = -1, lines = 0;
    long dropped = 0;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line.starts_with("(")) {
            dropped += std::stol(line.substr(1));
            EXPECT_EQ(line, "(" + std::to_string(std::stol(line.substr(1))) + " earlier messages dropped)");
            continue;
        }
        const int n = std::stoi(line.substr(std::string("message ").size()));
        EXPECT_GT(n, last) << "out of order";
        last = n, ++lines;
    }
    EXPECT_EQ(last, messages - 1);
    EXPECT_GT(dropped, 0);
    EXPECT_EQ(lines + dropped, messages);
}

}  // namespace
