// Where records about a process go, and what append adds to them.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "platform/process.h"
#include "running-host.h"

using namespace host;
using testing_support::readText;
using testing_support::recordsOf;
using testing_support::TemporaryFolder;
using testing_support::writeText;

namespace {

namespace fs = std::filesystem;

TEST(DeathLog, ThreePlacesForTheRecords) {
    TemporaryFolder folder;
    configureTheDeathLog(std::nullopt, folder.path() / "support");
    EXPECT_EQ(deathLog(4242), folder.path() / "support" / "shell.jsonl");

    configureTheDeathLog((folder.path() / "all.jsonl").string(), folder.path() / "support");
    EXPECT_EQ(deathLog(4242), folder.path() / "all.jsonl");
    EXPECT_EQ(deathLog(7), folder.path() / "all.jsonl");

    fs::path logs = folder.path() / "logs";
    writeText(logs / "shell-2026-01-01T00-00-00.000Z-4242.jsonl", "");
    writeText(logs / "shell-2026-01-01T00-00-00.000Z-14242.jsonl", "");
    configureTheDeathLog(logs.string(), folder.path() / "support");
    EXPECT_EQ(deathLog(4242), logs / "shell-2026-01-01T00-00-00.000Z-4242.jsonl");
    std::string fresh = deathLog(99).filename().string();
    EXPECT_EQ(fresh.rfind("shell-", 0), 0u);
    EXPECT_EQ(fresh.substr(fresh.size() - 9), "-99.jsonl");
    EXPECT_EQ(fresh.find(':'), std::string::npos) << fresh;
}

TEST(DeathLog, AppendStampsOnlyRecordsWithAKind) {
    TemporaryFolder folder;
    fs::path file = folder.path() / "deep" / "er" / "log.jsonl";
    ASSERT_TRUE(append({{"kind", "child-exit"}, {"pid", 1}, {"b", 2}, {"a", 1}}, file));
    ASSERT_TRUE(append({{"kind", "x"}, {"at", "given"}}, file));
    ASSERT_TRUE(append({{"url", "demo://x"}, {"delivered", true}}, file));
    auto records = recordsOf(file);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0]["pid"], platform::ownPid());
    EXPECT_TRUE(records[0]["at"].get<std::string>().ends_with("Z"));
    EXPECT_EQ(records[1]["at"], "given");
    EXPECT_FALSE(records[2].contains("at"));
    EXPECT_FALSE(records[2].contains("pid"));
    // Sorted keys, one record per line.
    EXPECT_EQ(readText(file).substr(0, 12), "{\"a\":1,\"at\":");
}

TEST(DeathLog, AppendFailsWhereNoFileCanBe) {
    TemporaryFolder folder;
    writeText(folder.path() / "plain", "");
    EXPECT_FALSE(append({{"kind", "x"}}, folder.path() / "plain" / "log.jsonl"));
}

}  // namespace
