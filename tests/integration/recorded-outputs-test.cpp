// The same inputs give the same files and answers, byte for byte: a hosted host is taken through
// menus, the shell's other lines, socket requests, URL deliveries, a swap, a reopen and its end,
// and its death log, link log, menu file, socket replies and both outputs are compared with
// recordings (times, pids, durations and the temporary folder normalised).
// HOST_RECORD_OUTPUTS=1 writes the recordings instead of comparing.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <map>
#include <regex>

#include "running-host.h"
#include "socket-client.h"

using namespace testing_support;

namespace {

const fs::path recordings = fs::path(SOURCE_ROOT) / "tests" / "integration" / "recorded-outputs";

// The shell prints what it says to the host, numbered by its run, then reads its input (or not).
std::string shellScript(const fs::path& root, const std::string& reader) {
    const std::string rows =
        R"([{"kind":"header","title":"Run %s"},{"id":"hello","title":"Say hello","enabled":true,"key":"⌘H"},)"
        R"({"id":"more","title":"More","submenu":true,"enabled":true},{"id":"deep","title":"Deep %s","parent":"more","enabled":true},)"
        R"({"id":"line","kind":"separator"},{"id":"off","title":"Off","enabled":false,"symbol":"star"}])";
    // A long message, with what the reading's writing of the publication must get
    // right: order of keys, duplicates, escapes, unicode, numbers, nesting, rows of every kind.
    const std::string trickyRows =
        R"([{"id":"uni","title":"Caf\u00e9 \u2318 日本語 😀","enabled":true,"key":"⌘⇧U","symbol":"star.fill"},)"
        R"({"id":"esc","title":"quote \" back \\ slash \/ tab\t nl\n ctl\u0001","enabled":true},)"
        R"({"id":"sub2","title":"Sub two","submenu":true,"enabled":true},{"id":"sub2a","title":"Inner A","parent":"sub2","enabled":true},)"
        R"({"id":"sub3","title":"Sub three","parent":"sub2","submenu":true,"enabled":true},)"
        R"({"id":"sub3a","title":"Innermost","parent":"sub3","enabled":false},{"id":"sep2","kind":"separator","title":"ignored"},)"
        R"({"id":"hidden","title":"Hidden","hidden":true,"enabled":true},{"id":"dis","title":"Disabled","enabled":false,"symbol":"trash"},)"
        R"({"id":"data","title":"Data row","data":true,"row":"r-1","enabled":true},{"id":"rowid","title":"Row id","row":"r-2","enabled":true},)"
        R"({"id":"dup","title":"First","title":"Second","enabled":true},{"id":"num","title":"Numbers","enabled":1,"submenu":0},)"
        R"({"id":7,"title":"Numeric id","enabled":true},{"title":"No id","enabled":true},)"
        R"({"enabled":true,"title":"A row whose members come in no order at all","id":"unordered","parent":"sub2"}])";
    const std::string trickyPublication =
        R"([{"zeta":1,"alpha":2.0,"mid":[1.5,-0.0,1e300,12345678901234567890,-7,0.1],"b":true,"n":null,)"
        R"("title":"Caf\u00e9 \u2318 😀 \"q\" \\ \/ \t\u0001\u001f"},{"id":"a","id":"b","":"empty key","\u00c9":1,"E":2},)"
        R"({"nested":{"z":{"y":{"x":[{},[],{"b":[2.50,3e2]}]}}},"rows":)" + trickyRows + "}]";
    const std::string lines[] = {
        R"({"menu":)" + rows + R"(,"submenuUpdates":true,"publication":)" + rows + "}",
        R"({"menu":)" + rows.substr(0, rows.size() - 1) + "," + trickyRows.substr(1) +
            R"(,"submenuUpdates":true,"publication":)" + trickyPublication + "}",
        "plain text from run %s",
        R"({"event":"tick","n":%s})",
        R"({"url":"demo://reply/%s"})",
        R"({"url":"demo://reply/%s","result":"ok","focus":"none"})",
        R"({"\u0075rl":"demo://escaped/%s","error":null})",
        R"({"watch":"apps","x":%s})",
        R"({"nested":{"menu":[],"url":"demo://nested/%s","result":1}})",
        "[%s,2,3]",
        R"({"url":"demo://broken/%s","result":1)",
        R"({"menu":"run %s","z":1})",
        R"({"menuBranch":{"id":"more","rows":[{"id":"late","title":"Late %s","parent":"more","enabled":true}]}})",
        R"({"popUp":true})",
        R"({"focus":"replies"})",
        "last line of run %s",
    };
    std::string script = "n=$(( $(cat '" + (root / "runs").string() + "' 2>/dev/null || echo 0) + 1 ))\n"
                         "echo $n > '" + (root / "runs").string() + "'\n";
    for (const std::string& line : lines) {
        std::string format = line, arguments;
        for (std::size_t at = 0; (at = format.find("%s", at)) != std::string::npos; at += 2) arguments += " \"$n\"";
        std::string escaped;  // for printf's format inside single quotes
        for (char c : format) escaped += c == '\'' ? std::string("'\\''") : c == '\\' ? std::string("\\\\") : std::string(1, c);
        script += "printf '" + escaped + "\\n'" + arguments + "\n";
    }
    return script + "exec " + reader + "\n";
}

// Times, pids and durations vary from run to run; the host's pid and each shell's (in the order
// they first appear) get names.
class Normaliser {
public:
    Normaliser(const fs::path& root, pid_t host) : root_(root.string()), host_(std::to_string(host)) {}

    std::string operator()(std::string text) {
        for (std::size_t at = 0; (at = text.find(root_, at)) != std::string::npos;) text.replace(at, root_.size(), "<root>");
        text = std::regex_replace(text, std::regex(R"("at":"[^"]*")"), R"("at":"<time>")");
        text = std::regex_replace(text, std::regex(R"("waitedMs":[0-9]+)"), R"("waitedMs":<ms>)");
        const std::regex pid(R"re("(pid|shell|launcher|from|to)":([0-9]+))re");
        std::string result;
        auto last = text.cbegin();
        for (std::sregex_iterator match(text.begin(), text.end(), pid), end; match != end; ++match) {
            result.append(last, text.cbegin() + match->position());
            result += "\"" + (*match)[1].str() + "\":" + nameOf((*match)[2].str());
            last = text.cbegin() + match->position() + match->length();
        }
        return result.append(last, text.cend());
    }

private:
    std::string nameOf(const std::string& pid) {
        if (pid == host_) return "<host>";
        auto [found, added] = shells_.emplace(pid, "<shell" + std::to_string(shells_.size() + 1) + ">");
        return found->second;
    }

    std::string root_, host_;
    std::map<std::string, std::string> shells_;
};

class RecordedOutputs : public ::testing::Test {
protected:
    void startTheHost(const std::string& reader) {
        writeShellScript(fixture, shellScript(fixture.root(), reader), {{"menu", "child"}});
        host = std::make_unique<RunningHost>(fixture, std::vector<std::string>{},
                                             std::map<std::string, std::string>{{"MENU_BAR_HOSTED", "1"}});
        ASSERT_TRUE(RunningHost::eventually([&] { return host->out().find("last line of run 1") != std::string::npos; }));
        ASSERT_TRUE(waitForRecords("reopen", 1));
        client = std::make_unique<SocketClient>(supportFolder(fixture) / "menu.sock");
        ASSERT_TRUE(client->connected());
    }
    fs::path deathLog() const { return supportFolder(fixture) / "shell.jsonl"; }
    fs::path linkLog() const { return supportFolder(fixture) / "links.jsonl"; }
    bool waitForRecords(const std::string& kind, std::size_t count) {
        return RunningHost::eventually([&] { return recordsOf(deathLog(), kind).size() >= count; });
    }
    bool waitForDeliveries(std::size_t count) {
        return RunningHost::eventually([&] { return recordsOf(linkLog()).size() >= count; });
    }
    // Sends the request lines in one write and keeps their replies.
    void ask(const std::string& lines) {
        ASSERT_TRUE(client->send(lines));
        for (auto count = std::count(lines.begin(), lines.end(), '\n'); count > 0; --count) {
            auto reply = client->line();
            ASSERT_TRUE(reply) << "no reply to " << lines;
            replies += *reply + "\n";
            lastReply = *reply;
        }
    }
    void endTheHost(int expectedStatus) {
        host->signal(SIGTERM);
        EXPECT_EQ(host->waitForTheEnd(), expectedStatus);
    }
    void compareWithTheRecordings(const std::string& scenario) {
        Normaliser normalised(fixture.root(), host->pid());
        const std::pair<std::string, std::string> outputs[] = {
            {"shell.jsonl", readText(deathLog())},   {"links.jsonl", readText(linkLog())},
            {"menu.json", readText(supportFolder(fixture) / "menu.json")}, {"replies", replies},
            {"stdout", host->out()},                  {"stderr", host->err()},
            {"received", readText(fixture.root() / "received")}};
        for (const auto& [name, text] : outputs) {
            const fs::path recording = recordings / scenario / name;
            if (std::getenv("HOST_RECORD_OUTPUTS")) {
                writeText(recording, normalised(text));
            } else {
                EXPECT_EQ(normalised(text), readText(recording)) << scenario << "/" << name;
            }
        }
    }

    BundleFixture fixture;
    std::unique_ptr<RunningHost> host;
    std::unique_ptr<SocketClient> client;
    std::string replies, lastReply;
};

TEST_F(RecordedOutputs, AReadingShellThroughRequestsASwapAndItsEnd) {
    startTheHost("cat >> received");
    host->signal(SIGUSR1);
    ASSERT_TRUE(waitForRecords("reopen", 2));
    int delivered = 0;
    for (const char* request : {R"({"refresh":true})", R"({"url":"demo://open/1"})", R"({"url":"DEMO://Open/2?x=1"})",
                                R"({"url":"other://x"})", R"({"invoke":"hello","title":"Say hello"})",
                                R"({"invoke":"hello"})", R"({"invoke":"deep","title":"Deep 1"})", "not json",
                                R"({"nothing":1})", R"({"url":5})", R"({"refresh":false,"url":"demo://open/3"})", ""}) {
        ask(std::string(request) + "\n");
        if (lastReply.starts_with("{\"delivered\"")) {
            ASSERT_TRUE(waitForDeliveries(++delivered));
        }
    }
    ask("{\"url\":\"demo://open/4\"}\n{\"url\":\"demo://open/5\"}\n{\"refresh\":true}\n");
    ASSERT_TRUE(waitForDeliveries(5));

    host->signal(SIGHUP);
    ASSERT_TRUE(waitForRecords("shell-swapped", 1));
    ASSERT_TRUE(RunningHost::eventually([&] { return host->out().find("last line of run 2") != std::string::npos; }));
    ASSERT_TRUE(waitForRecords("reopen", 3));
    ask("{\"url\":\"demo://open/6\"}\n");
    ASSERT_TRUE(waitForDeliveries(6));
    endTheHost(128 + SIGTERM);
    compareWithTheRecordings("reading-shell");
}

// URLs left unread in the pipe when the shell ends are recorded as not delivered.
TEST_F(RecordedOutputs, AShellThatNeverReadsThenEnds) {
    startTheHost("sleep 30");
    ask("{\"url\":\"demo://unread/1\"}\n{\"url\":\"demo://unread/2\"}\n");
    ask("{\"url\":\"demo://unread/3\"}\n");
    endTheHost(128 + SIGTERM);
    compareWithTheRecordings("never-reading-shell");
}

}  // namespace
