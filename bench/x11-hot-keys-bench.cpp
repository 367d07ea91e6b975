// What one activation re-arm with 20 chords costs on X11: every chord released, then grabbed
// again with its lock variants, against a private Xvfb.
//   build/host-bench --benchmark_filter=X11
#include <benchmark/benchmark.h>

#include <vector>

#include "platform/x11/x11-window-system.h"
#include "private-x-server.h"

namespace {

using namespace host::platform;

constexpr std::uint32_t COMMAND_SHIFT = 256 | 512;
// The ANSI key codes of A to T.
constexpr std::uint32_t LETTERS[] = {0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12, 15, 1, 17};

void BM_X11RearmOfTwentyChords(benchmark::State& state) {
    testing_support::PrivateXServer server;
    std::string why;
    auto system = server.display().empty() ? nullptr : openTheX11WindowSystem(server.display().c_str(), 1, &why);
    if (!system) {
        state.SkipWithError(("no X server: " + why).c_str());
        return;
    }
    std::vector<std::uint64_t> references;
    for (std::uint32_t i = 0; i < std::size(LETTERS); ++i) {
        references.push_back(system->registerHotKey(LETTERS[i], COMMAND_SHIFT, {0x576b484b, i}, 0).reference);
    }
    bool refused = false;
    for (auto _ : state) {
        for (std::uint64_t reference : references) system->unregisterHotKey(reference);
        for (std::uint32_t i = 0; i < std::size(LETTERS); ++i) {
            const HotKeyRegistration registration = system->registerHotKey(LETTERS[i], COMMAND_SHIFT, {0x576b484b, i}, 0);
            references[i] = registration.reference;
            refused = refused || registration.status != 0;
        }
    }
    if (refused) state.SkipWithError("a chord was refused");
    state.counters["re-arms/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_X11RearmOfTwentyChords)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
