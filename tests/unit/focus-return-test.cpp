// Focus return against a desktop held in memory: who gets the focus back after a link, when,
// and what the link log says about it.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "fake-desktop.h"
#include "links/focus-return.h"
#include "running-host.h"

using namespace host;
using namespace testing_support;
using host::platform::ActivationPolicy;

namespace {

constexpr std::int32_t EDITOR = 4242;
constexpr std::int32_t TERMINAL = 4343;
constexpr std::int32_t PANEL = 4444;

class FocusReturnTest : public ::testing::Test {
protected:
    FocusReturnTest() {
        desktop->launch(application(EDITOR, "com.example.editor"));
        desktop->launch(application(TERMINAL, "com.example.terminal"));
        desktop->launch(application(PANEL, "com.example.panel", ActivationPolicy::accessory));
        desktop->bringToFront(EDITOR);
    }

    // The link log's records, each without its time (checked once to be there).
    std::vector<Json> records() const {
        std::vector<Json> found;
        for (Json record : recordsOf(linkLog())) {
            EXPECT_TRUE(record["at"].is_string()) << record;
            record.erase("at");
            found.push_back(record);
        }
        return found;
    }
    std::vector<std::string> focusKinds() const {
        std::vector<std::string> kinds;
        for (const Json& record : records()) kinds.push_back(record["focus"]);
        return kinds;
    }
    fs::path linkLog() const { return folder.path() / "links.jsonl"; }
    std::vector<std::string> handedTo(std::int32_t pid) const {
        return {"yield " + std::to_string(pid), "activate " + std::to_string(pid)};
    }

    TemporaryFolder folder;
    InstalledFakeDesktop desktop;
    FocusReturn focus{linkLog()};
};

TEST_F(FocusReturnTest, WithoutTheAnnouncementTheFocusGoesBackOnceTheHostIsActive) {
    focus.linkArrived("demo://open/1");
    EXPECT_TRUE(focus.owed);
    EXPECT_TRUE(desktop->activations.empty()) << "nothing happens before the host is active";

    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_EQ(desktop->activations, handedTo(EDITOR));
    EXPECT_FALSE(focus.owed);
    const Json launcher = FakeDesktop::hostPid();
    EXPECT_EQ(records(), (std::vector<Json>{
                             {{"focus", "launcher-active"}, {"owed", true}, {"childReplies", false}, {"answered", false},
                              {"link", "demo://open/1"}, {"previous", "com.example.editor"}, {"launcher", launcher}},
                             {{"focus", "returned"}, {"link", "demo://open/1"}, {"to", "com.example.editor"},
                              {"pid", EDITOR}, {"launcher", launcher}}}));
}

TEST_F(FocusReturnTest, ALinkWhileTheHostIsActiveGoesBackAtOnce) {
    desktop->bringToFront(FakeDesktop::hostPid());
    focus.linkArrived("demo://open/1");
    EXPECT_EQ(desktop->activations, handedTo(EDITOR));
    EXPECT_EQ(focusKinds(), (std::vector<std::string>{"launcher-active", "returned"}));
    EXPECT_EQ(records()[0]["owed"], false) << "the host became active before the link";
}

TEST_F(FocusReturnTest, ARefusedActivationIsRecordedAsRefused) {
    desktop->refusing.insert(EDITOR);
    desktop->bringToFront(FakeDesktop::hostPid());
    focus.linkArrived("demo://open/1");
    EXPECT_EQ(focusKinds(), (std::vector<std::string>{"launcher-active", "refused"}));
    EXPECT_EQ(records()[1]["to"], "com.example.editor");
}

TEST_F(FocusReturnTest, NoFocusReturnWithoutAPreviousApplicationThatStillRuns) {
    desktop->terminate(EDITOR);
    desktop->bringToFront(FakeDesktop::hostPid());
    focus.linkArrived("demo://open/1");
    EXPECT_FALSE(focus.owed);
    EXPECT_TRUE(desktop->activations.empty());
    EXPECT_EQ(focusKinds(), (std::vector<std::string>{"launcher-active"}));
}

TEST_F(FocusReturnTest, AnotherApplicationOrAReopenCancelsTheReturn) {
    focus.linkArrived("demo://open/1");
    desktop->bringToFront(TERMINAL);
    EXPECT_FALSE(focus.owed);
    EXPECT_EQ(focus.previous->pid, TERMINAL);
    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_TRUE(desktop->activations.empty());

    focus.childReplies = true;
    desktop->front = TERMINAL;
    focus.linkArrived("demo://open/2");
    focus.reopened();
    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_TRUE(desktop->activations.empty()) << "a reopen cancels the owed return";
    EXPECT_EQ(focusKinds(), (std::vector<std::string>{"launcher-active", "launcher-active"}));
}

TEST_F(FocusReturnTest, WindowlessAccessoriesNeverBecomeThePreviousApplication) {
    const auto accessory = application(PANEL, "com.example.panel", ActivationPolicy::accessory);
    const int statusLevel = desktop->statusWindowLevel();
    EXPECT_TRUE(focus.isAWindowlessAccessory(accessory));
    desktop->windows = {{PANEL, statusLevel, std::nullopt}, {EDITOR, 0, std::nullopt}};
    EXPECT_TRUE(focus.isAWindowlessAccessory(accessory)) << "a window at the status level does not count";
    EXPECT_FALSE(focus.isAWindowlessAccessory(application(EDITOR, "com.example.editor")));
    EXPECT_FALSE(focus.isAWindowlessAccessory(application(EDITOR, "e", ActivationPolicy::prohibited)));
    EXPECT_FALSE(focus.isAWindowlessAccessory(application(9, "regular")))
        << "a regular application is never one, windows or not";

    desktop->windows.clear();
    desktop->bringToFront(PANEL);
    EXPECT_EQ(focus.previous->pid, EDITOR);
    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_EQ(focus.previous->pid, EDITOR) << "the host itself is never the previous application";

    desktop->windows = {{PANEL, statusLevel - 1, std::nullopt}};
    desktop->bringToFront(PANEL);
    EXPECT_EQ(focus.previous->pid, PANEL) << "an accessory with a normal window counts";
}

class FocusWithReplies : public FocusReturnTest {
protected:
    FocusWithReplies() {
        focus.childReplies = true;
        desktop->bringToFront(FakeDesktop::hostPid());
        focus.linkArrived("demo://open/1");
    }
};

TEST_F(FocusWithReplies, TheFocusWaitsForTheReplyToTheLatestLink) {
    EXPECT_TRUE(focus.owed);
    EXPECT_TRUE(desktop->activations.empty()) << "no shell runs here, so there is no one to yield to";
    focus.linkArrived("demo://open/2");
    focus.replied("demo://open/1", std::nullopt, std::nullopt);
    EXPECT_TRUE(focus.owed) << "a reply to an older link changes nothing";
    EXPECT_FALSE(focus.answered);

    focus.replied("demo://open/2", std::nullopt, std::nullopt);
    EXPECT_TRUE(focus.answered);
    EXPECT_FALSE(focus.owed);
    EXPECT_EQ(desktop->activations, handedTo(EDITOR));
    EXPECT_EQ(records().back()["link"], "demo://open/2");

    desktop->activations.clear();
    focus.replied("demo://open/2", std::nullopt, std::nullopt);
    EXPECT_TRUE(desktop->activations.empty()) << "a second reply finds nothing owed";
}

TEST_F(FocusWithReplies, AReplyWhileTheHostIsInactiveWaitsForItToBecomeActive) {
    desktop->front = TERMINAL;  // the host lost the front without an announced activation
    focus.replied("demo://open/1", std::nullopt, std::nullopt);
    EXPECT_TRUE(focus.owed);
    EXPECT_TRUE(desktop->activations.empty());
    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_EQ(desktop->activations, handedTo(EDITOR));
    EXPECT_EQ(records()[1]["answered"], true);
}

TEST_F(FocusWithReplies, APanelReplyKeepsTheFocusUntilThePanelEnds) {
    focus.replied("demo://open/1", PANEL_FOCUS, PANEL);
    EXPECT_FALSE(focus.owed);
    EXPECT_EQ(focus.panelHeld, PANEL);
    EXPECT_EQ(desktop->activations, handedTo(PANEL));
    Json kept = records().back();
    EXPECT_EQ(kept, Json({{"focus", "kept"}, {"link", "demo://open/1"}, {"activated", true},
                          {"launcher", FakeDesktop::hostPid()}}));

    desktop->activations.clear();
    desktop->terminate(TERMINAL);
    EXPECT_TRUE(desktop->activations.empty()) << "another process ending changes nothing";
    desktop->terminate(PANEL);
    EXPECT_FALSE(focus.panelHeld);
    EXPECT_EQ(desktop->activations, handedTo(EDITOR));
    EXPECT_EQ(focusKinds().back(), "returned");
}

TEST_F(FocusWithReplies, APanelEndingWhileTheHostIsInactiveGivesNothingBack) {
    focus.replied("demo://open/1", PANEL_FOCUS, PANEL);
    desktop->front = PANEL;
    desktop->activations.clear();
    desktop->terminate(PANEL);
    EXPECT_FALSE(focus.panelHeld);
    EXPECT_TRUE(desktop->activations.empty());
}

TEST_F(FocusWithReplies, APanelReplyWithoutATargetRecordsNoActivation) {
    focus.replied("demo://open/1", PANEL_FOCUS, 99999);
    EXPECT_TRUE(desktop->activations.empty());
    EXPECT_EQ(records().back()["focus"], "kept");
    EXPECT_EQ(records().back()["activated"], nullptr);
}

TEST(FocusReturnLifetime, ADesktopThatOutlivesTheFocusReturnDoesNotReachIt) {
    InstalledFakeDesktop desktop;
    TemporaryFolder folder;
    {
        FocusReturn gone(folder.path() / "links.jsonl");
    }
    desktop->launch(application(EDITOR, "com.example.editor"));
    desktop->bringToFront(EDITOR);
    desktop->bringToFront(FakeDesktop::hostPid());
    EXPECT_FALSE(fs::exists(folder.path() / "links.jsonl"));
}

}  // namespace
