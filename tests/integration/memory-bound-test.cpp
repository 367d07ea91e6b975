// A shell that stops reading costs the host no more than its inbox's bound, whatever the URLs
// that keep coming: their rows and what each row's delivery keeps count against it. Measured
// from the host's own /proc figures, never by time.
#include <gtest/gtest.h>

#include <fstream>

#include "child/child-inbox.h"
#include "running-host.h"
#include "socket-client.h"

using namespace testing_support;

namespace {

long statusKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// Sends `count` URL requests of `length` bytes, up to 32 KiB of them at a time (the host stops
// reading while many replies wait), and reads every reply; how many came.
long repliesTo(SocketClient& client, long count, std::size_t length) {
    const std::string request = "{\"url\":\"demo://" + std::string(length - 7, 'u') + "\"}\n";
    long replies = 0;
    for (long sent = 0; sent < count;) {
        std::string batch;
        for (; sent < count && (batch.empty() || batch.size() + request.size() <= 32768); ++sent) batch += request;
        if (!client.send(batch)) return replies;
        for (; replies < sent; ++replies) {
            if (!client.line()) return replies;
        }
    }
    return replies;
}

TEST(MemoryBound, AShellThatStopsReadingWhileURLsKeepComingCostsTheHostTheInboxBoundAtMost) {
    BundleFixture fixture;
    const Json rows = Json::array({{{"id", "hello"}, {"title", "Say hello"}, {"enabled", true}}});
    writeShellScript(fixture, "printf '%s\\n' '" + Json({{"menu", rows}}).dump() + "'\nexec sleep 600\n",
                     {{"menu", "child"}, {"links", "/dev/null"}});
    RunningHost host(fixture, {}, {{"MENU_BAR_HOSTED", "1"}});
    std::unique_ptr<SocketClient> connection;
    ASSERT_TRUE(RunningHost::eventually([&] {
        connection = std::make_unique<SocketClient>(supportFolder(fixture) / "menu.sock");
        return connection->connected();
    }));
    SocketClient& client = *connection;
    const long before = statusKiB(host.pid(), "VmRSS");
    ASSERT_GT(before, 0);

    constexpr long perLength = 100000;
    for (std::size_t length : {10, 100, 1000, 4096}) {
        ASSERT_EQ(repliesTo(client, perLength, length), perLength) << length;
        const long peak = statusKiB(host.pid(), "VmHWM");
        // The bound, and a little for what any host holds while it works (buffers, a batch of lines).
        EXPECT_LE((peak - before) * 1024, static_cast<long>(host::CHILD_INBOX_LIMIT + 512 * 1024))
            << "after " << perLength << " URLs of " << length << " bytes: " << before << " KiB before, peak " << peak;
    }
    EXPECT_NE(host.err().find("URL delivery failed: child-not-reading"), std::string::npos);
}

}  // namespace
