// The updater over entry points held in memory: which feed is in force, the version text as the
// library hands it over, channel picks without a feed. The rows, the start and the picks are
// tested through the real host and library (tests/integration/updates-test.cpp).
#include <gtest/gtest.h>

#include <cstring>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "fake-desktop.h"
#include "panels/views-entry-points.h"
#include "platform/user-defaults.h"
#include "running-host.h"
#include "updates/update-rows.h"
#include "updates/updater.h"

using namespace host;
using testing_support::InstalledFakeDesktop;
using testing_support::recordsOf;
using testing_support::TemporaryFolder;

namespace {

// The library's answers and what it was asked.
struct FakeUpdater {
    std::int32_t start = 0;
    std::int32_t setFeed = 0;
    std::optional<std::string> waiting;  // the bytes handed over
    std::optional<std::int32_t> waitingResult;  // else the length of `waiting`
    std::vector<std::string> asked;
} updater;

std::int32_t startUpdater(const char* feed) {
    updater.asked.push_back(std::string("start ") + feed);
    return updater.start;
}
std::int32_t checkForUpdates() {
    updater.asked.push_back("check");
    return 0;
}
std::int32_t setUpdateFeed(const char* feed) {
    updater.asked.push_back(std::string("set ") + feed);
    return updater.setFeed;
}
std::int32_t fakeWaitingUpdate(char* buffer, std::int32_t capacity) {
    updater.asked.push_back("waiting " + std::to_string(capacity));
    if (!updater.waiting) return -1;
    std::memcpy(buffer, updater.waiting->data(), std::min<std::size_t>(updater.waiting->size(), capacity));
    return updater.waitingResult.value_or(static_cast<std::int32_t>(updater.waiting->size()));
}

template <typename Signature>
platform::LibraryEntry entry(Signature function) {
    return reinterpret_cast<platform::LibraryEntry>(function);
}

platform::LibraryEntry fakeEntry(const std::string& symbol, std::string* error) {
    if (symbol == "wickerly_start_updater") return entry(&startUpdater);
    if (symbol == "wickerly_check_for_updates") return entry(&checkForUpdates);
    if (symbol == "wickerly_set_update_feed") return entry(&setUpdateFeed);
    if (symbol == "wickerly_waiting_update") return entry(&fakeWaitingUpdate);
    *error = "undefined symbol: " + symbol;
    return nullptr;
}

const std::string stableFeed = "https://example.org/stable.xml";
const std::string betaFeed = "https://example.org/beta.xml";

class UpdaterTest : public ::testing::Test {
protected:
    UpdaterTest() {
        updater = {};
        configureTheDeathLog(std::nullopt, folder.path());
        configure();
    }
    void configure(std::optional<std::string> feed = stableFeed, bool turkish = false) {
        configureTheUpdates({feed,
                             UpdateChoices{"UpdateChannel", {{"channel.stable", "stable", stableFeed},
                                                             {"channel.beta", "beta", betaFeed}}},
                             MenuAttribution{"host.made-by", "Made by Example", "https://example.org/"},
                             turkish, "42", defaultsFile(), "/Apps/Demo.app/Contents/Frameworks/libViews.dylib",
                             fakeEntry});
    }
    std::filesystem::path defaultsFile() const { return folder.path() / "user-defaults.json"; }
    platform::UserDefaults defaults() const { return platform::UserDefaults(defaultsFile()); }
    std::vector<Json> records(const std::string& kind) const { return recordsOf(folder.path() / "shell.jsonl", kind); }

    TemporaryFolder folder;
    InstalledFakeDesktop desktop;
};

TEST(UpdateConfiguration, OnlyAFrozenBundleHasAFeed) {
    const Json info = {{"SUFeedURL", "https://example.org/feed.xml"}};
    EXPECT_EQ(updateFeedOf(info, true), "https://example.org/feed.xml");
    EXPECT_FALSE(updateFeedOf(info, false));
    EXPECT_FALSE(updateFeedOf({{"SUFeedURL", ""}}, true));
    EXPECT_FALSE(updateFeedOf({{"SUFeedURL", 7}}, true));
    EXPECT_TRUE(speaksTurkishIn({"tr-TR", "en"}));
    EXPECT_FALSE(speaksTurkishIn({"en", "tr"}));
    EXPECT_FALSE(speaksTurkishIn({}));
}

TEST_F(UpdaterTest, TheStoredChannelPicksTheFeedOnlyWhenItNamesOne) {
    EXPECT_EQ(selectedUpdateFeed(), stableFeed);
    defaults().set("UpdateChannel", "beta");
    EXPECT_EQ(selectedUpdateFeed(), betaFeed);
    defaults().set("UpdateChannel", "nightly");
    EXPECT_EQ(selectedUpdateFeed(), stableFeed);
    defaults().set("UpdateChannel", 1);
    EXPECT_EQ(selectedUpdateFeed(), stableFeed);
    configure(std::nullopt);
    defaults().set("UpdateChannel", "beta");
    EXPECT_FALSE(selectedUpdateFeed()) << "without a feed of its own the bundle never updates";
}

TEST_F(UpdaterTest, TheVersionTextIsCutToTheBufferAndRepaired) {
    startTheUpdaterOfTheFeed();
    updater.waiting = std::string(200, '9');
    updater.waitingResult = 200;  // more than the buffer holds
    EXPECT_EQ(waitingUpdate(WAITING_VERSION_BYTES), std::string(128, '9'));
    updater.waiting = "2.0\xff";
    updater.waitingResult.reset();
    EXPECT_EQ(waitingUpdate(WAITING_VERSION_BYTES), "2.0\uFFFD");
    updater.waiting = "2.0-beta";
    updater.waitingResult = 3;
    EXPECT_EQ(waitingUpdate(WAITING_VERSION_BYTES), "2.0") << "only the bytes the library counts";
}

TEST_F(UpdaterTest, WithoutAFeedAChannelPickIsTakenAndDoesNothing) {
    configure(std::nullopt);
    EXPECT_TRUE(pickedTheUpdaterRow("channel.beta"));
    EXPECT_FALSE(pickedTheUpdaterRow("host.made-by")) << "the attribution row needs a feed";
    EXPECT_TRUE(updater.asked.empty());
    EXPECT_TRUE(desktop->alerts.empty());
}

}  // namespace
