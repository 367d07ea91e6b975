// Menu publications: the whole work one {"menu": ...} message costs the main thread in a hosted
// host (draw, the "menu-drawn" record with its snapshot, and menu.json), for a 500-row menu.
//   build/host-bench --benchmark_filter=Menu
#include <benchmark/benchmark.h>

#include "bench-menus.h"
#include "bundle-fixture.h"
#include "child/death-log.h"
#include "menu-bar-app-menu/menu-lifecycle.h"

using namespace testing_support;

namespace {

void BM_MenuPublicationOf500Rows(benchmark::State& state) {
    TemporaryFolder folder;
    host::configureTheDeathLog(std::nullopt, folder.path());
    host::makeTheMenuOwner({true, true, false, "app.example.bench", folder.path() / "menu.json", nullptr, nullptr});
    const Json rows = fiveHundredRows();
    const std::optional<std::string> publication = host::sortedJson(rows);
    const host::FlatObjects flat = *host::flatObjectsOf(rows);
    for (auto _ : state) host::drawTheChildsMenu(flat, false, publication);
    state.counters["publications/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["menu.json bytes"] = static_cast<double>(fs::file_size(folder.path() / "menu.json"));
}
BENCHMARK(BM_MenuPublicationOf500Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
