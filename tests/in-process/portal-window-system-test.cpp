// Hot keys through a GlobalShortcuts portal of the test's own, on a private bus.
#include <gtest/gtest.h>

#include <map>

#include "../unit/main-queue.h"
#include "fake-shortcuts-portal.h"
#include "platform/freedesktop/portal-window-system.h"
#include "private-bus.h"

using namespace host::platform;
using testing_support::FakeShortcutsPortal;
using testing_support::runTheLoopUntil;

namespace {

constexpr std::uint32_t SIGNATURE = 0x576b484b;  // 'WkHK'
constexpr std::uint32_t COMMAND_SHIFT = 256 | 512, OPTION = 2048;

class PortalWindowSystemTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start"; }

    void open() {
        std::string why;
        system = openThePortalWindowSystem(bus.address().c_str(), &why);
        ASSERT_TRUE(system) << why;
        WindowSystemEvents events;
        events.hotKeyPressed = [this](HotKeyId id) {
            presses.push_back(id.id);
            return true;
        };
        system->setEvents(std::move(events));
    }

    HotKeyRegistration registerTheTwoChords(std::uint32_t which) {
        return which == 0 ? system->registerHotKey(40, COMMAND_SHIFT, {SIGNATURE, 0}, 0)
                          : system->registerHotKey(18, OPTION, {SIGNATURE, 1}, 0);
    }

    testing_support::TemporaryFolder folder;
    testing_support::PrivateBus bus{folder.path()};
    std::unique_ptr<WindowSystem> system;
    std::vector<std::uint32_t> presses;
};

TEST_F(PortalWindowSystemTest, WithoutThePortalThereIsNone) {
    std::string why;
    EXPECT_FALSE(openThePortalWindowSystem(bus.address().c_str(), &why));
    EXPECT_NE(why.find("GlobalShortcuts"), std::string::npos) << why;
}

TEST_F(PortalWindowSystemTest, TheChordsOfATurnAreBoundTogetherAndTheirPressesCome) {
    FakeShortcutsPortal portal(bus.address(), {});
    ASSERT_TRUE(portal.ready());
    open();
    const HotKeyRegistration first = registerTheTwoChords(0);
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(registerTheTwoChords(1).status, 0);
    EXPECT_EQ(system->registerHotKey(40, COMMAND_SHIFT, {SIGNATURE, 2}, 0).status, HOT_KEY_EXISTS_STATUS);
    EXPECT_EQ(system->registerHotKey(200, 0, {SIGNATURE, 3}, 0).status, -50);
    ASSERT_TRUE(runTheLoopUntil([&] { return portal.binds().size() == 1; }));
    EXPECT_EQ(portal.binds()[0], (FakeShortcutsPortal::Bind{{"WkHK-0", "SHIFT+LOGO+k"}, {"WkHK-1", "ALT+1"}}));
    portal.press("WkHK-1");
    ASSERT_TRUE(runTheLoopUntil([&] { return presses.size() == 1; }));

    // Releasing one binds the rest in a new session; the released one is pressed no more.
    system->unregisterHotKey(first.reference);
    ASSERT_TRUE(runTheLoopUntil([&] { return portal.binds().size() == 2; }));
    EXPECT_EQ(portal.binds()[1], (FakeShortcutsPortal::Bind{{"WkHK-1", "ALT+1"}}));
    portal.press("WkHK-0");
    portal.press("WkHK-1");
    ASSERT_TRUE(runTheLoopUntil([&] { return presses.size() == 2; }));
    EXPECT_EQ(presses, (std::vector<std::uint32_t>{1, 1}));
}

struct Refusal {
    std::uint32_t sessionAnswer;
    std::uint32_t bindAnswer;
    const char* unbound;  // a shortcut a granted bind leaves out, or none
    std::map<std::uint32_t, std::int32_t> statuses;  // by chord
};

TEST_F(PortalWindowSystemTest, WhatThePortalRefusesIsReportedAndAskedForAgainAtTheNextRegistration) {
    const Refusal refusals[] = {
        {1, 0, nullptr, {{0, PORTAL_DECLINED_STATUS}, {1, PORTAL_DECLINED_STATUS}}},
        {0, 1, nullptr, {{0, PORTAL_DECLINED_STATUS}, {1, PORTAL_DECLINED_STATUS}}},
        {0, 2, nullptr, {{0, PORTAL_REFUSED_STATUS}, {1, PORTAL_REFUSED_STATUS}}},
        {0, 0, "WkHK-1", {{1, PORTAL_REFUSED_STATUS}}},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(testing::Message() << refusal.sessionAnswer << "/" << refusal.bindAnswer);
        FakeShortcutsPortal::Answers answers{refusal.sessionAnswer, refusal.bindAnswer, {}};
        if (refusal.unbound) answers.unbound.insert(refusal.unbound);
        FakeShortcutsPortal portal(bus.address(), answers);
        ASSERT_TRUE(portal.ready());
        open();
        std::map<std::uint32_t, std::pair<std::uint64_t, std::int32_t>> refused;
        std::vector<std::uint32_t> told;
        WindowSystemEvents events;
        events.hotKeyPressed = [this](HotKeyId id) { return presses.emplace_back(id.id), true; };
        events.hotKeyRefused = [&](HotKeyId id, std::uint64_t reference, std::int32_t status) {
            refused[id.id] = {reference, status};
            told.push_back(id.id);
        };
        system->setEvents(std::move(events));
        presses.clear();
        const std::uint64_t references[] = {registerTheTwoChords(0).reference, registerTheTwoChords(1).reference};
        ASSERT_TRUE(runTheLoopUntil([&] { return told.size() == refusal.statuses.size(); }));
        for (const auto& [chord, status] : refusal.statuses) {
            EXPECT_EQ(refused[chord], std::make_pair(references[chord], status)) << chord;
        }
        if (!refusal.statuses.contains(0)) {
            portal.press("WkHK-0");
            ASSERT_TRUE(runTheLoopUntil([&] { return !presses.empty(); }));
        }
        // A refused chord registers again and the portal is asked again, refusing as before.
        for (const auto& [chord, status] : refusal.statuses) EXPECT_EQ(registerTheTwoChords(chord).status, 0) << chord;
        ASSERT_TRUE(runTheLoopUntil([&] { return told.size() == 2 * refusal.statuses.size(); }));
        system.reset();
    }
}

}  // namespace
