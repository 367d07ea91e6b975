// The panel's view of a 500-row menu: GetLayout of the whole tree from the real host on a
// private bus, beside GetLayout of the root alone (the bus's own round trip) in the same run.
//   build/host-bench --benchmark_filter=GetLayout
#include <benchmark/benchmark.h>

#include "bench-menus.h"
#include "bundle-fixture.h"
#include "private-bus.h"
#include "running-host.h"

using namespace testing_support;

namespace {

struct MenuOnTheBus {
    BundleFixture fixture;
    PrivateBus bus{fixture.root()};
    std::unique_ptr<BusConnection> panel;
    std::unique_ptr<RunningHost> host;
    std::string item;

    MenuOnTheBus() {
        writeRelayShell(fixture, {{"menu", "child"}});
        auto variables = bus.environment();
        variables["XDG_DATA_DIRS"] = (fixture.root() / "share").string();
        host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{}, variables);
        panel = std::make_unique<BusConnection>(bus.address());
        item = "org.kde.StatusNotifierItem-" + std::to_string(host->pid()) + "-1";
        tellTheHostAsTheShell(fixture, {{{"menu", fiveHundredRows()}}});
        RunningHost::eventually([&] { return items(-1) > 500; });
    }

    std::optional<Variant> layout(std::int32_t depth, const char* only = nullptr) {
        const char* names[] = {only, nullptr};
        return panel->call(item, "/MenuBar", "com.canonical.dbusmenu", "GetLayout",
                           g_variant_new("(ii@as)", 0, depth, g_variant_new_strv(names, only ? 1 : 0)));
    }

    // The items of the layout, the root included.
    std::size_t items(std::int32_t depth) {
        auto reply = layout(depth);
        if (!reply) return 0;
        std::size_t count = 0;
        std::function<void(GVariant*)> walk = [&](GVariant* node) {
            ++count;
            GVariant* children = g_variant_get_child_value(node, 2);
            for (std::size_t i = 0; i < g_variant_n_children(children); ++i) {
                GVariant* boxed = g_variant_get_child_value(children, i);
                GVariant* child = g_variant_get_variant(boxed);
                walk(child);
                g_variant_unref(child);
                g_variant_unref(boxed);
            }
            g_variant_unref(children);
        };
        GVariant* tree = g_variant_get_child_value(reply->get(), 1);
        walk(tree);
        g_variant_unref(tree);
        return count;
    }
};

void measure(benchmark::State& state, std::int32_t depth, const char* only = nullptr) {
    MenuOnTheBus menu;
    std::size_t bytes = 0;
    for (auto _ : state) {
        auto reply = menu.layout(depth, only);
        if (!reply) {
            state.SkipWithError("GetLayout failed");
            return;
        }
        bytes = g_variant_get_size(reply->get());
    }
    state.counters["items"] = static_cast<double>(menu.items(depth));
    state.counters["reply bytes"] = static_cast<double>(bytes);
    state.counters["calls/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_GetLayoutOf500Rows(benchmark::State& state) { measure(state, -1); }
void BM_GetLayoutOf500RowsLabelsOnly(benchmark::State& state) { measure(state, -1, "label"); }
BENCHMARK(BM_GetLayoutOf500RowsLabelsOnly)->Unit(benchmark::kMicrosecond)->UseRealTime();
void BM_GetLayoutOfTheRootAlone(benchmark::State& state) { measure(state, 0); }
BENCHMARK(BM_GetLayoutOf500Rows)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GetLayoutOfTheRootAlone)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
