// The link log's records and the logs' times, written by hand, read as the sorted serialisation
// of the same values would.
#include <gtest/gtest.h>

#include "links/delivery-queue.h"
#include "platform/process.h"
#include "support/clock.h"
#include "support/json.h"

namespace host {
namespace {

WallTime at(long long milliseconds) { return WallTime(std::chrono::milliseconds(milliseconds)); }

TEST(IsoTime, IsUTCWithMilliseconds) {
    const std::pair<long long, const char*> cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},          {-1, "1969-12-31T23:59:59.999Z"},
        {951782400000, "2000-02-29T00:00:00.000Z"}, {1767225600123, "2026-01-01T00:00:00.123Z"},
        {1709251199999, "2024-02-29T23:59:59.999Z"}, {4102444799000, "2099-12-31T23:59:59.000Z"},
    };
    for (auto [milliseconds, expected] : cases) EXPECT_EQ(isoTime(at(milliseconds)), expected) << milliseconds;
}

TEST(DeliveryRecord, IsTheRecordSerialisedWithSortedKeys) {
    struct Case {
        WaitingDelivery delivery;
        bool ready;
        std::optional<std::int32_t> shell;
        std::optional<std::string> reason;
    };
    const Case cases[] = {
        {{"demo://open/1", "url", at(1767225600123)}, true, 4242, std::nullopt},
        {{"demo://x?q=\"quoted\"\\\n\xff", "hotkey", at(0)}, false, std::nullopt, std::string("child-not-reading")},
        {{"DEMO://Open/2", "display-change", at(-1)}, true, -5, std::string("Broken \"pipe\"")},
    };
    for (const Case& c : cases) {
        Json record = {{"at", isoTime(c.delivery.received)}, {"url", c.delivery.url}, {"ready", c.ready},
                       {"launcher", platform::ownPid()}, {"waitedMs", 17}, {"delivered", !c.reason}};
        if (c.shell) record["shell"] = *c.shell;
        if (c.delivery.source != "url") record["source"] = c.delivery.source;
        if (c.reason) record["error"] = *c.reason;
        EXPECT_EQ(deliveryRecord(c.delivery, c.ready, c.shell, c.reason, 17), sortedJson(record)) << c.delivery.url;
    }
}

}  // namespace
}  // namespace host
