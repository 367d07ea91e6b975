// The control socket of a running hosted host: requests per second pipelined on one connection
// and spread over 50 connections, and the round trip of a "url" request until the shell has read
// the URL; each beside a raw Unix-socket echo measured in the same run. Figures only.
//   build/host-bench --benchmark_filter=Socket
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <atomic>
#include <cstring>
#include <thread>

#include "bench-host.h"
#include "running-host.h"

using namespace testing_support;

namespace {

constexpr std::size_t pipelined = 20000;
constexpr int connectionsAtOnce = 50;
const std::string invoke = R"({"invoke":"hello","title":"Say hello"})" "\n";

// Each connection sends `perConnection` copies of `request` while reading its replies, until every
// reply line has come back; false when a connection failed. `tail` keeps the last bytes received.
bool pipelineOver(const std::vector<int>& fds, const std::string& request, std::size_t perConnection,
                  std::string& tail) {
    struct Progress { std::size_t sentBytes = 0, replies = 0; };
    std::vector<Progress> progress(fds.size());
    std::string batch;
    for (int i = 0; i < 256; ++i) batch += request;
    const std::size_t total = request.size() * perConnection;
    std::size_t done = 0;
    std::vector<pollfd> watched(fds.size());
    char buffer[65536];
    while (done < fds.size()) {
        for (std::size_t i = 0; i < fds.size(); ++i) {
            const bool finished = progress[i].replies >= perConnection;
            const bool sending = progress[i].sentBytes < total;
            watched[i] = {finished ? -1 : fds[i], static_cast<short>(POLLIN | (sending ? POLLOUT : 0)), 0};
        }
        if (poll(watched.data(), watched.size(), 10000) <= 0) return false;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            Progress& p = progress[i];
            if (watched[i].revents & POLLOUT) {
                const std::size_t offset = p.sentBytes % batch.size();
                const std::size_t size = std::min(batch.size() - offset, total - p.sentBytes);
                ssize_t n = send(fds[i], batch.data() + offset, size, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN) return false;
                if (n > 0) p.sentBytes += static_cast<std::size_t>(n);
            }
            if (watched[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t n = recv(fds[i], buffer, sizeof buffer, MSG_DONTWAIT);
                if (n <= 0 && !(n < 0 && errno == EAGAIN)) return false;
                for (ssize_t k = 0; k < n; ++k) p.replies += buffer[k] == '\n';
                if (n > 0) tail.append(buffer, static_cast<std::size_t>(n));
                if (tail.size() > 256) tail.erase(0, tail.size() - 128);
                if (n > 0 && p.replies >= perConnection) ++done;
            }
        }
    }
    return true;
}

std::vector<int> connections(const fs::path& socket, int count) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        int fd = bench::connectTo(socket);
        if (fd < 0) break;
        fds.push_back(fd);
    }
    return fds;
}

void closeAll(const std::vector<int>& fds) {
    for (int fd : fds) close(fd);
}

// A raw echo server in its own process: every byte read goes straight back.
struct EchoServer {
    EchoServer() {
        socket = folder.path() / "echo.sock";
        int listener = bench::listenOn(socket, 64);
        if (listener < 0) return;
        pid = fork();
        if (pid == 0) serve(listener);
        close(listener);
    }
    ~EchoServer() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    [[noreturn]] static void serve(int listener) {
        std::vector<pollfd> watched{{listener, POLLIN, 0}};
        char buffer[65536];
        for (;;) {
            if (poll(watched.data(), watched.size(), -1) < 0) continue;
            for (std::size_t i = watched.size(); i-- > 1;) {
                if (!watched[i].revents) continue;
                ssize_t n = read(watched[i].fd, buffer, sizeof buffer);
                bool open = n > 0;
                for (ssize_t sent = 0; open && sent < n;) {
                    ssize_t w = send(watched[i].fd, buffer + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
                    open = w > 0;
                    sent += w;
                }
                if (!open) {
                    close(watched[i].fd);
                    watched.erase(watched.begin() + static_cast<long>(i));
                }
            }
            if (watched[0].revents & POLLIN) {
                int fd = accept(listener, nullptr, nullptr);
                if (fd >= 0) watched.push_back({fd, POLLIN, 0});
            }
        }
    }
    TemporaryFolder folder;
    fs::path socket;
    pid_t pid = -1;
};

EchoServer& echoServer() {
    static EchoServer server;
    return server;
}

// A hosted host whose shell publishes a menu and then hands every line it reads to a FIFO.
struct SocketHost {
    SocketHost() {
        std::signal(SIGPIPE, SIG_IGN);
        fifo = fixture.root() / "shell-read";
        if (mkfifo(fifo.c_str(), 0600) != 0) return;
        shellRead = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const Json rows = Json::array({{{"id", "hello"}, {"title", "Say hello"}, {"enabled", true}}});
        writeShellScript(fixture, "printf '%s\\n' '" + Json({{"menu", rows}}).dump() + "'\n"
                                  "exec " LINE_SHELL " " + fifo.string() + "\n",
                         {{"menu", "child"}});
        bench::placeTheHost(fixture);
        host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{}, std::map<std::string, std::string>{{"MENU_BAR_HOSTED", "1"}});
        socket = supportFolder(fixture) / "menu.sock";
        listening = RunningHost::eventually([&] {
            int fd = bench::connectTo(socket);
            if (fd >= 0) close(fd);
            return fd >= 0;
        });
    }
    // Reads what the shell has read until a line holding `text` comes.
    bool shellReads(const std::string& text) {
        char buffer[65536];
        for (;;) {
            auto found = seen.find(text);
            if (found != std::string::npos) {
                seen.erase(0, found + text.size());
                return true;
            }
            pollfd watched{shellRead, POLLIN, 0};
            if (poll(&watched, 1, 10000) <= 0) return false;
            ssize_t n = read(shellRead, buffer, sizeof buffer);
            if (n > 0) seen.append(buffer, static_cast<std::size_t>(n));
            if (seen.size() > (1 << 20)) seen.erase(0, seen.size() - 4096);
        }
    }
    // Keeps the shell reading while a benchmark sends it picks, on a thread of its own.
    void startDraining() {
        draining = true;
        drainer = std::thread([this] {
            char buffer[65536];
            while (draining) {
                pollfd watched{shellRead, POLLIN, 0};
                if (poll(&watched, 1, 20) > 0 && read(shellRead, buffer, sizeof buffer) <= 0) break;
            }
        });
    }
    void stopDraining() {
        draining = false;
        if (drainer.joinable()) drainer.join();
        seen.clear();
    }
    ~SocketHost() { stopDraining(); }

    BundleFixture fixture;
    fs::path fifo, socket;
    int shellRead = -1;
    std::string seen;
    std::unique_ptr<RunningHost> host;
    bool listening = false;
    std::atomic<bool> draining{false};
    std::thread drainer;
};

SocketHost& socketHost() {
    static SocketHost host;
    return host;
}

// `expected` is the last reply line every connection should end with.
void pipelinedRequests(benchmark::State& state, const fs::path& socket, const std::string& expected) {
    const int count = static_cast<int>(state.range(0));
    const std::size_t perConnection = pipelined / static_cast<std::size_t>(count);
    auto fds = connections(socket, count);
    if (fds.size() != static_cast<std::size_t>(count)) return state.SkipWithError("could not connect");
    std::string tail;
    for (auto _ : state) {
        if (!pipelineOver(fds, invoke, perConnection, tail)) {
            state.SkipWithError("a connection failed");
            break;
        }
    }
    closeAll(fds);
    if (!tail.ends_with(expected + "\n")) state.SetLabel("unexpected replies: " + tail);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * perConnection * fds.size()));
    state.counters["requests/s"] = benchmark::Counter(static_cast<double>(state.iterations() * perConnection * fds.size()),
                                                      benchmark::Counter::kIsRate);
}

void BM_SocketEchoPipelined(benchmark::State& state) { pipelinedRequests(state, echoServer().socket, invoke.substr(0, invoke.size() - 1)); }

void BM_SocketHostPipelined(benchmark::State& state) {
    if (!socketHost().listening) return state.SkipWithError("the host is not listening");
    socketHost().startDraining();
    pipelinedRequests(state, socketHost().socket, R"({"invoked":"hello","title":"Say hello"})");
    socketHost().stopDraining();
}

// One request line and its reply, as small as a "url" request.
void BM_SocketEchoRoundTrip(benchmark::State& state) {
    int fd = bench::connectTo(echoServer().socket);
    if (fd < 0) return state.SkipWithError("could not connect");
    const std::string line = R"({"url":"demo://bench/1"})" "\n";
    char buffer[4096];
    for (auto _ : state) {
        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) break;
        for (std::size_t got = 0; got < line.size();) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) return state.SkipWithError("the echo ended");
            got += static_cast<std::size_t>(n);
        }
    }
    close(fd);
}

// A "url" request until both its reply has come and the shell has read the URL.
void BM_SocketHostURLUntilTheShellReadsIt(benchmark::State& state) {
    SocketHost& host = socketHost();
    if (!host.listening) return state.SkipWithError("the host is not listening");
    int fd = bench::connectTo(host.socket);
    if (fd < 0) return state.SkipWithError("could not connect");
    char buffer[4096];
    long n = 0;
    for (auto _ : state) {
        const std::string url = "demo://bench/" + std::to_string(++n);
        const std::string line = Json({{"url", url}}).dump() + "\n";
        if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) break;
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0 || buffer[got - 1] != '\n') return state.SkipWithError("no reply");
        if (!host.shellReads(url + "\"")) return state.SkipWithError("the shell did not read the URL");
    }
    close(fd);
}

BENCHMARK(BM_SocketEchoPipelined)->Arg(1)->Arg(connectionsAtOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketHostPipelined)->Arg(1)->Arg(connectionsAtOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SocketEchoRoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_SocketHostURLUntilTheShellReadsIt)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
