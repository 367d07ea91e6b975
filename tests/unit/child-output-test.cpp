#include "child/child-output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/descriptors.h"

namespace host {
namespace {

using Calls = std::vector<std::string>;
constexpr RecognisedMessages everything{true, true, true};
const std::string passes = "passes through";

std::string text(const Json& value) { return value.dump(); }
std::string text(const std::string& value) { return value; }
std::string text(bool value) { return std::to_string(value); }
std::string text(std::int32_t value) { return std::to_string(value); }
std::string text(const Badge& badge) { return std::to_string(badge.pid) + " " + badge.text; }
// Rows read flat, written as the tree they stand for.
std::string text(const FlatObjects& rows) {
    Json array = Json::array();
    for (const FlatObject& row : rows) {
        Json object = row.whole() ? *row.whole() : Json::object();
        for (const auto& member : row.members()) object[member.name] = member.isBoolean ? Json(member.flag) : Json(member.text);
        array.push_back(std::move(object));
    }
    return array.dump();
}
std::string text(const std::set<std::string>& names) {
    std::string all;
    for (const auto& name : names) all += name + ",";
    return all;
}
template <typename T>
std::string text(const std::optional<T>& value) { return value ? text(*value) : "none"; }

// Handlers that note each call as one readable line: its name, then its values.
std::shared_ptr<MessageHandlers> noting(Calls& calls) {
    auto note = [&calls](std::string name) {
        return [&calls, name](const auto&... values) { calls.push_back((name + ... + (" " + text(values)))); };
    };
    return std::make_shared<MessageHandlers>(MessageHandlers{
        .setupQuitSenders = note("senders"), .setupQuitSettled = note("settled"), .panel = note("panel"),
        .hotKeys = note("hotkeys"), .watchApps = note("watch apps"), .menuUnavailable = note("unavailable"),
        .menu = note("menu"), .menuBranch = note("branch"), .popUp = note("pop up"), .badge = note("badge"),
        .focusReplies = note("focus replies"), .urlReply = note("reply"), .urlRepliesAnnounced = nullptr});
}

// What one line makes the host do: the one handler call and how it is delivered, or that it
// passes through.
std::string outcome(std::string_view line, RecognisedMessages recognised = everything) {
    Calls calls;
    auto dispatch = dispatchOf(line, recognised, *noting(calls));
    if (!dispatch) return passes;
    dispatch->action();
    return (calls.size() == 1 ? calls[0] : "calls: " + std::to_string(calls.size())) +
           (dispatch->currentShellOnly ? " [current]" : "") + (dispatch->menuMessage ? " [menu]" : "");
}

void expectOutcomes(std::initializer_list<std::pair<std::string_view, std::string>> cases) {
    for (const auto& [line, expected] : cases) EXPECT_EQ(outcome(line), expected) << line;
}

// Each message with its values and delivery, recognised when the flag it needs is on, and then only.
TEST(DispatchOf, RecognisesEachMessageWithItsValuesDeliveryAndFlag) {
    enum Needs { always = -1, panelFlag, hotKeysFlag, menuFlag };
    const std::tuple<Needs, const char*, const char*> cases[] = {
        {always, R"({"setupQuitSenders":["b","a","b"]})", "senders a,b, [current]"},
        {always, R"({"setupQuit":"settled","restarting":true})", "settled 1 [current]"},
        {always, R"({"setupQuit":"settled","restarting":"yes"})", "settled 0 [current]"},
        {panelFlag, R"({"panel":{"a":1}})", R"(panel {"a":1})"},
        {hotKeysFlag, R"({"hotkeys":[{"k":1}]})", R"(hotkeys [{"k":1}])"},
        {always, R"({"watch":"apps"})", "watch apps"},
        {menuFlag, R"({"menuUnavailable":"later"})", "unavailable later [current]"},
        {menuFlag, R"({"menu":[{"t":1}],"submenuUpdates":true,"publication":[{}]})",
         R"(menu [{"t":1}] 1 [{}] [current] [menu])"},
        {menuFlag, R"({"menu":[],"submenuUpdates":1,"publication":[1]})", "menu [] 0 none [current] [menu]"},
        {menuFlag, R"({"menuBranch":{"id":"files","rows":[{}]}})", "branch files [{}] [current] [menu]"},
        {menuFlag, R"({"popUp":true})", "pop up [current] [menu]"},
        {menuFlag, R"({"badge":{"pid":42,"text":"Saved"}})", "badge 42 Saved"},
        {always, R"({"focus":"replies"})", "focus replies"},
        {always, R"({"url":"x","result":[1],"focus":"panel","panel":77})", "reply x panel 77"},
        {always, R"({"url":"x","error":null,"focus":3})", "reply x none none"},  // presence alone marks a reply
        {always, " \t{\"watch\":\"apps\"}\r", "watch apps"},
    };
    for (int flag : {always, panelFlag, hotKeysFlag, menuFlag}) {
        const RecognisedMessages only{flag == panelFlag, flag == hotKeysFlag, flag == menuFlag};
        for (auto [needs, line, expected] : cases)
            EXPECT_EQ(outcome(line, only), needs == always || needs == flag ? expected : passes) << line << " " << flag;
        EXPECT_EQ(outcome(R"({"panel":{},"url":"u","result":1})", only),
                  flag == panelFlag ? "panel {}" : "reply u none none") << "a rule that is off leaves it to later ones";
    }
}

TEST(DispatchOf, AnythingButAnExactMessagePassesThrough) {
    for (const char* line :
         {R"({"watch":"apps","x":1})", R"({"watch":"other"})", R"({"popUp":true,"x":1})", R"({"popUp":false})",
          R"({"popUp":1})", R"({"focus":"replies","x":1})", R"({"setupQuit":"other"})", R"({"url":"x"})",
          R"({"url":1,"result":1})", R"({"menuBranch":{"id":"a","rows":{}}})", R"({"badge":{"pid":0}})", "", "   ",
          "hello", "[{\"watch\":\"apps\"}]", "\"x\"", "12", "null", "{bad", "{\"watch\":\"apps\"} trailing",
          "x{\"watch\":\"apps\"}", "{\"watch\":\"\xff\"}", R"({"x":{"watch":"apps"}})", R"([{"x":1},{"watch":"apps"}])",
          R"({"x":"\",\"watch\":\"apps"})", "{\"watch\\", R"({"w\u0061tch":"apps\"})"}) {
        EXPECT_EQ(outcome(line), passes) << line;
    }
}

// Only the message's own keys count, however they are spelt; quotes inside strings do not end them.
TEST(DispatchOf, ARuleKeyCountsAmongTheTopLevelMembersOnly) {
    expectOutcomes({
        {R"({"x":{"url":1},"w\u0061tch":"apps"})", passes},  // a second member
        {R"({"w\u0061tch":"apps"})", "watch apps"},
        {R"({"menuUnavailable":"a\"b\\"})", "unavailable a\"b\\ [current]"},
        {R"({"menuUnavailable":"{\"x\":["})", "unavailable {\"x\":[ [current]"},
        {R"({"x\\":1,"url":"u","result":[{"url":2}]})", "reply u none none"},
        // Names found from the colons that follow them.
        {"{\"url\" \t: \"u\" , \"result\" : 1}", "reply u none none"},
        {R"({"xurl":1,"url_":2,"note":"url:","setupQuitSendersX":1})", passes},
        {R"({"x":1,"setupQuitSenders":["a"]})", "senders a, [current]"},
    });
}

TEST(DispatchOf, ReplyPanelIsAnIntegerThatFitsAProcessId) {
    for (std::string panel : {"2147483647", "-2147483648"})
        EXPECT_EQ(outcome(R"({"url":"u","result":0,"panel":)" + panel + "}", {}), "reply u none " + panel);
    for (std::string panel : {"1099511627776", "2147483648", "-2147483649", "12.0", "12.5", "true", "\"12\"", "{}"})
        EXPECT_EQ(outcome(R"({"url":"u","result":0,"panel":)" + panel + "}", {}), "reply u none none") << panel;
}

// The first matching rule wins; a key of the wrong type leaves the line to later rules.
TEST(DispatchOf, RulesAreTriedInOrder) {
    expectOutcomes({
        {R"({"setupQuitSenders":["a"],"setupQuit":"settled"})", "senders a, [current]"},
        {R"({"setupQuit":"settled","panel":{}})", "settled 0 [current]"},
        {R"({"panel":{},"hotkeys":[],"url":"u","result":1})", "panel {}"},
        {R"({"menuUnavailable":"x","menu":[]})", "unavailable x [current]"},
        {R"({"menu":[],"menuBranch":{"id":"a","rows":[]},"badge":{"pid":1}})", "menu [] 0 none [current] [menu]"},
        {R"({"badge":{"pid":3},"url":"u","result":1})", "badge 3 "},

        {R"({"setupQuitSenders":["a",1],"setupQuit":"settled"})", "settled 0 [current]"},
        {R"({"setupQuit":true,"hotkeys":[{}]})", "hotkeys [{}]"},
        {R"({"panel":3,"url":"u","result":1})", "reply u none 3"},
        {R"({"hotkeys":[1],"menuUnavailable":"x"})", "unavailable x [current]"},
        {R"({"menuUnavailable":1,"menu":[{}]})", "menu [{}] 0 none [current] [menu]"},
        {R"({"menu":[1],"menuBranch":{"id":"a","rows":[]}})", "branch a [] [current] [menu]"},
        {R"({"menuBranch":{"id":1,"rows":[]},"badge":{"pid":9}})", "badge 9 "},
        {R"({"badge":"x","url":"u","error":"e"})", "reply u none none"},
    });
}

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

// Too deep a value is refused before it is built, so its line passes through like any line that
// is no message; brackets inside strings do not count.
TEST(DispatchOf, ValuesNestedPastTheLimitPassThrough) {
    const std::string text = std::string(600, '[') + "\\\"" + std::string(600, '{');
    expectOutcomes({
        {R"({"menu":[{"title":)" + nested(200000) + "}]}", passes},
        {R"({"menu":[{"title":)" + nested(JSON_NESTING_LIMIT - 2) + "}]}", passes},
        {R"({"menu":[{"title":)" + nested(JSON_NESTING_LIMIT - 3) + "}]}", "menu [{\"title\":" +
                                                                            nested(JSON_NESTING_LIMIT - 3) + "}] 0 none [current] [menu]"},
        {R"({"menuUnavailable":")" + text + "\"}", "unavailable " + std::string(600, '[') + "\"" +
                                                      std::string(600, '{') + " [current]"},
    });
}

// A ChildOutput whose posts wait for run(), for a shell that is current while `current` holds.
struct Output {
    Calls calls;
    std::vector<std::function<void()>> posted;
    bool current = true;
    std::string passed;
    ChildOutput output{everything, noting(calls), [this] { return current; },
                       [this](std::function<void()> action) { posted.push_back(std::move(action)); }};

    Calls run() {
        for (auto& action : std::exchange(posted, {})) action();
        return std::exchange(calls, {});
    }
};

// The passed-through text, the calls and what is left pending, of a stream read in pieces of
// `size` bytes after a first piece of `cut` bytes.
std::string framed(std::string_view stream, std::size_t cut, std::size_t size) {
    Output shell;
    shell.output.take(stream.substr(0, cut), &shell.passed);
    for (std::size_t at = cut; at < stream.size(); at += size)
        shell.output.take(stream.substr(at, size), &shell.passed);
    for (const auto& call : shell.run()) shell.passed += "| " + call;
    return shell.passed + "| pending " + shell.output.pending();
}

TEST(ChildOutput, PassesOtherLinesByteForByteAndFramesAlikeHoweverReadsAreCut) {
    const std::string others = std::string("\n\r\nplain text \r\n[1,2]\n{\"a\":\"\xc3\x28\"}\n\xff\xfe\n") +
                               "  {\"unknown\":1}\n{\"watch\":\"apps\",\"x\":1}\n" + std::string("nul\0byte\n", 9);
    const std::string stream =
        "a\n{\"menuUnavailable\":\"x\"}\n" + others + "{\"popUp\":true}\nb\n{\"url\":\"u\",\"result\":1}\nc";
    const std::string whole = "a\n" + others + "b\n| unavailable x| pop up| reply u none none| pending c";
    EXPECT_EQ(framed(stream, 0, 1), whole);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        EXPECT_EQ(framed(stream, cut, stream.size()), whole) << "cut at " << cut;
        EXPECT_EQ(framed(stream, cut, 7), whole) << "cut at " << cut << " then every 7 bytes";
    }
}

// A line too long to be a message goes out as it comes, unchanged; what is held stays bounded.
TEST(ChildOutput, ALineTooLongForAMessagePassesThroughBeforeItsEnd) {
    const std::string longLine = "{\"watch\":\"apps\",\"x\":\"" + std::string(LONGEST_CHILD_MESSAGE + 200000, 'x') + "\"}\n";
    const std::string stream = "{\"popUp\":true}\n" + longLine + "{\"focus\":\"replies\"}\nrest";
    Output shell;
    std::size_t mostPending = 0;
    for (std::size_t at = 0; at < stream.size(); at += 65536) {
        shell.output.take(std::string_view(stream).substr(at, 65536), &shell.passed);
        mostPending = std::max(mostPending, shell.output.pending().size());
    }
    EXPECT_LE(mostPending, LONGEST_CHILD_MESSAGE);
    EXPECT_TRUE(shell.passed == longLine) << "passed " << shell.passed.size() << " bytes";
    EXPECT_EQ(shell.run(), (Calls{"pop up", "focus replies"}));
    EXPECT_EQ(shell.output.pending(), "rest");
}

// Reads are first checked whole for a key: a message is found wherever its key falls in one.
TEST(ChildOutput, AMessageAmongOtherLinesIsFoundWhereverItsKeyFallsInTheRead) {
    const std::string messages[] = {"{\"watch\" : \"apps\"}\n", "{\"w\\u0061tch\":\"apps\"}\n"};
    for (const std::string& message : messages) {
        for (std::size_t padding = 0; padding < 40; ++padding) {
            const std::string before = "first\n{\"event\":\"" + std::string(padding, 'x') + "\",\"note\":1}\n";
            for (const std::string after : {"{\"n\":2,\"setupQuitSendersX\":3}\nplain: text\n", ""}) {
                Output shell;
                shell.output.take(before + message + after, &shell.passed);
                EXPECT_EQ(shell.passed, before + after) << message << " after " << padding;
                EXPECT_EQ(shell.run(), Calls{"watch apps"}) << message << " after " << padding;
            }
        }
    }
}

TEST(ChildOutput, SwappedOutShellKeepsOnlyMessagesForAnyShell) {
    Output shell;
    shell.output.take("{\"menu\":[]}\n{\"badge\":{\"pid\":5}}\n{\"setupQuit\":\"settled\"}\n"
                      "{\"menuBranch\":{\"id\":\"a\",\"rows\":[]}}\n{\"url\":\"u\",\"error\":0}\n",
                      &shell.passed);
    shell.current = false;
    EXPECT_EQ(shell.run(), (Calls{"badge 5 ", "reply u none none"}));
    // Whether the shell is current is asked when the message is acted on, not when it is read.
    shell.output.take("{\"popUp\":true}\n", &shell.passed);
    shell.current = true;
    EXPECT_EQ(shell.run(), Calls{"pop up"});
}

TEST(ChildOutput, TheMessagesOfOneReadArePostedTogetherInOrder) {
    Output shell;
    shell.output.take("{\"watch\":\"apps\"}\nx\n{\"popUp\":true}\n{\"focus\":\"replies\"}\n{\"popUp\":", &shell.passed);
    EXPECT_EQ(shell.posted.size(), 1u);
    shell.output.take("true}\n", &shell.passed);
    EXPECT_EQ(shell.posted.size(), 2u);
    EXPECT_EQ(shell.run(), (Calls{"watch apps", "pop up", "focus replies", "pop up"}));
}

// Replies before any shell announced them are dropped where they are read, and never pass through.
TEST(ChildOutput, URLRepliesCountOnceAShellAnnouncedThem) {
    Output shell;
    auto handlers = noting(shell.calls);
    handlers->urlRepliesAnnounced = std::make_shared<std::atomic<bool>>(false);
    ChildOutput output(everything, handlers, nullptr, [&shell](auto action) { shell.posted.push_back(std::move(action)); });
    output.take("{\"url\":\"a\",\"result\":1}\n{\"focus\":\"replies\"}\n{\"url\":\"b\",\"result\":1}\n", &shell.passed);
    EXPECT_EQ(shell.run(), (Calls{"focus replies", "reply b none none"}));
    EXPECT_EQ(shell.passed, "");
    EXPECT_TRUE(*handlers->urlRepliesAnnounced);
}

TEST(ChildOutput, RecognisedMessageWithoutHandlerIsDroppedNotPassedThrough) {
    int posts = 0;
    ChildOutput output(everything, std::make_shared<MessageHandlers>(), nullptr, [&posts](auto) { ++posts; });
    std::string passed;
    output.take("{\"menu\":[]}\n{\"watch\":\"apps\"}\nkept\n", &passed);
    EXPECT_EQ(passed + std::to_string(posts), "kept\n0");
}

// Two shells' readers share the host's pipe. Their lines are longer than a pipe writes
// atomically and enough to fill it; one shell also sends messages and ends on an unfinished line.
TEST(ChildOutputReader, PassesWholeLinesThroughAndPostsUntilEndOfFile) {
    std::signal(SIGPIPE, SIG_IGN);
    int fds[6];  // two shells' outputs, then the host's
    for (int at : {0, 2, 4}) ASSERT_EQ(::pipe2(fds + at, O_CLOEXEC), 0);
    // Only the first shell's reader acts, at once; it keeps `calls` alive until it finishes.
    auto calls = std::make_shared<Calls>();
    auto finished = std::make_shared<std::atomic<int>>(0);
    for (int shell : {0, 1}) {
        auto output = std::make_unique<ChildOutput>(everything, shell == 0 ? noting(*calls) : nullptr, nullptr,
                                                    [](std::function<void()> action) { action(); });
        listenOnItsOwnThread(fds[2 * shell], std::move(output), fds[5], [finished, calls] { ++*finished; });
    }
    const std::string a = std::string(2999, 'a') + "\n", b = std::string(2999, 'b') + "\n";
    constexpr std::size_t linesEach = 200;
    std::thread shells([&] {
        platform::writeAll(fds[1], "{\"watch\":\"apps\"}\n");
        for (std::size_t line = 0; line < linesEach; ++line)
            platform::writeAll(fds[1], a), platform::writeAll(fds[3], b);
        platform::writeAll(fds[1], "{\"focus\":\"replies\"}\nunfinished");
        ::close(fds[1]);
        ::close(fds[3]);
    });
    // The host's side reads for as long as the readers write, however much they write, within a
    // safety bound; a reader stalled past it drops its output once the pipe is gone.
    std::string passed;
    char buffer[65536];
    auto take = [&](int wait) {
        pollfd readable{fds[4], POLLIN, 0};
        ssize_t count = ::poll(&readable, 1, wait) > 0 ? ::read(fds[4], buffer, sizeof buffer) : 0;
        if (count > 0) passed.append(buffer, static_cast<std::size_t>(count));
        return count > 0;
    };
    for (auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         *finished < 2 && std::chrono::steady_clock::now() < giveUp;)
        take(1);
    if (*finished < 2) ::close(std::exchange(fds[4], -1));
    shells.join();
    ASSERT_EQ(*finished, 2) << "a reader did not finish";
    ::close(fds[5]);
    while (take(0)) continue;
    ::close(fds[4]);

    ASSERT_EQ(passed.size(), 2 * linesEach * a.size());
    for (std::size_t at = 0; at < passed.size(); at += a.size())
        ASSERT_TRUE(passed.compare(at, a.size(), a) == 0 || passed.compare(at, b.size(), b) == 0) << "at " << at;
    EXPECT_EQ(std::ranges::count(passed, 'a'), linesEach * 2999);
    EXPECT_EQ(*calls, (Calls{"watch apps", "focus replies"}));
}

}  // namespace
}  // namespace host
