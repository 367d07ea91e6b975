// What one activation costs the main thread with declared hot keys: every chord re-decided,
// the remote files read, and the activation file rewritten; and the session check's walk of a
// process's descriptors and the kernel's connection tables, once a second while a session
// client is in front.
//   build/host-bench --benchmark_filter='Arm|Session'
#include <benchmark/benchmark.h>

#include <unistd.h>

#include "bundle-fixture.h"
#include "hot-keys/hot-key-owner.h"
#include "platform/processes.h"
#include "remote-sessions/remote-machines.h"

using namespace testing_support;

namespace {

std::vector<host::HotKey> declaredHotKeys(int count) {
    std::vector<host::HotKey> hotKeys;
    for (int i = 0; i < count; ++i) {
        const std::string key = std::string("⌘⇧") + static_cast<char>('A' + i % 26);
        hotKeys.push_back({key, "demo://open/" + std::to_string(i), i % 2 ? "always" : "front:com.example.editor",
                           std::nullopt});
    }
    return hotKeys;
}

void BM_ArmTwentyDeclaredHotKeys(benchmark::State& state) {
    TemporaryFolder folder;
    const bool remote = state.range(0) != 0;
    if (remote) {
        writeText(folder.path() / "config.json", R"({"forward":"1"})");
        writeText(folder.path() / "remote-bridge.json", R"({"routes":{"⌘⇧A":"köprü"},"press":["/bin/true"]})");
        host::configureTheRemoteMachines({{"com.remote.client"}, {}, folder.path() / "config.json", "forward"});
    }
    host::HotKeyOwner owner({declaredHotKeys(20), folder.path() / "shortcut-activation.json"});
    const std::optional<std::string> fronts[] = {std::string("com.example.editor"), std::string("com.remote.client")};
    int turn = 0;
    for (auto _ : state) owner.arm(fronts[turn++ % 2]);
    state.counters["arms/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    host::configureTheRemoteMachines({});
}
BENCHMARK(BM_ArmTwentyDeclaredHotKeys)->ArgName("remote")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SessionCheckOfThisProcess(benchmark::State& state) {
    const std::int32_t self = static_cast<std::int32_t>(getpid());
    for (auto _ : state) benchmark::DoNotOptimize(host::platform::hasAnEstablishedTCPConnection(self));
}
BENCHMARK(BM_SessionCheckOfThisProcess)->Unit(benchmark::kMicrosecond);

}  // namespace
