// URL deliveries into real shells, driven through the host's own modules: nothing is lost
// across swaps, and a shell that stops reading or goes away never blocks or kills the host.
// Each scenario runs in a forked process, since the host's state is process-wide.
#include <gtest/gtest.h>

#include <csignal>
#include <algorithm>
#include <set>
#include <sstream>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "links/delivery-queue.h"
#include "platform/descriptors.h"
#include "running-host.h"
#include "support/event-loop.h"

using namespace host;
using testing_support::readText;
using testing_support::recordsOf;
using testing_support::TemporaryFolder;

namespace {

namespace fs = std::filesystem;

class Deliveries : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "fast"); }

    fs::path received() const { return folder.path() / "received.jsonl"; }
    fs::path linkLog() const { return folder.path() / "links.jsonl"; }
    fs::path deathLogFile() const { return folder.path() / "support" / "shell.jsonl"; }

    // Line-shells with these arguments after their output file, for the shells launched from now on.
    void configureLineShells(std::vector<std::string> modeArguments) const {
        ShellSettings settings;
        settings.executable = LINE_SHELL;
        settings.arguments = {received().string()};
        settings.arguments.insert(settings.arguments.end(), modeArguments.begin(), modeArguments.end());
        settings.environment = {{"PATH", "/usr/bin:/bin"}};
        settings.piped = true;
        settings.handlers = std::make_shared<MessageHandlers>();
        configureTheShell(settings);
    }

    // Starts a line-shell with these arguments after its output file; in the scenario's process.
    void startTheShell(std::vector<std::string> modeArguments) const {
        std::signal(SIGPIPE, SIG_IGN);
        testing_support::writeText(received(), "");
        configureTheDeathLog(std::nullopt, folder.path() / "support");
        configureTheLinkLog(linkLog());
        configureLineShells(std::move(modeArguments));
        makeChild();
        listen();
        watch();
        std::string error;
        if (!run(&error)) _exit(90);
    }

    std::vector<std::string> receivedURLs() const {
        std::vector<std::string> urls;
        std::istringstream lines(readText(received()));
        for (std::string line; std::getline(lines, line);) {
            Json message = Json::parse(line);
            if (message.contains("url")) urls.push_back(message["url"]);
        }
        return urls;
    }

    TemporaryFolder folder;
};

std::string urlNumber(int n) { return "demo://open/" + std::to_string(n); }
int numberOf(const std::string& url) { return std::stoi(url.substr(std::string("demo://open/").size())); }

std::size_t lineCount(const fs::path& file) {
    std::string text = readText(file);
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Keeps delivering until `count` URLs went out, asking for a swap every `swapEvery`.
void deliverWithSwaps(int count, int swapEvery, const std::function<bool()>& settled) {
    auto next = std::make_shared<int>(0);
    auto feeder = std::make_shared<loop::Timer>();
    feeder->startRepeating(0.001, [=] {
        for (int i = 0; i < 25 && *next < count; ++i) {
            deliver(urlNumber((*next)++));
            // Asked mid-batch, so the rest of the batch always arrives while the swap is under way,
            // however fast the next shell starts.
            if (*next % swapEvery == 10) askForAShellSwap();
        }
    });
    auto check = std::make_shared<loop::Timer>();
    check->startRepeating(0.01, [=] {
        if (*next == count && !swapping && waitingDeliveries() == 0 && settled()) loop::quitTheMainLoop();
    });
    loop::Timer safety;
    safety.startOnce(60, [] { _exit(91); });
    loop::runTheMainLoop();
}

TEST_F(Deliveries, NoURLIsLostOrRepeatedAcrossSwaps) {
    constexpr int count = 3000;
    EXPECT_EXIT(
        {
            startTheShell({});
            // One final record per URL, once the shell has read it or it failed.
            deliverWithSwaps(count, 250, [&] { return lineCount(linkLog()) >= static_cast<std::size_t>(count); });
            signalTheShell(SIGKILL);
            std::fprintf(stderr, "scenario done\n");
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "scenario done");

    auto urls = receivedURLs();
    std::set<std::string> failed;
    std::size_t delivered = 0;
    for (const auto& record : recordsOf(linkLog())) {
        if (record["delivered"].get<bool>()) ++delivered;
        else failed.insert(record["url"].get<std::string>());
    }
    EXPECT_EQ(delivered + failed.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(urls.size(), delivered);
    int last = -1;
    for (const auto& url : urls) {
        int n = numberOf(url);
        EXPECT_GT(n, last) << "out of order or repeated: " << url;
        last = n;
        EXPECT_EQ(failed.count(url), 0u) << url << " arrived and was logged as failed";
    }
    auto swaps = recordsOf(deathLogFile(), "shell-swapped");
    // A swap asked for while one is under way is ignored, so a loaded machine sees fewer.
    EXPECT_GE(swaps.size(), 2u);
    std::size_t requeued = 0;
    for (const auto& record : recordsOf(linkLog())) requeued += record["ready"] == false;
    EXPECT_GT(requeued, 0u) << "no delivery was ever written after a swap";
}

// URLs the old shell never took out of its pipe reach the next one, logged once, as delivered
// there and not before.
TEST_F(Deliveries, URLsLeftUnreadInASwappedOutShellsPipeGoToTheNextShell) {
    EXPECT_EXIT(
        {
            startTheShell({"never-read"});
            for (int n = 0; n < 3; ++n) deliver(urlNumber(n));
            configureLineShells({});  // the next shell reads
            askForAShellSwap();
            loop::Timer check;
            loop::Timer safety;
            check.startRepeating(0.005, [this] {
                if (!swapping && recordsOf(linkLog()).size() >= 3) loop::quitTheMainLoop();
            });
            safety.startOnce(20, [] { _exit(91); });
            loop::runTheMainLoop();
            signalTheShell(SIGKILL);
            _exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(receivedURLs(), (std::vector<std::string>{urlNumber(0), urlNumber(1), urlNumber(2)}));
    auto records = recordsOf(linkLog());
    ASSERT_EQ(records.size(), 3u);
    auto swaps = recordsOf(deathLogFile(), "shell-swapped");
    ASSERT_EQ(swaps.size(), 1u);
    for (std::size_t n = 0; n < records.size(); ++n) {
        EXPECT_EQ(records[n]["url"], urlNumber(static_cast<int>(n)));
        EXPECT_EQ(records[n]["delivered"], true);
        EXPECT_EQ(records[n]["ready"], false);
        EXPECT_EQ(records[n]["shell"], swaps[0]["to"]);
    }
}

TEST_F(Deliveries, AShellThatNeverReadsMakesLaterURLsFailNotTheHostBlock) {
    EXPECT_EXIT(
        {
            startTheShell({"never-read"});
            int ticks = 0;
            loop::Timer feeder;
            feeder.startRepeating(0.001, [&] {
                if (++ticks <= 40) deliver("demo://big/" + std::to_string(ticks) + "?" + std::string(60000, 'x'));
                else loop::quitTheMainLoop();
            });
            loop::runTheMainLoop();
            std::fprintf(stderr, "held %zu\n", shellInbox()->held());
            signalTheShell(SIGKILL);
            platform::exitNow(ticks > 40 ? 0 : 1);  // as the host exits, its messages written first
        },
        ::testing::ExitedWithCode(0), "URL delivery failed: child-not-reading");

    auto records = recordsOf(linkLog());
    ASSERT_FALSE(records.empty());
    std::size_t refused = 0;
    for (const auto& record : records) {
        EXPECT_EQ(record["ready"], true);
        EXPECT_TRUE(record["waitedMs"].is_number_integer());
        EXPECT_FALSE(record.contains("source"));
        EXPECT_EQ(record["delivered"], false);
        EXPECT_EQ(record["error"], "child-not-reading");
        ++refused;
    }
    // What sits unread in the pipe or waits in the inbox at the end has no record yet.
    EXPECT_GE(refused, 20u);
    EXPECT_LT(records.size(), 40u);
}

TEST_F(Deliveries, AShellThatLeavesWhileTheHostWritesEndsTheHostCleanly) {
    EXPECT_EXIT(
        {
            startTheShell({"exit-after", "5"});
            for (int i = 0; i < 200; ++i) deliver(urlNumber(i) + "?" + std::string(2000, 'y'), i % 2 ? "hotkey" : "url");
            loop::runTheMainLoop();  // the host follows the shell out with its status
            _exit(1);
        },
        ::testing::ExitedWithCode(0), "URL delivery failed: (Broken pipe|closed)");

    auto records = recordsOf(linkLog());
    ASSERT_EQ(records.size(), 200u);
    std::size_t failures = 0;
    for (const auto& record : records) {
        if (record["delivered"] == false) ++failures;
        bool hotKey = numberOf(record["url"]) % 2 == 1;
        EXPECT_EQ(record.contains("source"), hotKey);
        if (hotKey) {
            EXPECT_EQ(record["source"], "hotkey");
        }
    }
    EXPECT_GT(failures, 0u);
    EXPECT_EQ(recordsOf(deathLogFile(), "child-exit").size(), 1u);
}

TEST_F(Deliveries, DuringASwapMessagesAreDroppedWhileURLsWait) {
    EXPECT_EXIT(
        {
            startTheShell({});
            askForAShellSwap();
            tellTheChild({{"front", "dropped.front"}});
            bool picked = sendMenuPickToTheChild("row", "Row", std::nullopt);
            deliver("demo://kept/1");
            deliver("demo://kept/2");
            loop::Timer check;
            check.startRepeating(0.005, [this] {
                if (!swapping && lineCount(received()) >= 2) loop::quitTheMainLoop();
            });
            loop::Timer safety;
            safety.startOnce(20, [] { _exit(91); });
            loop::runTheMainLoop();
            bool pickedAfter = sendMenuPickToTheChild("row", "Row", std::string("branch"));
            check.startRepeating(0.005, [this] {
                if (lineCount(received()) >= 3 && lineCount(linkLog()) >= 2) loop::quitTheMainLoop();
            });
            loop::runTheMainLoop();
            signalTheShell(SIGKILL);
            _exit(!picked && pickedAfter ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");

    std::string received = readText(this->received());
    EXPECT_EQ(received.find("dropped.front"), std::string::npos);
    EXPECT_EQ(receivedURLs(), (std::vector<std::string>{"demo://kept/1", "demo://kept/2"}));
    auto records = recordsOf(linkLog());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0]["ready"], false);  // written from the queue after the swap
    EXPECT_NE(received.find(R"("branch":"branch")"), std::string::npos) << received;
}

TEST_F(Deliveries, WithoutPipesURLsAreDropped) {
    EXPECT_EXIT(
        {
            configureTheLinkLog(linkLog());
            ShellSettings settings;
            settings.piped = false;
            configureTheShell(settings);
            makeChild();
            deliver("demo://dropped");
            _exit(waitingDeliveries() == 0 && shellInbox() == nullptr ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_FALSE(fs::exists(linkLog()));
}

}  // namespace
