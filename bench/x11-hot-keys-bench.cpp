// What one activation re-arm with 20 chords costs on X11, against a private Xvfb: every chord
// released, then grabbed again with its lock variants; and a whole activation of the declared
// hot keys through the freedesktop desktop, half of them following the front application.
//   build/host-bench --benchmark_filter=X11
#include <benchmark/benchmark.h>

#include <vector>

#include "bundle-fixture.h"
#include "hot-keys/hot-key-owner.h"
#include "platform/freedesktop/freedesktop-desktop.h"
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

// Each activation alternates the front application: ten chords are released or grabbed, the
// other ten stay, and the activation file is rewritten with all twenty.
void BM_X11ActivationWithTwentyDeclaredHotKeys(benchmark::State& state) {
    testing_support::PrivateXServer server;
    testing_support::TemporaryFolder folder;
    std::string why;
    auto system = server.display().empty() ? nullptr : openTheX11WindowSystem(server.display().c_str(), 1, &why);
    if (!system) {
        state.SkipWithError(("no X server: " + why).c_str());
        return;
    }
    auto previous = useTheDesktop(std::make_unique<FreedesktopDesktop>(FreedesktopHost{1, "", "", ""}, "", std::move(system)));
    std::vector<host::HotKey> declared;
    for (std::size_t i = 0; i < std::size(LETTERS); ++i) {
        declared.push_back({std::string("⌘⇧") + static_cast<char>('A' + i), "demo://open/" + std::to_string(i),
                            i % 2 ? "always" : "front:com.example.editor", std::nullopt});
    }
    {
        host::HotKeyOwner owner({declared, folder.path() / "shortcut-activation.json"});
        const std::optional<std::string> fronts[] = {std::string("com.example.editor"), std::string("com.example.other")};
        int turn = 0;
        for (auto _ : state) owner.arm(fronts[turn++ % 2]);
        for (std::int32_t status : owner.statuses()) {
            if (status != 0 && status != -1) state.SkipWithError("a chord was refused");
        }
    }
    useTheDesktop(std::move(previous));
    state.counters["activations/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_X11ActivationWithTwentyDeclaredHotKeys)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
