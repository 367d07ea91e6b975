// The apps watch against a desktop held in memory: the snapshot's rows, and how many snapshots
// requests and workspace changes give.
#include "apps-watch/apps-watch.h"

#include <gtest/gtest.h>

#include "fake-desktop.h"
#include "main-queue.h"

using namespace host;
using namespace testing_support;
using host::platform::ActivationPolicy;
using host::platform::Rect;
using host::platform::WorkspaceChange;

namespace {

constexpr std::int32_t EDITOR = 4242;
constexpr std::int32_t HELPER = 4343;
constexpr std::int32_t DAEMON = 4444;

class AppsWatchTest : public ::testing::Test {
protected:
    AppsWatchTest() {
        desktop->applications = {
            {EDITOR, "com.example.editor", "Editor", "/Apps/Editor.app", ActivationPolicy::regular},
            {HELPER, "com.example.helper", std::nullopt, std::nullopt, ActivationPolicy::accessory},
            {DAEMON, std::nullopt, "daemon", std::nullopt, ActivationPolicy::prohibited},
        };
        desktop->windows = {{EDITOR, 0, Rect{0, 0, 800, 600}}, {DAEMON, 3, Rect{0, 0, 10, 10}}, {EDITOR, 25, std::nullopt}};
    }

    std::vector<std::int32_t> pidsIn(const Json& snapshot) const {
        std::vector<std::int32_t> pids;
        for (const Json& row : snapshot["apps"]) pids.push_back(row["pid"]);
        return pids;
    }

    InstalledFakeDesktop desktop;
    std::vector<Json> told;
    std::unique_ptr<AppsWatch> watch = std::make_unique<AppsWatch>([this](const Json& snapshot) { told.push_back(snapshot); });
};

TEST_F(AppsWatchTest, TheSnapshotListsNamedApplicationsAndEveryWindow) {
    desktop->front = EDITOR;
    const Json snapshot = appsSnapshot();
    const Json host = FakeDesktop::hostPid();
    EXPECT_EQ(snapshot["apps"], Json::parse(R"([
        {"bundle": "com.example.editor", "name": "Editor", "path": "/Apps/Editor.app", "pid": 4242, "policy": 0, "active": true},
        {"bundle": "com.example.helper", "name": "com.example.helper", "path": "", "pid": 4343, "policy": 1, "active": false},
        {"bundle": "app.example.demo", "name": "Demo", "path": "/Apps/Demo.app", "pid": )" + host.dump() +
                                          R"(, "policy": 1, "active": false}
    ])"));
    EXPECT_EQ(snapshot["windows"], Json::parse("[[4242, 0], [4444, 3], [4242, 25]]"))
        << "windows of an application without a bundle identifier are listed too";
    EXPECT_EQ(snapshot.size(), 2u);
}

TEST_F(AppsWatchTest, WithoutAFrontApplicationNoneIsActive) {
    desktop->windows.clear();
    const Json snapshot = appsSnapshot();
    for (const Json& row : snapshot["apps"]) EXPECT_EQ(row["active"], false) << row;
    EXPECT_EQ(snapshot["windows"], Json::array());
}

TEST_F(AppsWatchTest, NothingIsToldBeforeTheFirstRequest) {
    desktop->launch({5555, "org.example.new", "New", std::nullopt, ActivationPolicy::regular});
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_TRUE(told.empty());
    EXPECT_FALSE(watch->watching);
}

TEST_F(AppsWatchTest, EachRequestAnswersAtOnceAndObservesOnlyOnce) {
    watch->start();
    ASSERT_EQ(told.size(), 1u) << "the first request is answered before the queue turns";
    watch->start();
    ASSERT_EQ(told.size(), 2u);
    EXPECT_TRUE(watch->watching);

    desktop->launch({5555, "org.example.new", "New", std::nullopt, ActivationPolicy::regular});
    EXPECT_TRUE(watch->owed);
    ASSERT_TRUE(runTheQueuedWork());
    ASSERT_EQ(told.size(), 3u);
    EXPECT_FALSE(watch->owed);
    EXPECT_EQ(pidsIn(told[2]), (std::vector<std::int32_t>{EDITOR, HELPER, 5555, FakeDesktop::hostPid()}));
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_EQ(told.size(), 3u);
}

TEST_F(AppsWatchTest, ABurstOfChangesGivesOneSnapshotOfWhereItEnded) {
    watch->start();
    told.clear();
    desktop->launch({5555, "org.example.new", "New", std::nullopt, ActivationPolicy::regular});
    desktop->bringToFront(5555);
    desktop->announce(WorkspaceChange::hidden, EDITOR);
    desktop->announce(WorkspaceChange::unhidden, EDITOR);
    desktop->terminate(HELPER);
    EXPECT_TRUE(told.empty()) << "the snapshot waits for the queue";
    ASSERT_TRUE(runTheQueuedWork());
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(pidsIn(told[0]), (std::vector<std::int32_t>{EDITOR, 5555, FakeDesktop::hostPid()}));
    EXPECT_EQ(told[0]["apps"][1]["active"], true);
}

TEST_F(AppsWatchTest, ChangesInSeparateTurnsEachGiveASnapshot) {
    watch->start();
    told.clear();
    for (WorkspaceChange change : {WorkspaceChange::activated, WorkspaceChange::hidden, WorkspaceChange::unhidden}) {
        desktop->announce(change, EDITOR);
        ASSERT_TRUE(runTheQueuedWork());
    }
    EXPECT_EQ(told.size(), 3u);
}

TEST_F(AppsWatchTest, ASnapshotQueuedByAWatchThatIsGoneIsNotSent) {
    watch->start();
    told.clear();
    desktop->announce(WorkspaceChange::hidden, EDITOR);
    watch.reset();
    ASSERT_TRUE(runTheQueuedWork());
    desktop->announce(WorkspaceChange::unhidden, EDITOR);
    ASSERT_TRUE(runTheQueuedWork());
    EXPECT_TRUE(told.empty());
}

}  // namespace
