// The host's files and descriptors as other processes meet them: standard error that nobody
// drains, and log files and folders that other local users must not reach or redirect.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "platform/descriptors.h"
#include "platform/sockets.h"

using namespace host;
using testing_support::readText;
using testing_support::TemporaryFolder;
namespace fs = std::filesystem;

namespace {

int exitStatusOf(pid_t child) {
    int raw = 0;
    waitpid(child, &raw, 0);
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
    if (!gotThrough) kill(child, SIGKILL);
    (void)!write(go[1], "g", 1);
    const std::string text = readUntilEnd(error[0]);  // until the child has gone
    EXPECT_EQ(exitStatusOf(child), 0);
    for (int fd : {error[0], done[0], go[1]}) close(fd);

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

unsigned modeOf(const fs::path& file) {
    struct stat info {};
    return lstat(file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Under a umask that takes nothing away, the folders the host makes, its logs and its control
// socket are still its user's alone.
TEST(HostFiles, OnlyTheOwnerReachesThemWhateverTheUmask) {
    TemporaryFolder folder;
    const fs::path support = folder.path() / "data" / "app.example.demo";
    const mode_t previous = umask(0);
    const bool appended = append({{"kind", "test"}}, support / "shell.jsonl");
    const int listener = platform::listenAt((support / "menu.sock").string(), 1);
    umask(previous);
    EXPECT_TRUE(appended);
    EXPECT_GE(listener, 0);
    const std::pair<fs::path, unsigned> expected[] = {
        {folder.path() / "data", 0700}, {support, 0700}, {support / "shell.jsonl", 0600}, {support / "menu.sock", 0600}};
    for (const auto& [file, mode] : expected) EXPECT_EQ(modeOf(file), mode) << file;
    if (listener >= 0) platform::closeSocket(listener);
}

// Someone planted a link where a log goes, to a file of theirs or to one not made yet: the host
// writes through neither, and says so once.
TEST(HostFiles, ALogsPlaceTakenByASymbolicLinkIsNotWrittenThrough) {
    TemporaryFolder folder;
    const fs::path log = folder.path() / "links.jsonl", theirs = folder.path() / "theirs";
    const fs::path unmade = folder.path() / "unmade";
    testing_support::writeText(theirs, "");
    fs::create_symlink(theirs, log);
    fs::create_symlink(unmade, folder.path() / "shell.jsonl");
    int error[2];
    ASSERT_EQ(pipe2(error, O_CLOEXEC), 0);
    const pid_t child = fork();
    if (child == 0) {
        dup2(error[1], platform::standardError);
        const bool anyWritten = append({{"url", "demo://a"}}, log) || append({{"url", "demo://b"}}, log) ||
                                append({{"kind", "k"}}, folder.path() / "shell.jsonl");
        platform::exitNow(anyWritten ? 1 : 0);
    }
    close(error[1]);
    const std::string said = readUntilEnd(error[0]);
    close(error[0]);
    EXPECT_EQ(exitStatusOf(child), 0);
    EXPECT_EQ(said, "log not written: " + log.string() + " is a symbolic link\n" + "log not written: " +
                        (folder.path() / "shell.jsonl").string() + " is a symbolic link\n");
    EXPECT_EQ(readText(theirs), "");
    EXPECT_FALSE(fs::exists(unmade));
}

}  // namespace
