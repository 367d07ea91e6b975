// Throughput and memory of the host, each measured beside a raw pipe relay (cat) in the same
// run. Figures only: nothing here asserts a time.
//   build/host-bench --benchmark_counters_tabular=true
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>

#include "bench-host.h"
#include "bundle-fixture.h"
#include "child/death-log.h"
#include "child/shell.h"
#include "links/delivery-queue.h"
#include "running-host.h"
#include "support/event-loop.h"

using namespace testing_support;

namespace {

constexpr long outputLines = 200000;
const char* kinds[] = {"plain", "unmatched", "recognised"};

// One bundle whose "bun" is line-source; the shell path names the kind of line it writes.
struct SourceBundle {
    SourceBundle() {
        Json info = {{"CFBundleIdentifier", "app.example.demo"}, {"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"demo"}}}}}};
        fixture.writeInfo(info);
        for (const char* kind : kinds) writeText(fixture.root() / kind, "");
        fixture.writeRuntime("demo-runtime.json", Json{{"bun", LINE_SOURCE}, {"shell", "plain"}});
        bench::placeTheHost(fixture);
    }
    void use(const std::string& kind) const {
        fixture.writeRuntime("demo-runtime.json", Json{{"bun", LINE_SOURCE}, {"shell", kind}});
    }
    BundleFixture fixture;
};

SourceBundle& sourceBundle() {
    static SourceBundle bundle;
    return bundle;
}

void reportThroughput(benchmark::State& state, std::size_t bytes) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * outputLines);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_ShellOutputThroughCat(benchmark::State& state) {
    std::string kind = kinds[state.range(0)];
    std::size_t bytes = 0;
    for (auto _ : state) {
        RunRequest request{"/bin/sh", {"-c", std::string(LINE_SOURCE) + " " + kind + " " + std::to_string(outputLines) + " | cat"}};
        request.environment = {{"PATH", "/usr/bin:/bin"}};
        auto result = runToTheEnd(request);
        bytes = result.out.size();
    }
    state.SetLabel(kind);
    reportThroughput(state, bytes);
}

void BM_ShellOutputThroughTheHost(benchmark::State& state) {
    std::string kind = kinds[state.range(0)];
    sourceBundle().use(kind);
    std::size_t bytes = 0;
    std::size_t generated = 0;
    for (auto _ : state) {
        auto result = sourceBundle().fixture.run({std::to_string(outputLines)});
        bytes = result.out.size();
        if (result.status != 0) state.SkipWithError(("host ended with " + std::to_string(result.status)).c_str());
    }
    // Recognised lines never reach the output: count what the shell wrote instead.
    RunRequest request{LINE_SOURCE, {kind, std::to_string(outputLines)}};
    generated = runToTheEnd(request).out.size();
    state.SetLabel(kind + (bytes == generated ? "" : " (consumed by the host)"));
    reportThroughput(state, generated);
}

BENCHMARK(BM_ShellOutputThroughCat)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ShellOutputThroughTheHost)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// URL deliveries into a shell that reads them, written through the host's own delivery path
// (inbox, the shell's read, completion, link log record) against the same lines written into
// `cat`.
constexpr int deliveries = 20000;

std::string urlLine(int n) { return "{\"url\":\"demo://open/" + std::to_string(n) + "\"}\n"; }

void BM_DeliveriesIntoCat(benchmark::State& state) {
    for (auto _ : state) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) return state.SkipWithError("no pipe");
        pid_t cat = fork();
        if (cat == 0) {
            dup2(pipeFds[0], 0);
            close(pipeFds[1]);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            execl("/bin/cat", "cat", nullptr);
            _exit(127);
        }
        close(pipeFds[0]);
        for (int n = 0; n < deliveries; ++n) {
            std::string line = urlLine(n);
            if (write(pipeFds[1], line.data(), line.size()) < 0) break;
        }
        close(pipeFds[1]);
        waitpid(cat, nullptr, 0);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * deliveries);
}

struct DeliveryHost {
    DeliveryHost() {
        std::signal(SIGPIPE, SIG_IGN);
        host::configureTheDeathLog(std::nullopt, folder.path());
        host::configureTheLinkLog(folder.path() / "links.jsonl");
        host::ShellSettings settings;
        settings.executable = LINE_SHELL;
        settings.arguments = {"/dev/null"};
        settings.piped = true;
        settings.handlers = std::make_shared<host::MessageHandlers>();
        host::configureTheShell(settings);
        host::makeChild();
        host::listen();
        host::watch();
        std::string error;
        started = host::run(&error);
    }
    TemporaryFolder folder;
    bool started = false;
};

void BM_DeliveriesThroughTheHost(benchmark::State& state) {
    static DeliveryHost deliveryHost;
    if (!deliveryHost.started) return state.SkipWithError("the shell did not start");
    for (auto _ : state) {
        for (int n = 0; n < deliveries; ++n) host::deliver("demo://open/" + std::to_string(n));
        host::loop::Timer check;
        check.startRepeating(0.0005, [] {
            const host::ChildInbox& inbox = *host::shellInbox();
            if (inbox.held() == 0 && inbox.waitingToBeRead() == 0) host::loop::quitTheMainLoop();
        });
        host::loop::runTheMainLoop();
        std::filesystem::remove(deliveryHost.folder.path() / "links.jsonl");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * deliveries);
}

BENCHMARK(BM_DeliveriesIntoCat)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeliveriesThroughTheHost)->Unit(benchmark::kMillisecond)->UseRealTime();

long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

// Resident memory of the host: idle with a quiet shell, and at its peak while a shell floods
// its output with each kind of line.
void BM_HostResidentMemory(benchmark::State& state) {
    long idle = 0, loaded = 0;
    for (auto _ : state) {
        BundleFixture quiet;
        writeShellScript(quiet, "exec sleep 30\n");
        bench::placeTheHost(quiet);
        RunningHost idleHost(quiet);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        idle = residentKiB(idleHost.pid());
        for (const char* kind : kinds) {
            sourceBundle().use(kind);
            RunningHost busy(sourceBundle().fixture, {std::to_string(outputLines * 5)});
            while (!busy.waitForTheEnd(std::chrono::milliseconds(10))) {
                loaded = std::max(loaded, residentKiB(busy.pid()));
                busy.out();
            }
        }
    }
    state.counters["idle_KiB"] = static_cast<double>(idle);
    state.counters["peak_KiB"] = static_cast<double>(loaded);
}

BENCHMARK(BM_HostResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
