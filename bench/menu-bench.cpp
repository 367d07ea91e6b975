// Menu publications: the whole work one {"menu": ...} message costs the main thread in a hosted
// host (draw, the "menu-drawn" record with its snapshot, and menu.json), for a 500-row menu.
//   build/host-bench --benchmark_filter=Menu
#include <benchmark/benchmark.h>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "menu-bar-app-menu/menu-lifecycle.h"

using namespace testing_support;

namespace {

// 500 rows: a header, 20 submenus of 20 rows, and 79 plain rows with keys and symbols.
Json fiveHundredRows() {
    Json rows = Json::array({{{"kind", "header"}, {"title", "Bench"}, {"symbol", "sparkles"}, {"pointSize", 16}}});
    for (int s = 0; s < 20; ++s) {
        const std::string parent = "s" + std::to_string(s);
        rows.push_back({{"id", parent}, {"title", "Submenu " + std::to_string(s)}, {"submenu", true}, {"enabled", true}});
        for (int r = 0; r < 20; ++r) {
            rows.push_back({{"id", parent + "-" + std::to_string(r)}, {"title", "Row " + std::to_string(r)},
                            {"parent", parent}, {"enabled", true}});
        }
    }
    for (int r = 0; rows.size() < 500; ++r) {
        rows.push_back({{"id", "p" + std::to_string(r)}, {"title", "Plain " + std::to_string(r)}, {"enabled", true},
                        {"key", "⌘" + std::string(1, static_cast<char>('A' + r % 26))}, {"symbol", "star"}});
    }
    return rows;
}

void BM_MenuPublicationOf500Rows(benchmark::State& state) {
    TemporaryFolder folder;
    host::configureTheDeathLog(std::nullopt, folder.path());
    host::makeTheMenuOwner({true, true, false, "app.example.bench", folder.path() / "menu.json", nullptr, nullptr});
    const Json rows = fiveHundredRows();
    for (auto _ : state) host::drawTheChildsMenu(rows, false, rows);
    state.counters["publications/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["menu.json bytes"] = static_cast<double>(fs::file_size(folder.path() / "menu.json"));
}
BENCHMARK(BM_MenuPublicationOf500Rows)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
