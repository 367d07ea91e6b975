// A minimal shell for tests: reads JSON lines from its input and appends each complete line to
// the file named by its first argument. Ending on SIGTERM, it first reads what is already in
// its pipe, so nothing the host wrote before asking it to end is lost.
//   line-shell <file>               read until the input ends
//   line-shell <file> never-read    never read the input; wait to be ended
//   line-shell <file> exit-after N  exit 0 after N lines
//   line-shell <file> started       append when it started (CLOCK_MONOTONIC, ns) and exit 0
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

volatile sig_atomic_t ending = 0;
int outputFd = -1;
std::string pending;
long lines = 0;

void appendTheCompleteLines() {
    auto end = pending.rfind('\n');
    if (end == std::string::npos) return;
    std::string complete = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
    for (char c : complete) lines += c == '\n';
    std::size_t written = 0;
    while (written < complete.size()) {
        ssize_t n = write(outputFd, complete.data() + written, complete.size() - written);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) written += static_cast<std::size_t>(n);
    }
}

// Returns false at end of input.
bool readOnce(bool nonBlocking) {
    char buffer[65536];
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n > 0) {
        pending.append(buffer, static_cast<std::size_t>(n));
        appendTheCompleteLines();
        return true;
    }
    if (n < 0 && errno == EINTR) return true;
    return n < 0 && !nonBlocking && errno == EAGAIN;
}

[[noreturn]] void readWhatIsLeftAndEnd() {
    fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
    while (readOnce(true)) {
    }
    _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (argc < 2) return 2;
    outputFd = open(argv[1], O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (outputFd < 0) return 2;
    struct sigaction term {};
    term.sa_handler = [](int) { ending = 1; };
    sigaction(SIGTERM, &term, nullptr);  // no SA_RESTART: a blocked read returns EINTR
    std::string mode = argc > 2 ? argv[2] : "read";
    if (mode == "started") {
        pending = std::to_string(start.tv_sec * 1000000000LL + start.tv_nsec) + "\n";
        appendTheCompleteLines();
        return 0;
    }
    long limit = mode == "exit-after" && argc > 3 ? std::atol(argv[3]) : -1;
    if (mode == "never-read") {
        // SIGTERM waits blocked between the check and the wait, so it cannot slip between them.
        sigset_t term, others;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        sigprocmask(SIG_BLOCK, &term, &others);
        while (!ending) sigsuspend(&others);
        return 0;
    }
    while (!ending) {
        if (!readOnce(false)) return 0;
        if (limit >= 0 && lines >= limit) return 0;
    }
    readWhatIsLeftAndEnd();
}
