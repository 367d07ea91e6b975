// The control socket's requests, answered inside one process without a shell: which request a
// line is, the exact replies, the URL checks and the title check before a row is picked.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "control-socket/host-requests.h"
#include "links/url-intake.h"
#include "menu-bar-app-menu/menu-lifecycle.h"
#include "running-host.h"

using namespace host;
using testing_support::recordsOf;
using testing_support::TemporaryFolder;

namespace {

namespace fs = std::filesystem;

const Json rows = Json::parse(R"([
    {"id": "hello", "title": "Say hello", "enabled": true},
    {"id": "line", "kind": "separator"},
    {"id": "untitled", "enabled": true},
    {"id": "twice", "kind": "separator", "title": "Hidden"},
    {"id": "twice", "title": "Second"}
])");

class HostRequests : public ::testing::Test {
protected:
    void SetUp() override {
        configureTheDeathLog(std::nullopt, folder.path());
        configureTheHostRequests({{"demo", "other"}, 32768});
        IntakeSettings intake;
        intake.identity = "app.example.demo";
        intake.schemes = {"demo", "other"};
        intake.opensLog = opensLog();
        configureTheURLIntake(intake);
        makeTheMenuOwner({true, true, false, "app.example.demo", menuFile(), nullptr, nullptr});
    }

    fs::path menuFile() const { return folder.path() / "menu.json"; }
    fs::path opensLog() const { return folder.path() / "opens.jsonl"; }
    // The URLs handed to the intake, in order.
    std::vector<std::string> urlsTakenIn() const {
        std::vector<std::string> urls;
        for (const Json& record : recordsOf(opensLog())) urls.push_back(record.value("url", ""));
        return urls;
    }
    void drawWithThePublication() { drawTheChildsMenu(*flatObjectsOf(rows), false, sortedJson(rows)); }

    TemporaryFolder folder;
};

// The reply as an object, to compare whatever order its keys were written in.
Json answer(std::string_view line) { return Json::parse(replyTo(line).line); }
Json ask(const Json& request) { return answer(request.dump()); }
Json urlRequest(const std::string& url) { return {{"url", url}}; }
Json refused(const std::string& url) { return {{"error", "url-scheme-not-mine"}, {"url", url}}; }
Json delivered(const std::string& url) { return {{"delivered", url}, {"shell", nullptr}}; }
Json rowChanged(const std::string& id, const Json& title) {
    return {{"error", "invoke-row-changed"}, {"id", id}, {"title", title}};
}

TEST_F(HostRequests, LinesThatAreNotJSONObjectsAreNotJSON) {
    for (const char* line : {"", " ", "hello", "[1, 2]", "[]", "42", "\"refresh\"", "null", "true",
                             R"({"refresh": true)", R"({"refresh": true} {})", "{\"url\": \"demo://a\xff\"}"}) {
        EXPECT_EQ(answer(line), Json({{"error", "not-json"}})) << line;
    }
    const std::string deep = std::string(200000, '[') + std::string(200000, ']');
    EXPECT_EQ(answer(R"({"url": "demo://deep", "x": )" + deep + "}"), Json({{"error", "not-json"}}));
    EXPECT_TRUE(urlsTakenIn().empty());
}

TEST_F(HostRequests, ObjectsWithoutARequestOfTheRightTypeAreUnknown) {
    drawWithThePublication();
    for (const Json& request : {Json::object(), Json{{"url", 5}}, Json{{"refresh", false}}, Json{{"refresh", "true"}},
                                Json{{"refresh", 1}}, Json{{"invoke", 7}, {"title", "Say hello"}},
                                Json{{"title", "Say hello"}}, Json{{"URL", "demo://a"}}, Json{{"url", nullptr}}}) {
        EXPECT_EQ(ask(request), Json({{"error", "unknown-request"}})) << request;
    }
    EXPECT_TRUE(urlsTakenIn().empty());
}

TEST_F(HostRequests, ARefreshRewritesThePublicationOnlyOnceTheMenuWasDrawn) {
    EXPECT_EQ(ask({{"refresh", true}}), Json({{"refreshed", false}}));
    EXPECT_FALSE(fs::exists(menuFile())) << "nothing is published before the first draw";

    drawWithThePublication();
    ASSERT_TRUE(fs::exists(menuFile()));
    fs::remove(menuFile());
    EXPECT_EQ(ask({{"refresh", true}}), Json({{"refreshed", true}}));
    ASSERT_TRUE(fs::exists(menuFile()));
    EXPECT_EQ(Json::parse(testing_support::readText(menuFile())), rows);

    drawTheChildsMenu(*flatObjectsOf(rows), false, std::nullopt);
    EXPECT_EQ(ask({{"refresh", true}}), Json({{"refreshed", false}})) << "a draw without a publication";
}

TEST_F(HostRequests, TheFirstRequestInTheFixedOrderDecides) {
    drawWithThePublication();
    EXPECT_EQ(ask({{"refresh", true}, {"url", "demo://ignored"}, {"invoke", "hello"}}), Json({{"refreshed", true}}));
    EXPECT_EQ(ask({{"refresh", false}, {"url", "demo://taken"}}), delivered("demo://taken"));
    EXPECT_EQ(ask({{"url", "demo://first"}, {"invoke", "hello"}, {"title", "Say hello"}}), delivered("demo://first"));
    EXPECT_EQ(ask({{"url", 3}, {"invoke", "nothing"}}), rowChanged("nothing", nullptr));
    EXPECT_EQ(urlsTakenIn(), (std::vector<std::string>{"demo://taken", "demo://first"}));
}

TEST_F(HostRequests, URLsOfTheHostsSchemesAreTakenInUnchanged) {
    EXPECT_EQ(ask(urlRequest("DeMo://Open/Item?Q=1")), delivered("DeMo://Open/Item?Q=1"));
    EXPECT_EQ(ask(urlRequest("other:thing")), delivered("other:thing"));
    const std::string longest = "demo://x/" + std::string(32768 - 9, 'a');
    ASSERT_EQ(longest.size(), 32768u);
    EXPECT_EQ(ask(urlRequest(longest)), delivered(longest));
    EXPECT_EQ(urlsTakenIn(), (std::vector<std::string>{"DeMo://Open/Item?Q=1", "other:thing", longest}));
}

TEST_F(HostRequests, OtherURLsAreRefusedAndNeverTakenIn) {
    const std::string tooLong = "demo://x/" + std::string(32768 - 8, 'a');
    for (const std::string& url : {tooLong, std::string("https://example.com/"), std::string("open/thing"),
                                   std::string(""), std::string("://nothing"), std::string("demos://a"),
                                   std::string("demo://a\0evil", 12)}) {
        EXPECT_EQ(ask(urlRequest(url)), refused(url)) << url;
    }
    EXPECT_TRUE(urlsTakenIn().empty());
}

TEST_F(HostRequests, AnInvokeNeedsTheRowsCurrentTitle) {
    EXPECT_EQ(ask({{"invoke", "hello"}, {"title", "Say hello"}}), rowChanged("hello", nullptr)) << "nothing drawn yet";
    drawWithThePublication();
    EXPECT_EQ(ask({{"invoke", "hello"}}), rowChanged("hello", "Say hello"));
    EXPECT_EQ(ask({{"invoke", "hello"}, {"title", "Say Hello"}}), rowChanged("hello", "Say hello"));
    EXPECT_EQ(ask({{"invoke", "hello"}, {"title", 1}}), rowChanged("hello", "Say hello"));
    EXPECT_EQ(ask({{"invoke", "missing"}, {"title", "Say hello"}}), rowChanged("missing", nullptr));
    EXPECT_EQ(ask({{"invoke", "line"}, {"title", ""}}), rowChanged("line", nullptr)) << "only a separator has it";
    EXPECT_EQ(ask({{"invoke", "untitled"}, {"title", ""}}), rowChanged("untitled", nullptr));
    EXPECT_EQ(ask({{"invoke", "twice"}, {"title", "Hidden"}}), rowChanged("twice", "Second"));
}

TEST_F(HostRequests, AMatchingInvokeWithoutAShellIsNotSent) {
    drawWithThePublication();
    EXPECT_EQ(ask({{"invoke", "hello"}, {"title", "Say hello"}}),
              Json({{"error", "shell-not-listening"}, {"id", "hello"}}));
    EXPECT_EQ(ask({{"invoke", "twice"}, {"title", "Second"}}), Json({{"error", "shell-not-listening"}, {"id", "twice"}}));
}

}  // namespace
