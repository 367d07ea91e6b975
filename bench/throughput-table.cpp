// The throughput table: each measurement of the host through its real binary beside a raw
// baseline measured in the same run on the same data, every run interleaving the hosts named,
// and the medians printed with the machine's load. Figures only: nothing here asserts a time.
//   build/host-bench --table [--runs N] [--host [LABEL=]PATH]...    (scripts/bench)
// Without --table the Google benchmarks run; --host also chooses the host they start.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "bench-host.h"
#include "running-host.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

extern char** environ;

namespace bench {
namespace {

fs::path chosenHost = HOST_BINARY;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// --- processes ---

struct Started {
    pid_t pid = -1;
    int out = -1;  // its standard output, when asked for
};

// Starts a program in a process group of its own, standard input and error on /dev/null.
Started start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
              bool readOutput, const fs::path& directory = {}) {
    int out[2] = {-1, -1};
    if (readOutput && pipe2(out, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (readOutput) posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    std::vector<std::string> strings = argv;
    std::vector<std::string> entries;
    for (const auto& [name, value] : environment) entries.push_back(name + "=" + value);
    std::vector<char*> args, envp;
    for (auto& text : strings) args.push_back(text.data());
    for (auto& text : entries) envp.push_back(text.data());
    args.push_back(nullptr);
    envp.push_back(nullptr);
    Started started;
    if (posix_spawn(&started.pid, args[0], &actions, &attributes, args.data(), envp.data()) != 0) started.pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (readOutput) {
        close(out[1]);
        started.out = out[0];
    }
    return started;
}

// Reads the output to its end, discarding it; its size.
std::size_t drainToTheEnd(int fd) {
    std::size_t bytes = 0;
    char buffer[1 << 16];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
        if (n > 0) bytes += static_cast<std::size_t>(n);
        else if (errno != EINTR) break;
    }
    close(fd);
    return bytes;
}

int waitFor(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
    kill(-pid, SIGKILL);  // whatever it left in its group
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

long long monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000000LL + now.tv_nsec;
}

long statusKiB(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    }
    return 0;
}

std::string firstLineOf(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// --- bundles ---

const Json piped = {{"CFBundleIdentifier", "app.example.demo"}, {"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"demo"}}}}}};

// A bundle whose shell is `program` with `script` as its first argument.
std::unique_ptr<BundleFixture> bundleRunning(const std::string& program, const std::string& script, Json extra = Json::object()) {
    auto fixture = std::make_unique<BundleFixture>();
    fixture->writeInfo(piped);
    if (fs::path(script).is_relative()) writeText(fixture->root() / script, "");  // the host checks it is there
    Json runtime = {{"bun", program}, {"shell", script}};
    runtime.update(extra);
    fixture->writeRuntime("demo-runtime.json", runtime);
    placeTheHost(*fixture);
    return fixture;
}

std::vector<std::string> hostCommand(const BundleFixture& fixture, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), fixture.executable().string());
    return arguments;
}

// --- shell output ---

// Lines per second, the processes' start and end included.
double linesPerSecond(const std::vector<std::string>& argv, const std::map<std::string, std::string>& environment,
                      long lines, const fs::path& directory = {}) {
    const auto begin = Clock::now();
    Started started = start(argv, environment, true, directory);
    if (started.pid < 0) return 0;
    drainToTheEnd(started.out);
    if (waitFor(started.pid) != 0) return 0;
    return static_cast<double>(lines) / secondsSince(begin);
}

double throughCat(const std::string& kind, long lines) {
    const std::string pipeline = std::string(LINE_SOURCE) + " " + kind + " " + std::to_string(lines) + " | cat";
    return linesPerSecond({"/bin/sh", "-c", pipeline}, {{"PATH", "/usr/bin:/bin"}}, lines);
}

double throughTheHost(const std::string& kind, long lines, Json extra = Json::object(),
                      std::map<std::string, std::string> variables = {}) {
    auto fixture = bundleRunning(LINE_SOURCE, kind, std::move(extra));
    auto environment = fixture->environment();
    environment.insert(variables.begin(), variables.end());
    return linesPerSecond(hostCommand(*fixture, {std::to_string(lines)}), environment, lines, fixture->root());
}

// --- the control socket ---

std::string urlRequest(long n, std::size_t length = 0) {
    std::string url = "demo://bench/" + std::to_string(n);
    if (url.size() < length) url += "?" + std::string(length - url.size() - 1, 'x');
    return "{\"url\":\"" + url + "\"}\n";
}

// Counts lines arriving on a descriptor without keeping them.
struct LineCounter {
    int fd = -1;
    long lines = 0;
    std::string tail;  // the last bytes, for a round trip that waits for one line
    bool readSome() {
        char buffer[1 << 16];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return n < 0 && errno == EAGAIN;
        lines += std::count(buffer, buffer + n, '\n');
        tail.append(buffer, static_cast<std::size_t>(n));
        if (tail.size() > 8192) tail.erase(0, tail.size() - 4096);
        return true;
    }
};

// One end of the benchmark's socket measurements: a listening socket whose server hands every
// request line to a line-shell writing what it reads into `fifo`.
struct SocketServer {
    TemporaryFolder folder;
    fs::path fifo = folder.path() / "shell-read";
    fs::path socket;
    int shellRead = -1;
    fs::path linkLog;  // the host's; none for the relay
    virtual ~SocketServer() {
        if (shellRead >= 0) close(shellRead);
    }
    bool openTheFifo() {
        if (mkfifo(fifo.c_str(), 0600) != 0) return false;
        shellRead = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        return shellRead >= 0;
    }
    bool listening() const {
        return RunningHost::eventually([&] {
            int fd = connectTo(socket);
            if (fd >= 0) close(fd);
            return fd >= 0;
        }, std::chrono::seconds(10));
    }
};

// The raw relay: echoes every byte back to the client at once, then writes it to the shell.
struct Relay : SocketServer {
    pid_t pid = -1;
    Relay() {
        if (!openTheFifo()) return;
        socket = folder.path() / "relay.sock";
        int listener = listenOn(socket, 8);
        if (listener < 0) return;
        pid = fork();
        if (pid == 0) serve(listener);
        close(listener);
    }
    ~Relay() override {
        if (pid > 0) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    [[noreturn]] void serve(int listener) {
        setpgid(0, 0);
        signal(SIGPIPE, SIG_IGN);
        int in[2];
        if (pipe2(in, O_CLOEXEC) != 0) _exit(1);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::string shell = LINE_SHELL, file = fifo.string();
        char* argv[] = {shell.data(), file.data(), nullptr};
        pid_t reader;
        if (posix_spawn(&reader, argv[0], &actions, nullptr, argv, environ) != 0) _exit(1);
        close(in[0]);
        char buffer[1 << 16];
        for (int client; (client = accept(listener, nullptr, nullptr)) >= 0; close(client)) {
            for (ssize_t n; (n = read(client, buffer, sizeof buffer)) > 0;) {
                const auto size = static_cast<std::size_t>(n);
                if (!writeAll(client, buffer, size) || !writeAll(in[1], buffer, size)) break;
            }
        }
        _exit(0);
    }
    static bool writeAll(int fd, const char* bytes, std::size_t size) {
        for (std::size_t sent = 0; sent < size;) {
            ssize_t n = write(fd, bytes + sent, size - sent);
            if (n <= 0 && errno != EINTR) return false;
            if (n > 0) sent += static_cast<std::size_t>(n);
        }
        return true;
    }
};

// A hosted host whose shell publishes a one-row menu (so the socket listens), then runs `shell`.
struct SocketHost : SocketServer {
    BundleFixture fixture;
    std::unique_ptr<RunningHost> host;
    explicit SocketHost(const std::string& shellMode = "", Json extra = Json::object()) {
        if (!openTheFifo()) return;
        const Json rows = Json::array({{{"id", "hello"}, {"title", "Say hello"}, {"enabled", true}}});
        extra["menu"] = "child";
        writeShellScript(fixture, "printf '%s\\n' '" + Json({{"menu", rows}}).dump() + "'\n"
                                  "exec " LINE_SHELL " " + fifo.string() + " " + shellMode + "\n", extra);
        placeTheHost(fixture);
        host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{},
                                             std::map<std::string, std::string>{{"MENU_BAR_HOSTED", "1"}});
        socket = supportFolder(fixture) / "menu.sock";
        linkLog = supportFolder(fixture) / "links.jsonl";
    }
};

// Sends `count` URL requests pipelined on one connection, reading the replies as they come,
// until every reply has come, `shell` (when given) has read every URL and `linkLog` (when
// given) holds a record for each. Seconds, or 0 when something failed.
double pipelineURLs(int fd, long count, std::size_t length, LineCounter* shell, const fs::path& linkLog) {
    std::string batch;
    LineCounter replies{fd};
    LineCounter records;
    if (!linkLog.empty()) records.fd = open(linkLog.c_str(), O_RDONLY | O_CLOEXEC);
    long sent = 0;
    std::size_t offset = 0;
    const auto begin = Clock::now();
    auto done = [&] {
        return replies.lines >= count && (!shell || shell->lines >= count) && (records.fd < 0 || records.lines >= count);
    };
    while (!done()) {
        if (offset == batch.size() && sent < count) {
            batch.clear();
            offset = 0;
            for (int i = 0; i < 256 && sent < count; ++i) batch += urlRequest(sent++, length);
        }
        pollfd watched[2] = {{fd, static_cast<short>(POLLIN | (offset < batch.size() ? POLLOUT : 0)), 0},
                             {shell ? shell->fd : -1, POLLIN, 0}};
        if (poll(watched, 2, records.fd >= 0 ? 1 : 10000) < 0 && errno != EINTR) return 0;
        if (watched[0].revents & POLLOUT) {
            ssize_t n = send(fd, batch.data() + offset, batch.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && errno != EAGAIN) return 0;
            if (n > 0) offset += static_cast<std::size_t>(n);
        }
        if ((watched[0].revents & (POLLIN | POLLHUP)) && !replies.readSome()) return 0;
        if (watched[1].revents & POLLIN) shell->readSome();
        if (records.fd >= 0) records.readSome();
        if (secondsSince(begin) > 300) return 0;
    }
    if (records.fd >= 0) close(records.fd);
    return secondsSince(begin);
}

double urlsPerSecond(SocketServer& server, long count) {
    if (!server.listening()) return 0;
    int fd = connectTo(server.socket);
    LineCounter shell{server.shellRead};
    const double seconds = pipelineURLs(fd, count, 0, &shell, server.linkLog);
    close(fd);
    return seconds > 0 ? static_cast<double>(count) / seconds : 0;
}

// Median microseconds from sending one request to its reply, and to the shell's read of it.
std::pair<double, double> roundTrips(SocketServer& server, int count) {
    if (!server.listening()) return {0, 0};
    int fd = connectTo(server.socket);
    LineCounter replies{fd}, shell{server.shellRead};
    std::vector<double> toTheReply, toTheShell;
    for (int n = 0; n < count; ++n) {
        const std::string request = urlRequest(n);
        const std::string url = request.substr(8, request.size() - 11) + "\"";
        const auto begin = Clock::now();
        if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) break;
        for (long had = replies.lines; replies.lines == had;) {
            pollfd watched{fd, POLLIN, 0};
            if (poll(&watched, 1, 10000) <= 0 || !replies.readSome()) return {0, 0};
        }
        toTheReply.push_back(secondsSince(begin) * 1e6);
        while (shell.tail.find(url) == std::string::npos) {
            pollfd watched{shell.fd, POLLIN, 0};
            if (poll(&watched, 1, 10000) <= 0) return {0, 0};
            shell.readSome();
        }
        shell.tail.clear();
        toTheShell.push_back(secondsSince(begin) * 1e6);
    }
    close(fd);
    return {median(toTheReply), median(toTheShell)};
}

// --- start-up ---

// Median milliseconds from the spawn to the shell's first instruction.
double startUpMilliseconds(bool throughTheHost, int count) {
    auto fixture = bundleRunning(LINE_SHELL, "");
    const fs::path started = fixture->root() / "started";
    fixture->writeRuntime("demo-runtime.json", Json{{"bun", LINE_SHELL}, {"shell", started.string()}});
    std::vector<double> samples;
    for (int n = 0; n < count; ++n) {
        writeText(started, "");  // the host refuses a shell script that is not there
        const std::vector<std::string> argv = throughTheHost ? hostCommand(*fixture, {"started"})
                                                             : std::vector<std::string>{LINE_SHELL, started.string(), "started"};
        const long long begin = monotonicNanoseconds();
        Started process = start(argv, fixture->environment(), false, fixture->root());
        if (process.pid < 0 || waitFor(process.pid) != 0) return 0;
        const std::string line = firstLineOf(started);
        if (line.empty()) return 0;
        samples.push_back(static_cast<double>(std::stoll(line) - begin) / 1e6);
    }
    return median(samples);
}

// --- memory ---

struct Memory {
    double before = 0, growth = 0;  // MB
};

// A shell that never reads while URLs of each length keep coming through the socket: the
// host's resident memory before, and its peak after, less that.
Memory memoryWhileTheShellStopsReading(long perLength) {
    SocketHost server("never-read", {{"links", "/dev/null"}});
    if (!server.listening()) return {};
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long before = statusKiB(server.host->pid(), "VmRSS:");
    int fd = connectTo(server.socket);
    for (std::size_t length : {10, 100, 1000, 4096}) {
        if (pipelineURLs(fd, perLength, length, nullptr, {}) == 0) return {};
    }
    close(fd);
    const long peak = statusKiB(server.host->pid(), "VmHWM:");
    return {before / 1024.0, (peak - before) / 1024.0};
}

// --- the table ---

struct Host {
    std::string label;
    fs::path binary;
};

struct Settings {
    int runs = 5;
    std::vector<Host> hosts;
    std::string only;  // rows whose name holds this text
};

// A host's figure in one run, and a note printed beside its median (the memory before).
struct Sample {
    double figure = 0, note = 0;
};

// One row: its baseline and each host's figure per run, and how to print their medians.
struct Row {
    std::string name, goal;
    std::function<double()> baseline;
    std::function<Sample()> host;  // for the host in use
    std::function<std::string(double baseline)> baselineText;
    std::function<std::string(double host, double baseline, double note)> hostText;
    // A host's figure as kept: relative to the baseline of its run for some rows.
    std::function<double(double host, double baseline)> relative = [](double host, double) { return host; };
    std::vector<double> baselines;
    std::vector<std::vector<Sample>> hosts;
};

std::string formatted(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

template <typename Measure>
std::function<Sample()> figure(Measure measure) {
    return [measure] { return Sample{measure(), 0}; };
}

std::vector<Row> rowsOf(const Settings& settings) {
    constexpr long outputLines = 1000000;
    constexpr long urls = 100000;
    constexpr int trips = 2000;
    constexpr int starts = 100;
    constexpr long menus = 300;
    const auto lineRate = [](double cat) { return "cat " + formatted("%.2f M lines/s", cat / 1e6); };
    std::vector<Row> rows;
    rows.push_back({"recognised shell messages (URL replies)", ">= 1 M/s",
                    [] { return throughCat("recognised", outputLines); },
                    figure([] { return throughTheHost("recognised", outputLines); }), lineRate,
                    [](double host, double, double) { return formatted("%.2f M/s", host / 1e6); }});
    rows.push_back({"unmatched JSON lines", ">= 0.8 x cat",
                    [] { return throughCat("unmatched", outputLines); },
                    figure([] { return throughTheHost("unmatched", outputLines); }), lineRate,
                    [](double ratio, double, double) { return formatted("%.2f x cat", ratio); }});
    rows.back().relative = [](double host, double cat) { return cat > 0 ? host / cat : 0; };
    rows.push_back({"URL deliveries through the control socket until the shell has read them (the host: and each has "
                    "its link-log record)",
                    ">= 300 k/s", [] { Relay relay; return urlsPerSecond(relay, urls); },
                    figure([] { SocketHost host; return urlsPerSecond(host, urls); }),
                    [](double relay) { return "raw relay " + formatted("%.2f M/s", relay / 1e6); },
                    [](double host, double, double) { return formatted("%.0f k/s", host / 1e3); }});
    rows.push_back({"one `url` request's round trip on the socket, to its reply", "<= 2 x the echo",
                    [] { Relay relay; return roundTrips(relay, trips).first; },
                    figure([] { SocketHost host; return roundTrips(host, trips).first; }),
                    [](double echo) { return "raw Unix-socket echo " + formatted("%.1f µs", echo); },
                    [](double host, double echo, double) {
                        return formatted("%.1f µs", host) + formatted(" (%.1f x)", host / echo);
                    }});
    rows.push_back({"the same, until the shell has read the URL", "",
                    [] { Relay relay; return roundTrips(relay, trips).second; },
                    figure([] { SocketHost host; return roundTrips(host, trips).second; }),
                    [](double relay) { return "raw relay " + formatted("%.1f µs", relay); },
                    [](double host, double relay, double) {
                        return formatted("%.1f µs", host) + formatted(" (%.1f x)", host / relay);
                    }});
    rows.push_back({"host start until the shell runs", "<= +1 ms", [] { return startUpMilliseconds(false, starts); },
                    figure([] { return startUpMilliseconds(true, starts); }),
                    [](double bare) { return "bare spawn of the same shell " + formatted("%.2f ms", bare); },
                    [](double extra, double, double) { return formatted("%+.2f ms", extra); }});
    rows.back().relative = [](double host, double bare) { return host - bare; };
    // Measured on the host alone: what it held before the URLs came is its own baseline.
    rows.push_back({"memory while a shell stops reading and 100,000 URLs of each length (10 B, 100 B, 1 KB, 4 KiB) "
                    "come through the socket",
                    "<= +1.5 MB", [] { return 0.0; },
                    [] {
                        Memory memory = memoryWhileTheShellStopsReading(urls);
                        return Sample{memory.growth, memory.before};
                    },
                    [](double) { return std::string("the host's own, before"); },
                    [](double growth, double, double before) {
                        return formatted("%.1f MB before, ", before) + formatted("%+.1f MB", growth);
                    }});
    rows.push_back({"500-row menu publication, hosted (draw, record, menu.json)", ">= 1,000/s",
                    [] { return throughCat("menu", menus); },
                    figure([] { return throughTheHost("menu", menus, {{"menu", "child"}}, {{"MENU_BAR_HOSTED", "1"}}); }),
                    [](double cat) { return "the same lines through cat " + formatted("%.0f/s", cat); },
                    [](double host, double, double) { return formatted("%.0f/s", host); }});
    std::erase_if(rows, [&](const Row& row) { return row.name.find(settings.only) == std::string::npos; });
    for (Row& row : rows) row.hosts.resize(settings.hosts.size());
    return rows;
}

std::string loadAverage() {
    std::string text = firstLineOf("/proc/loadavg");
    std::istringstream fields(text);
    std::string one, five, fifteen;
    fields >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

std::string processorName() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    }
    return "unknown processor";
}

void printTheTable(const std::vector<Row>& rows, const Settings& settings, const std::string& loadBefore) {
    std::cout << "\nMedians of " << settings.runs << " runs on " << std::thread::hardware_concurrency() << " CPUs ("
              << processorName() << "); load average " << loadBefore << " at the start, " << loadAverage()
              << " at the end.\n\n| measurement | baseline |";
    for (const Host& host : settings.hosts) std::cout << ' ' << host.label << " |";
    std::cout << " goal |\n|---|---|";
    for (std::size_t i = 0; i < settings.hosts.size(); ++i) std::cout << "---|";
    std::cout << "---|\n";
    for (const Row& row : rows) {
        const double baseline = median(row.baselines);
        std::cout << "| " << row.name << " | " << row.baselineText(baseline) << " |";
        for (const auto& samples : row.hosts) {
            std::vector<double> figures, notes;
            for (const Sample& sample : samples) figures.push_back(sample.figure), notes.push_back(sample.note);
            std::cout << ' ' << row.hostText(median(figures), baseline, median(notes)) << " |";
        }
        std::cout << ' ' << row.goal << " |\n";
    }
}

int runTheTable(Settings settings) {
    signal(SIGPIPE, SIG_IGN);
    if (settings.hosts.empty()) settings.hosts.push_back({"host", HOST_BINARY});
    std::vector<Row> rows = rowsOf(settings);
    const std::string loadBefore = loadAverage();
    for (int run = 1; run <= settings.runs; ++run) {
        std::cerr << "run " << run << " of " << settings.runs << ", load " << loadAverage() << "\n";
        for (Row& row : rows) {
            const double baseline = row.baseline();
            row.baselines.push_back(baseline);
            std::cerr << "  " << row.name << ": baseline " << baseline;
            for (std::size_t h = 0; h < settings.hosts.size(); ++h) {
                useTheHost(settings.hosts[h].binary);
                Sample sample = row.host();
                std::cerr << ", " << settings.hosts[h].label << ' ' << sample.figure;
                sample.figure = row.relative(sample.figure, baseline);
                row.hosts[h].push_back(sample);
            }
            std::cerr << "\n";
        }
    }
    printTheTable(rows, settings, loadBefore);
    return 0;
}

Host hostOf(const std::string& text) {
    const auto equals = text.find('=');
    if (equals != std::string::npos) return {text.substr(0, equals), fs::absolute(text.substr(equals + 1))};
    return {fs::path(text).parent_path().parent_path().filename().string(), fs::absolute(text)};
}

}  // namespace

void useTheHost(const fs::path& binary) { chosenHost = binary; }

const fs::path& theHost() { return chosenHost; }

int connectTo(const fs::path& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int listenOn(const fs::path& path, int backlog) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, backlog) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

void placeTheHost(const BundleFixture& fixture) {
    if (chosenHost == HOST_BINARY) return;
    fs::remove(fixture.executable());
    std::error_code crossDevice;
    fs::create_hard_link(chosenHost, fixture.executable(), crossDevice);
    if (crossDevice) fs::copy_file(chosenHost, fixture.executable());
}

}  // namespace bench

int main(int argc, char** argv) {
    bench::Settings settings;
    bool table = false;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--table") table = true;
        else if (argument == "--runs" && i + 1 < argc) settings.runs = std::max(1, std::atoi(argv[++i]));
        else if (argument == "--host" && i + 1 < argc) settings.hosts.push_back(bench::hostOf(argv[++i]));
        else if (argument == "--rows" && i + 1 < argc) settings.only = argv[++i];
        else rest.push_back(argv[i]);
    }
    if (table) return bench::runTheTable(settings);
    if (!settings.hosts.empty()) bench::useTheHost(settings.hosts.front().binary);
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
