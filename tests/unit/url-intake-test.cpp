// URL, link-file, file-link and Services intake: what counts as the host's link, what goes to
// the system, what the opens log says about the sender; and the display-change URL.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "bundle-fixture.h"
#include "fake-desktop.h"
#include "links/display-change.h"
#include "links/focus-return.h"
#include "links/url-intake.h"
#include "platform/process.h"
#include "platform/processes.h"
#include "running-host.h"
#include "support/url.h"

using namespace host;
using namespace testing_support;

namespace {

// A file:// URL for a path whose only unusual characters are spaces.
std::string fileURLOf(const fs::path& path) {
    std::string url = "file://";
    for (char c : path.string()) url += c == ' ' ? std::string("%20") : std::string(1, c);
    return url;
}

std::string urlOfLength(std::size_t bytes) {
    std::string url = "demo://open/";
    return url + std::string(bytes - url.size(), 'a');
}

class URLIntake : public ::testing::Test {
protected:
    URLIntake() {
        makeTheFocusReturn(folder.path() / "links.jsonl");
        configureTheURLIntake(settings());
    }
    ~URLIntake() override { configureTheURLIntake({}); }

    IntakeSettings settings() const {
        IntakeSettings intake;
        intake.identity = "app.example.demo";
        intake.schemes = {"demo"};
        intake.linkExtension = "demolink";
        intake.fileExtension = "demodoc";
        intake.fileLinkHead = "demo://files/open?old=1#top";
        intake.linkRelayPrefix = "wickerly-";
        intake.opensLog = opensLog();
        return intake;
    }
    fs::path opensLog() const { return folder.path() / "opens.jsonl"; }
    // A file in the test's folder, and its URL.
    std::string fileWith(const std::string& name, const std::string& text) const {
        writeText(folder.path() / name, text);
        return fileURLOf(folder.path() / name);
    }
    // The link focus return was told of last; empty when none.
    static const std::string& lastLinkArrived() { return focusReturn().link; }

    TemporaryFolder folder;
    InstalledFakeDesktop desktop;
};

TEST_F(URLIntake, AGetURLRequestTakesAtMost32768Bytes) {
    const std::string longest = urlOfLength(32768);
    openURL(longest, {});
    EXPECT_EQ(lastLinkArrived(), longest);
    openURL(urlOfLength(32769), {});
    EXPECT_EQ(lastLinkArrived(), longest);
    EXPECT_EQ(recordsOf(opensLog()).size(), 1u) << "a URL over the limit is not even recorded";
}

TEST_F(URLIntake, OnlyTheHostsSchemesAreTakenButEveryArrivalIsRecorded) {
    arrived("https://example.com/", std::nullopt, std::nullopt);
    arrived("not a url", std::nullopt, std::nullopt);
    EXPECT_EQ(lastLinkArrived(), "");
    arrived("wickerly-notes://n/1", std::nullopt, std::nullopt);
    EXPECT_TRUE(desktop->openedBySystem.empty()) << "only a link file is relayed";
    arrived("DEMO://Open/1", std::nullopt, std::nullopt);
    EXPECT_EQ(lastLinkArrived(), "DEMO://Open/1") << "the scheme is compared lowercased, the URL kept as received";

    auto records = recordsOf(opensLog());
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[1]["url"], "not a url");
    for (Json& record : records) {
        EXPECT_TRUE(record["at"].is_string());
        record.erase("at");
        record.erase("url");
        EXPECT_EQ(record, Json({{"receiver", "app.example.demo"}, {"sender", {{"pid", nullptr}, {"chain", Json::array()}}}}));
    }
}

TEST_F(URLIntake, ALinkFileHoldsItsTrimmedURL) {
    const std::string link = fileWith("note.DemoLink", " \t demo://open/7 \n  \n");
    EXPECT_EQ(linkOf(link), "demo://open/7");
    EXPECT_EQ(linkOf(fileWith("wide.demolink", "\u00a0\u3000demo://open/8\u2028\r\n")), "demo://open/8");

    openURLs({link}, platform::CurrentEvent{});
    EXPECT_EQ(lastLinkArrived(), "demo://open/7");
    auto records = recordsOf(opensLog());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["url"], "demo://open/7");
    EXPECT_EQ(records[0]["file"], (folder.path() / "note.DemoLink").string());
}

TEST_F(URLIntake, FilesThatHoldNoLink) {
    EXPECT_FALSE(linkOf(fileWith("bytes.demolink", "demo://open/\xff\xfe")));
    EXPECT_FALSE(linkOf(fileWith("foreign.demolink", "https://example.com/")));
    EXPECT_FALSE(linkOf(fileWith("words.demolink", "just some words")));
    EXPECT_FALSE(linkOf(fileWith("empty.demolink", "  \n")));
    EXPECT_FALSE(linkOf(fileWith("other.txt", "demo://open/1")));
    EXPECT_FALSE(linkOf(fileURLOf(folder.path() / "missing.demolink")));
    EXPECT_FALSE(linkOf("https://example.com/x.demolink"));
    fs::create_directory(folder.path() / "folder.demolink");
    EXPECT_FALSE(linkOf(fileURLOf(folder.path() / "folder.demolink")));
    ASSERT_EQ(mkfifo((folder.path() / "pipe.demolink").c_str(), 0600), 0);
    EXPECT_FALSE(linkOf(fileURLOf(folder.path() / "pipe.demolink"))) << "a FIFO is never read (it would block)";

    IntakeSettings withoutExtension = settings();
    withoutExtension.linkExtension.reset();
    configureTheURLIntake(withoutExtension);
    EXPECT_FALSE(linkOf(fileWith("fine.demolink", "demo://open/1")));
}

TEST_F(URLIntake, AnOversizedLinkFileCanStillBecomeAFileLink) {
    EXPECT_TRUE(linkOf(fileWith("full.demolink", urlOfLength(32768))));
    const std::string oversized = fileWith("over.demolink", urlOfLength(32769));
    EXPECT_FALSE(linkOf(oversized));

    IntakeSettings sameExtension = settings();
    sameExtension.fileExtension = "demolink";
    configureTheURLIntake(sameExtension);
    openURLs({oversized}, std::nullopt);
    EXPECT_EQ(lastLinkArrived(), "demo://files/open?path=" + (folder.path() / "over.demolink").string() + "#top");
}

TEST_F(URLIntake, ALinkFileOfTheRelayFamilyGoesToTheSystem) {
    const std::string companion = fileWith("companion.demolink", "Wickerly-Notes://n/1\n");
    openURLs({companion}, std::nullopt);
    EXPECT_EQ(desktop->openedBySystem, std::vector<std::string>{"Wickerly-Notes://n/1"});
    EXPECT_EQ(lastLinkArrived(), "") << "a relayed link is not the host's";

    openURL("Wickerly-Notes://n/1", {});
    EXPECT_EQ(desktop->openedBySystem.size(), 1u) << "the same URL without a file is dropped";
    EXPECT_EQ(recordsOf(opensLog()).size(), 2u);
}

TEST_F(URLIntake, AFileLinkCarriesThePathAsItsOnlyQueryItem) {
    const fs::path document = "/tmp/My Notes/a+b&c=d#e.DemoDoc";
    const std::string url = "file:///tmp/My%20Notes/a+b&c=d%23e.DemoDoc";
    EXPECT_EQ(fileLinkOf(url), "demo://files/open?path=/tmp/My%20Notes/a%2Bb%26c%3Dd%23e.DemoDoc#top");
    EXPECT_FALSE(fileLinkOf("file:///tmp/notes.txt"));
    EXPECT_FALSE(fileLinkOf("https://example.com/notes.demodoc"));

    openURLs({"file:///tmp/notes.txt", url, "demo://open/9"}, platform::CurrentEvent{});
    auto records = recordsOf(opensLog());
    ASSERT_EQ(records.size(), 2u) << "a file that is neither a link file nor a document is ignored";
    EXPECT_EQ(records[0]["file"], document.string());
    EXPECT_FALSE(records[1].contains("file"));

    IntakeSettings withoutHead = settings();
    withoutHead.fileLinkHead.reset();
    configureTheURLIntake(withoutHead);
    EXPECT_FALSE(fileLinkOf(url));
    withoutHead.fileLinkHead = "not a url";
    configureTheURLIntake(withoutHead);
    EXPECT_FALSE(fileLinkOf(url));
}

TEST_F(URLIntake, AnOpenRequestSkipsURLsOverTheLimit) {
    openURLs({urlOfLength(32769), urlOfLength(32768)}, std::nullopt);
    auto records = recordsOf(opensLog());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["url"], urlOfLength(32768));
}

TEST_F(URLIntake, AServicesRequestNeedsAScheme_UserDataAndAFile) {
    const std::string noFile = "No file for the service";
    EXPECT_EQ(openFiles({"/tmp/a"}, ""), noFile);
    EXPECT_EQ(openFiles({"/tmp/a"}, std::nullopt), noFile);
    EXPECT_EQ(openFiles({}, "open"), noFile);
    EXPECT_EQ(openFiles({"relative/path", ""}, "open"), noFile);
    EXPECT_EQ(openFiles({"/tmp/a", "file:///tmp/b"}, "open"), std::nullopt);
    EXPECT_EQ(lastLinkArrived(), "") << "focus return is not told of a service";
    EXPECT_FALSE(fs::exists(opensLog())) << "nor is a service recorded in the opens log";

    IntakeSettings noSchemes = settings();
    noSchemes.schemes.clear();
    configureTheURLIntake(noSchemes);
    EXPECT_EQ(openFiles({"/tmp/a"}, "open"), noFile);
}

TEST(Sender, AnEventWithoutAPositiveSenderHasAnEmptyChain) {
    const Json none = {{"pid", nullptr}, {"chain", Json::array()}};
    EXPECT_EQ(sender(std::nullopt), none);
    EXPECT_EQ(sender(platform::CurrentEvent{}), none);
    EXPECT_EQ(sender(platform::CurrentEvent{0, std::nullopt}), none);
    EXPECT_EQ(sender(platform::CurrentEvent{-7, std::nullopt}), none);
}

TEST(Sender, TheChainStopsAt32EntriesAtTheFirstProcessOrWhereAParentIsUnknown) {
    auto named = [](std::int32_t pid) -> std::optional<std::string> {
        if (pid % 2 == 0) return std::nullopt;
        return "/bin/p" + std::to_string(pid);
    };
    Json endless = senderChainOf(100, named, [](std::int32_t pid) { return std::optional(pid + 1); });
    ASSERT_EQ(endless.size(), 32u);
    EXPECT_EQ(endless[0], Json({{"pid", 100}, {"path", nullptr}}));
    EXPECT_EQ(endless[31], Json({{"pid", 131}, {"path", "/bin/p131"}}));

    Json toTheTop = senderChainOf(3, named, [](std::int32_t pid) { return std::optional(pid - 1); });
    EXPECT_EQ(toTheTop.size(), 3u) << "pids 3, 2, 1; the parent of 1 is 0";

    Json unknown = senderChainOf(9, named, [](std::int32_t pid) {
        return pid == 9 ? std::optional<std::int32_t>(5) : std::nullopt;
    });
    EXPECT_EQ(unknown, Json::array({{{"pid", 9}, {"path", "/bin/p9"}}, {{"pid", 5}, {"path", "/bin/p5"}}}));
}

TEST(Sender, TheRealChainWalksThisProcessAndItsParents) {
    const std::int32_t self = platform::ownPid();
    const std::string executablePath = fs::canonical("/proc/self/exe").string();
    Json found = sender(platform::CurrentEvent{self, std::nullopt});
    EXPECT_EQ(found["pid"], self);
    EXPECT_EQ(found["path"], executablePath);
    const Json& chain = found["chain"];
    ASSERT_GE(chain.size(), 2u);
    EXPECT_LE(chain.size(), SENDER_CHAIN_LIMIT);
    EXPECT_EQ(chain[0], Json({{"pid", self}, {"path", executablePath}}));
    EXPECT_EQ(chain[1]["pid"], platform::parentPid());
    for (const Json& entry : chain) EXPECT_GE(entry["pid"].get<int>(), 1);
    EXPECT_FALSE(platform::executablePathOf(0));
    EXPECT_FALSE(platform::parentPidOf(-1));
}

TEST(URLComponents, SchemesAndFilePaths) {
    EXPECT_EQ(schemeOf("Demo+X.1-y://Open"), "demo+x.1-y");
    EXPECT_EQ(schemeOf("demo:open"), "demo");
    EXPECT_FALSE(schemeOf("no scheme here"));
    EXPECT_FALSE(schemeOf("1demo://x"));
    EXPECT_FALSE(schemeOf(std::string("demo://a\0b", 10))) << "a NUL would cut the URL short";
    EXPECT_EQ(schemeOf("demo://open/%FF%00"), "demo") << "escapes are kept as written, not decoded";

    EXPECT_EQ(pathOfFileURL("file:///tmp/a%20b/%C3%A9.txt"), "/tmp/a b/é.txt");
    EXPECT_EQ(pathOfFileURL("FILE://localhost/tmp/x"), "/tmp/x");
    EXPECT_EQ(pathOfFileURL("file:///tmp/%FF"), "/tmp/\xff") << "a file name need not be UTF-8";
    EXPECT_FALSE(pathOfFileURL("https://example.com/tmp/x"));
    EXPECT_FALSE(pathOfFileURL("/tmp/x"));
}

TEST(URLComponents, QueryItemsAreEncodedAndReplaceTheWholeQuery) {
    EXPECT_EQ(percentEncodedQueryValue("/a b&c=d+e#f?g:@é%~"), "/a%20b%26c%3Dd%2Be%23f?g:@%C3%A9%25~");
    EXPECT_EQ(percentEncodedQueryValue(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(withTheOnlyQueryItem("demo://h/p", "path", "/x"), "demo://h/p?path=/x");
    EXPECT_EQ(withTheOnlyQueryItem("Demo://u@h:8/p?a=1&b=2#f?g", "path", "/x y"), "Demo://u@h:8/p?path=/x%20y#f?g");
    EXPECT_EQ(withTheOnlyQueryItem("demo:open#?", "path", "/x"), "demo:open?path=/x#?");
    EXPECT_FALSE(withTheOnlyQueryItem("nothing", "path", "/x"));
    EXPECT_EQ(urlOfHostAndQueryItem("beta", "open files/now", "path", "/x y"), "beta://open%20files%2Fnow?path=/x%20y");
}

TEST(URLComponents, LinkTextIsTrimmedOfUnicodeSpaceAndMustBeUTF8) {
    EXPECT_EQ(trimmedUTF8Text("\t\n\r\v\f demo://a b \u0085\u00a0"), "demo://a b");
    EXPECT_EQ(trimmedUTF8Text(" \n "), "");
    EXPECT_EQ(trimmedUTF8Text("é"), "é");
    EXPECT_FALSE(trimmedUTF8Text("demo://\xc3"));
}

TEST(DisplayChange, TheURLIsAStringOfOneOfTheHostsSchemes) {
    const std::set<std::string> schemes = {"demo"};
    EXPECT_EQ(displayChangeURLOf({{"WickerlyDisplayChangeURL", "Demo://displays/changed"}}, schemes),
              "Demo://displays/changed");
    EXPECT_FALSE(displayChangeURLOf({{"WickerlyDisplayChangeURL", "https://example.com/"}}, schemes));
    EXPECT_FALSE(displayChangeURLOf({{"WickerlyDisplayChangeURL", "displays changed"}}, schemes));
    EXPECT_FALSE(displayChangeURLOf({{"WickerlyDisplayChangeURL", Json::array({"demo://x"})}}, schemes));
    EXPECT_FALSE(displayChangeURLOf(Json::object(), schemes));
    EXPECT_FALSE(displayChangeURLOf({{"WickerlyDisplayChangeURL", "demo://x"}}, {}));
}

}  // namespace
