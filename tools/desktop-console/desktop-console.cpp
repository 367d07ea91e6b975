// desktop-console: plays the desktop for a host started as its child, so a person (or a script
// through a pipe) can see its status menu, hot keys, badges and alerts, and act as the user
// and the system would. Output is plain lines; `help` lists the commands.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "console.h"
#include "desktop-peer.h"
#include "host-process.h"
#include "line-editor.h"

namespace {

const char USAGE[] = "usage: desktop-console [--socket PATH] -- <host executable> [args...]\n";
constexpr double ACCEPT_SECONDS = 5;
constexpr double STOP_GRACE_SECONDS = 5;
// Commands wait for the host's connection, so a script's first lines reach a ready host; a
// host that never connects still leaves the person a way out.
constexpr int COMMANDS_WAIT_MILLISECONDS = 10000;

int signalPipe[2] = {-1, -1};

void noteSignal(int number) {
    int saved = errno;
    char byte = static_cast<char>(number);
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
    errno = saved;
}

bool catchSignals() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = noteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    return true;
}

// At a terminal, what the console says goes above the line being typed.
console::LineEditor* editor = nullptr;

void say(const std::string& text) {
    if (editor) return editor->print(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

struct Options {
    std::string socketPath;
    std::vector<std::string> command;
};

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        std::string option = argv[index];
        if (option == "--") {
            ++index;
            break;
        }
        if (option != "--socket" || index + 1 >= argc) return std::nullopt;
        options.socketPath = argv[++index];
    }
    options.command.assign(argv + index, argv + argc);
    if (options.command.empty()) return std::nullopt;
    return options;
}

// A directory of its own under $TMPDIR (or /tmp), so no one else's socket is in the way.
std::string freshDirectory() {
    const char* base = getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/desktop-console.XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : "";
}

class Session {
public:
    Session(desktop::Peer& peer, pid_t host, int hostOutput)
        : peer_(peer), host_(host), hostOutput_(hostOutput), console_(peer, say) {}

    // Line editing for a person at a terminal; scripts keep reading plain lines.
    void editLines() {
        editor_.emplace(
            "desktop> ", [this](std::optional<std::string> line) { takeTypedLine(line); },
            [this](const std::string& typed) { return console_.completions(typed); });
        editor = &*editor_;
    }

    ~Session() { releaseTheTerminal(); }

    // Runs until the host ends or the person leaves; the console's exit status.
    int run() {
        auto started = std::chrono::steady_clock::now();
        while (!finished_) {
            bool readCommands = everConnected_ || waitedFor(started);
            pollfd fds[5] = {{signalPipe[0], POLLIN, 0},
                             {everConnected_ ? -1 : peer_.listenerFd(), POLLIN, 0},
                             {peer_.fd(), POLLIN, 0},
                             {readCommands && inputOpen_ ? 0 : -1, POLLIN, 0},
                             {hostOutput_, POLLIN, 0}};
            if (poll(fds, 5, readCommands ? -1 : 250) < 0 && errno != EINTR) return stop("poll failed", 1);
            if (fds[0].revents) takeSignals();
            if (!finished_ && fds[4].revents) readHostOutput();
            if (!finished_ && fds[1].revents) acceptHost();
            if (!finished_ && fds[2].revents) readHost();
            if (!finished_ && fds[3].revents) (editor_ ? editor_->readCharacter() : readCommandLines());
        }
        return exitCode_;
    }

private:
    bool waitedFor(std::chrono::steady_clock::time_point started) {
        if (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(COMMANDS_WAIT_MILLISECONDS))
            return false;
        if (!warnedUnconnected_) say("the host has not connected; commands read anyway\n");
        warnedUnconnected_ = true;
        return true;
    }

    void takeSignals() {
        char numbers[64];
        ssize_t count = read(signalPipe[0], numbers, sizeof numbers);
        for (ssize_t k = 0; k < count && !finished_; ++k) {
            int number = numbers[k];
            if (number == SIGCHLD) {
                if (auto status = console::endedHost(host_)) hostEnded(*status);
            } else {
                stop(std::string("stopping on ") + strsignal(number), 128 + number);
            }
        }
    }

    void acceptHost() {
        std::string error = peer_.accept(ACCEPT_SECONDS);
        if (!error.empty()) return say("connection refused: " + error + "\n");
        everConnected_ = true;
        console_.takeNewState();
        console_.start();
        // The host's first state shows before any command, so a script's first pick finds its menu.
        if (!peer_.ping(ACCEPT_SECONDS)) say("no answer to the first ping: " + peer_.lastError() + "\n");
        console_.takeNewState();
    }

    void readHost() {
        peer_.readAvailable();
        console_.takeNewState();
        if (!peer_.connected()) say("connection closed: " + peer_.lastError() + "\n");
    }

    void readCommandLines() {
        char chunk[4096];
        ssize_t count = read(0, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) return;
        if (count <= 0) {
            inputOpen_ = false;
            if (!pending_.empty() && !console_.command(pending_)) return leave();
            return leave();
        }
        pending_.append(chunk, static_cast<std::size_t>(count));
        for (std::size_t end; !finished_ && (end = pending_.find('\n')) != std::string::npos;) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            if (!console_.command(line)) leave();
        }
    }

    void takeTypedLine(const std::optional<std::string>& line) {
        if (!line) {
            inputOpen_ = false;
            return leave();
        }
        if (!console_.command(*line)) leave();
    }

    // Whole lines of the host's output, shown above the prompt; the rest waits for its end.
    void readHostOutput() {
        char chunk[4096];
        ssize_t count = read(hostOutput_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) return;
        if (count <= 0) {
            if (!hostPending_.empty()) say(hostPending_ + "\n");
            hostPending_.clear();
            close(hostOutput_);
            hostOutput_ = -1;
            return;
        }
        hostPending_.append(chunk, static_cast<std::size_t>(count));
        auto end = hostPending_.rfind('\n');
        if (end == std::string::npos) return;
        say(hostPending_.substr(0, end + 1));
        hostPending_.erase(0, end + 1);
    }

    // The last lines are not followed by a prompt.
    void releaseTheTerminal() {
        editor = nullptr;
        editor_.reset();
    }

    void hostEnded(int status) {
        while (hostOutput_ >= 0) readHostOutput();
        releaseTheTerminal();
        peer_.readAvailable();
        console_.takeNewState();
        say("host " + console::statusText(status) + "\n");
        finished_ = true;
        exitCode_ = console::exitCodeOf(status);
    }

    // Lets the host finish what it was sent, so its answers show before it is stopped.
    void leave() {
        if (peer_.connected()) peer_.ping(2);
        console_.takeNewState();
        stop("stopping the host", 0);
    }

    int stop(const std::string& why, int exitCode) {
        releaseTheTerminal();
        say(why + "\n");
        int status = console::stopHost(host_, STOP_GRACE_SECONDS);
        say("host " + console::statusText(status) + "\n");
        finished_ = true;
        exitCode_ = exitCode;
        return exitCode;
    }

    desktop::Peer& peer_;
    pid_t host_;
    int hostOutput_;
    std::string hostPending_;
    console::Console console_;
    std::optional<console::LineEditor> editor_;
    bool everConnected_ = false;
    bool warnedUnconnected_ = false;
    bool inputOpen_ = true;
    bool finished_ = false;
    int exitCode_ = 0;
    std::string pending_;
};

int runWith(const Options& options, const std::string& socketPath) {
    desktop::Peer peer;
    if (std::string error = peer.listen(socketPath); !error.empty()) {
        say("cannot listen: " + error + "\n");
        return 1;
    }
    const bool atATerminal = isatty(0) && isatty(1);
    console::Started host = console::startHost(options.command, socketPath, atATerminal);
    if (host.pid < 0) {
        say(host.error + "\n");
        return 1;
    }
    say("desktop on " + socketPath + "; host pid " + std::to_string(host.pid) + " started\n");
    Session session(peer, host.pid, host.output);
    if (atATerminal) session.editLines();
    return session.run();
}

}  // namespace

int main(int argc, char** argv) {
    auto options = parseOptions(argc, argv);
    if (!options) {
        std::fputs(USAGE, stderr);
        return 2;
    }
    if (!catchSignals()) {
        std::perror("desktop-console: pipe");
        return 1;
    }
    std::string directory;
    std::string socketPath = options->socketPath;
    if (socketPath.empty()) {
        directory = freshDirectory();
        if (directory.empty()) {
            std::perror("desktop-console: a directory for the socket");
            return 1;
        }
        socketPath = directory + "/desktop.sock";
    }
    int status = runWith(*options, socketPath);
    if (!directory.empty()) rmdir(directory.c_str());
    return status;
}
