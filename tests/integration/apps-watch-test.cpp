// The apps watch through the real host and the scripted desktop: the shell's request answered
// at once, and workspace changes folded into one snapshot however often it asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>

#include "desktop-session.h"

using namespace testing_support;

namespace {

constexpr std::int32_t FILES = 90001;
constexpr std::int32_t BROWSER = 90002;
constexpr std::int32_t MAIL = 90003;

const Json watchRequest = {{"watch", "apps"}};

class AppsWatch : public ::testing::Test {
protected:
    // The shell is told the front application too: those lines mark a point in its input.
    AppsWatch() { writeRelayShell(fixture, {{"front", "tell"}}); }

    DesktopSession startTheSession() {
        const Json windows = Json::array({{{"pid", FILES}, {"layer", 0}, {"bounds", {{"x", 0}, {"y", 0}, {"width", 800}, {"height", 600}}}},
                                          {{"pid", BROWSER}, {"layer", 3}, {"bounds", nullptr}}});
        return DesktopSession(fixture, {launchedApplication(FILES, "org.example.files"),
                                        launchedApplication(BROWSER, "org.example.browser"),
                                        {{"event", "windows"}, {"windows", windows}}});
    }
    std::vector<Json> received() const { return recordsOf(fixture.root() / "received"); }
    static bool isSnapshot(const Json& line) { return line.contains("apps"); }
    // The lines received, once `enough` holds for them.
    std::vector<Json> receivedOnce(const std::function<bool(const std::vector<Json>&)>& enough) const {
        std::vector<Json> lines;
        RunningHost::eventually([&] { return enough(lines = received()); });
        return lines;
    }
    std::vector<Json> snapshotsOnce(std::size_t count) const {
        std::vector<Json> lines = receivedOnce([&](const std::vector<Json>& all) {
            return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), isSnapshot)) >= count;
        });
        std::erase_if(lines, [](const Json& line) { return !isSnapshot(line); });
        return lines;
    }
    static std::vector<std::int32_t> pidsIn(const Json& snapshot) {
        std::vector<std::int32_t> pids;
        for (const Json& row : snapshot["apps"]) pids.push_back(row["pid"]);
        return pids;
    }

    BundleFixture fixture;
};

TEST_F(AppsWatch, TheFirstRequestIsAnsweredAtOnceAndALaunchSendsOneMore) {
    DesktopSession session = startTheSession();
    ASSERT_TRUE(session.started()) << session.why();
    tellTheHostAsTheShell(fixture, {watchRequest});
    auto snapshots = snapshotsOnce(1);
    ASSERT_EQ(snapshots.size(), 1u);
    const Json host = session.host().pid();
    EXPECT_EQ(snapshots[0]["apps"], Json::parse(R"([
        {"active": false, "bundle": "org.example.files", "name": "org.example.files", "path": "", "pid": 90001, "policy": 0},
        {"active": false, "bundle": "org.example.browser", "name": "org.example.browser", "path": "", "pid": 90002, "policy": 0},
        {"active": false, "bundle": "app.example.demo", "name": "Demo", "path": )" + Json(fixture.bundle().string()).dump() +
                                                  R"(, "pid": )" + host.dump() + R"(, "policy": 2}
    ])"));
    EXPECT_EQ(snapshots[0]["windows"], Json::parse("[[90001, 0], [90002, 3]]"));

    ASSERT_TRUE(session.send("launched", {{"pid", MAIL}, {"bundle", "org.example.mail"}, {"policy", "accessory"}}));
    snapshots = snapshotsOnce(2);
    ASSERT_EQ(snapshots.size(), 2u);
    EXPECT_EQ(pidsIn(snapshots[1]), (std::vector<std::int32_t>{FILES, BROWSER, MAIL, session.host().pid()}));
    EXPECT_EQ(snapshots[1]["apps"][2]["policy"], 1);
}

TEST_F(AppsWatch, ABurstGivesOneSnapshotHoweverOftenTheShellAsked) {
    DesktopSession session = startTheSession();
    ASSERT_TRUE(session.started()) << session.why();
    tellTheHostAsTheShell(fixture, {watchRequest, watchRequest});
    ASSERT_EQ(snapshotsOnce(2).size(), 2u) << "each request is answered";

    ASSERT_TRUE(session.desktop().sendEvents({
        {{"event", "launched"}, {"pid", MAIL}, {"bundle", "org.example.mail"}},
        {{"event", "activated"}, {"pid", MAIL}},
        {{"event", "hidden"}, {"pid", FILES}},
        {{"event", "unhidden"}, {"pid", FILES}},
        {{"event", "terminated"}, {"pid", BROWSER}},
    }));
    ASSERT_EQ(snapshotsOnce(3).size(), 3u);
    // A later activation tells the shell the front before its own snapshot: whatever came
    // before that line is all the burst gave.
    ASSERT_TRUE(session.send("activated", {{"pid", FILES}}));
    const Json marker = {{"front", "org.example.files"}};
    auto lines = receivedOnce([&](const std::vector<Json>& all) {
        auto found = std::find(all.begin(), all.end(), marker);
        return found != all.end() && std::find_if(found, all.end(), isSnapshot) != all.end();
    });
    auto beforeTheMarker = std::find(lines.begin(), lines.end(), marker);
    ASSERT_NE(beforeTheMarker, lines.end());
    std::vector<Json> burst;
    std::copy_if(lines.begin(), beforeTheMarker, std::back_inserter(burst), isSnapshot);
    ASSERT_EQ(burst.size(), 3u) << "two answers and one snapshot for the burst";
    EXPECT_EQ(pidsIn(burst[2]), (std::vector<std::int32_t>{FILES, MAIL, session.host().pid()}));
    EXPECT_EQ(burst[2]["apps"][1]["active"], true);
    EXPECT_EQ(std::count_if(beforeTheMarker, lines.end(), isSnapshot), 1) << "one snapshot for the activation";
}

}  // namespace
