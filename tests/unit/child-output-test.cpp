#include "child/child-output.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace host {
namespace {

constexpr RecognisedMessages everything{true, true, true};
constexpr RecognisedMessages alwaysOnly{};
const std::string passes = "passes through";

std::string shown(const std::optional<Json>& value) { return value ? value->dump() : "none"; }
template <typename T>
std::string shown(const std::optional<T>& value) { return value ? std::to_string(*value) : "none"; }
std::string shown(const std::optional<std::string>& value) { return value.value_or("none"); }

// Handlers that note each call as one readable line.
std::shared_ptr<MessageHandlers> noting(std::vector<std::string>& calls) {
    auto handlers = std::make_shared<MessageHandlers>();
    auto note = [&calls](std::string call) { calls.push_back(std::move(call)); };
    handlers->setupQuitSenders = [note](std::set<std::string> senders) {
        std::string call = "senders";
        for (const auto& sender : senders) call += " " + sender;
        note(call);
    };
    handlers->setupQuitSettled = [note](bool restarting) { note("settled " + std::to_string(restarting)); };
    handlers->panel = [note](const Json& panel) { note("panel " + panel.dump()); };
    handlers->hotKeys = [note](const Json& rows) { note("hotkeys " + rows.dump()); };
    handlers->watchApps = [note] { note("watch apps"); };
    handlers->menuUnavailable = [note](const std::string& text) { note("unavailable " + text); };
    handlers->menu = [note](const Json& rows, bool submenus, std::optional<Json> publication) {
        note("menu " + rows.dump() + " " + std::to_string(submenus) + " " + shown(publication));
    };
    handlers->menuBranch = [note](const std::string& id, const Json& rows) {
        note("branch " + id + " " + rows.dump());
    };
    handlers->popUp = [note] { note("pop up"); };
    handlers->badge = [note](const Badge& badge) {
        note("badge " + std::to_string(badge.pid) + " " + badge.text);
    };
    handlers->focusReplies = [note] { note("focus replies"); };
    handlers->urlReply = [note](const std::string& url, std::optional<std::string> focus,
                                std::optional<std::int32_t> panel) {
        note("reply " + url + " " + shown(focus) + " " + shown(panel));
    };
    return handlers;
}

// What one line makes the host do: the one handler call, or that it passes through.
std::string outcome(std::string_view line, RecognisedMessages recognised = everything) {
    std::vector<std::string> calls;
    auto dispatch = dispatchOf(line, recognised, *noting(calls));
    if (!dispatch) return passes;
    dispatch->action();
    return calls.size() == 1 ? calls[0] : "calls: " + std::to_string(calls.size());
}

TEST(DispatchOf, RecognisesEachMessageWithItsValues) {
    EXPECT_EQ(outcome(R"({"setupQuitSenders":["b","a","b"]})"), "senders a b");
    EXPECT_EQ(outcome(R"({"setupQuit":"settled","restarting":true})"), "settled 1");
    EXPECT_EQ(outcome(R"({"setupQuit":"settled","restarting":"yes"})"), "settled 0");
    EXPECT_EQ(outcome(R"({"panel":{"a":1}})"), R"(panel {"a":1})");
    EXPECT_EQ(outcome(R"({"hotkeys":[{"k":1}]})"), R"(hotkeys [{"k":1}])");
    EXPECT_EQ(outcome(R"({"watch":"apps"})"), "watch apps");
    EXPECT_EQ(outcome(R"({"menuUnavailable":"later"})"), "unavailable later");
    EXPECT_EQ(outcome(R"({"menu":[{"t":1}],"submenuUpdates":true,"publication":[{}]})"),
              R"(menu [{"t":1}] 1 [{}])");
    EXPECT_EQ(outcome(R"({"menu":[],"submenuUpdates":1,"publication":[1]})"), "menu [] 0 none");
    EXPECT_EQ(outcome(R"({"menuBranch":{"id":"files","rows":[{}]}})"), "branch files [{}]");
    EXPECT_EQ(outcome(R"({"popUp":true})"), "pop up");
    EXPECT_EQ(outcome(R"({"badge":{"pid":42,"text":"Saved"}})"), "badge 42 Saved");
    EXPECT_EQ(outcome(R"({"focus":"replies"})"), "focus replies");
    EXPECT_EQ(outcome(R"({"url":"x","result":[1],"focus":"panel","panel":77})"), "reply x panel 77");
}

TEST(DispatchOf, MarksHowEachMessageIsDelivered) {
    struct Case { const char* line; bool currentShellOnly; bool menuMessage; };
    const Case cases[] = {
        {R"({"setupQuitSenders":[]})", true, false},   {R"({"setupQuit":"settled"})", true, false},
        {R"({"panel":{}})", false, false},              {R"({"hotkeys":[]})", false, false},
        {R"({"watch":"apps"})", false, false},          {R"({"menuUnavailable":""})", true, false},
        {R"({"menu":[]})", true, true},                 {R"({"menuBranch":{"id":"a","rows":[]}})", true, true},
        {R"({"popUp":true})", true, true},              {R"({"badge":{"pid":1}})", false, false},
        {R"({"focus":"replies"})", false, false},       {R"({"url":"u","error":1})", false, false},
    };
    std::vector<std::string> calls;
    for (const auto& [line, currentShellOnly, menuMessage] : cases) {
        auto dispatch = dispatchOf(line, everything, *noting(calls));
        ASSERT_TRUE(dispatch) << line;
        EXPECT_EQ(dispatch->currentShellOnly, currentShellOnly) << line;
        EXPECT_EQ(dispatch->menuMessage, menuMessage) << line;
    }
}

TEST(DispatchOf, ConditionalMessagesNeedTheirFlag) {
    for (const char* line : {R"({"panel":{}})", R"({"hotkeys":[]})", R"({"menuUnavailable":"x"})",
                             R"({"menu":[]})", R"({"menuBranch":{"id":"a","rows":[]}})", R"({"popUp":true})",
                             R"({"badge":{"pid":1}})"}) {
        EXPECT_EQ(outcome(line, alwaysOnly), passes) << line;
    }
    EXPECT_EQ(outcome(R"({"watch":"apps"})", alwaysOnly), "watch apps");
    EXPECT_EQ(outcome(R"({"panel":{},"url":"u","result":1})", alwaysOnly), "reply u none none");
}

TEST(DispatchOf, ExactMessagesAllowNothingElse) {
    for (const char* line : {R"({"watch":"apps","x":1})", R"({"watch":"other"})", R"({"popUp":true,"x":1})",
                             R"({"popUp":false})", R"({"popUp":1})", R"({"focus":"replies","x":1})",
                             R"({"setupQuit":"other"})", R"({"url":"x"})", R"({"url":1,"result":1})",
                             R"({"menuBranch":{"id":"a","rows":{}}})", R"({"badge":{"pid":0}})"}) {
        EXPECT_EQ(outcome(line), passes) << line;
    }
    EXPECT_EQ(outcome(R"({"url":"x","error":null})"), "reply x none none");
    EXPECT_EQ(outcome(R"({"url":"x","result":null,"focus":3})"), "reply x none none");
}

TEST(DispatchOf, ReplyPanelIsAnIntegerThatFitsAProcessId) {
    auto panelOf = [](const char* panel) {
        return outcome(std::string(R"({"url":"u","result":0,"panel":)") + panel + "}", alwaysOnly);
    };
    EXPECT_EQ(panelOf("2147483647"), "reply u none 2147483647");
    EXPECT_EQ(panelOf("-2147483648"), "reply u none -2147483648");
    for (const char* absent :
         {"1099511627776", "2147483648", "-2147483649", "12.0", "12.5", "true", "\"12\"", "{}"}) {
        EXPECT_EQ(panelOf(absent), "reply u none none") << absent;
    }
}

TEST(DispatchOf, FirstMatchingRuleWins) {
    EXPECT_EQ(outcome(R"({"setupQuitSenders":["a"],"setupQuit":"settled"})"), "senders a");
    EXPECT_EQ(outcome(R"({"setupQuit":"settled","panel":{}})"), "settled 0");
    EXPECT_EQ(outcome(R"({"panel":{},"hotkeys":[],"url":"u","result":1})"), "panel {}");
    EXPECT_EQ(outcome(R"({"menuUnavailable":"x","menu":[]})"), "unavailable x");
    EXPECT_EQ(outcome(R"({"menu":[],"menuBranch":{"id":"a","rows":[]},"badge":{"pid":1}})"), "menu [] 0 none");
    EXPECT_EQ(outcome(R"({"badge":{"pid":3},"url":"u","result":1})"), "badge 3 ");
}

TEST(DispatchOf, KeyOfTheWrongTypeFallsToLaterRules) {
    EXPECT_EQ(outcome(R"({"setupQuitSenders":["a",1],"setupQuit":"settled"})"), "settled 0");
    EXPECT_EQ(outcome(R"({"setupQuit":true,"hotkeys":[{}]})"), "hotkeys [{}]");
    EXPECT_EQ(outcome(R"({"panel":3,"url":"u","result":1})"), "reply u none 3");
    EXPECT_EQ(outcome(R"({"hotkeys":[1],"menuUnavailable":"x"})"), "unavailable x");
    EXPECT_EQ(outcome(R"({"menuUnavailable":1,"menu":[{}]})"), R"(menu [{}] 0 none)");
    EXPECT_EQ(outcome(R"({"menu":{},"menuBranch":{"id":"a","rows":[]}})"), "branch a []");
    EXPECT_EQ(outcome(R"({"menuBranch":{"id":1,"rows":[]},"badge":{"pid":9}})"), "badge 9 ");
    EXPECT_EQ(outcome(R"({"badge":"x","url":"u","error":"e"})"), "reply u none none");
}

TEST(DispatchOf, OnlyJsonObjectsAreMessages) {
    for (const char* line : {"", "   ", "hello", "[{\"watch\":\"apps\"}]", "\"x\"", "12", "null", "{bad",
                             "{\"watch\":\"apps\"} trailing", "x{\"watch\":\"apps\"}", "{\"a\":\"\xff\"}"}) {
        EXPECT_EQ(outcome(line), passes) << line;
    }
    EXPECT_EQ(outcome(" \t{\"watch\":\"apps\"}\r"), "watch apps");
}

TEST(DispatchOf, EmptyHandlerStillRecognisesTheMessage) {
    auto dispatch = dispatchOf(R"({"menu":[]})", everything, MessageHandlers{});
    ASSERT_TRUE(dispatch);
    EXPECT_FALSE(dispatch->action);
}

class ChildOutputTest : public ::testing::Test {
protected:
    std::vector<std::string> calls_;
    std::vector<std::function<void()>> posted_;
    bool current_ = true;
    std::string passed_;
    ChildOutput output_{everything, noting(calls_), [this] { return current_; },
                        [this](std::function<void()> action) { posted_.push_back(std::move(action)); }};

    std::vector<std::string> runPosted() {
        for (auto& action : posted_) action();
        posted_.clear();
        return std::exchange(calls_, {});
    }
};

using Calls = std::vector<std::string>;

TEST_F(ChildOutputTest, MessageSplitAcrossReadsIsDispatchedOnceAtItsNewline) {
    output_.take(R"({"watch":)", &passed_);
    output_.take(R"("apps"})", &passed_);
    EXPECT_TRUE(posted_.empty());
    output_.take("\n", &passed_);
    EXPECT_EQ(runPosted(), Calls{"watch apps"});
    EXPECT_EQ(passed_, "");
    EXPECT_EQ(output_.pending(), "");
}

TEST_F(ChildOutputTest, LastLineWithoutNewlineStaysPending) {
    output_.take("done\npartial {\"watch\"", &passed_);
    EXPECT_EQ(passed_, "done\n");
    EXPECT_EQ(output_.pending(), "partial {\"watch\"");
}

TEST_F(ChildOutputTest, PassesThroughEveryOtherLineByteForByte) {
    const std::string lines = std::string("\n\r\nplain text \r\n[1,2]\n{\"a\":\"\xc3\x28\"}\n\xff\xfe\n") +
                              "  {\"unknown\":1}\n{\"watch\":\"apps\",\"x\":1}\n" +
                              std::string("nul\0byte\n", 9);
    output_.take(lines, &passed_);
    EXPECT_EQ(passed_, lines);
    EXPECT_TRUE(posted_.empty());
}

TEST_F(ChildOutputTest, HandlesEveryLineOfOneReadInOrder) {
    output_.take("one\n{\"focus\":\"replies\"}\ntwo\n{\"watch\":\"apps\"}\n{\"badge\":{\"pid\":5}}\nthree\n",
                 &passed_);
    EXPECT_EQ(passed_, "one\ntwo\nthree\n");
    EXPECT_EQ(runPosted(), (Calls{"focus replies", "watch apps", "badge 5 "}));
}

// The passed-through text, then the calls, of a stream read in pieces of `size` bytes from `cut` on.
std::string framed(std::string_view stream, std::size_t cut, std::size_t size) {
    std::vector<std::string> calls;
    std::vector<std::function<void()>> posted;
    ChildOutput output(everything, noting(calls), [] { return true; },
                       [&posted](std::function<void()> action) { posted.push_back(std::move(action)); });
    std::string passed;
    output.take(stream.substr(0, cut), &passed);
    for (std::size_t at = cut; at < stream.size(); at += size) output.take(stream.substr(at, size), &passed);
    for (auto& action : posted) action();
    for (const auto& call : calls) passed += "| " + call;
    return passed + "| pending " + output.pending();
}

TEST(ChildOutput, FramingDoesNotDependOnHowReadsAreCut) {
    const std::string stream =
        "a\n{\"menuUnavailable\":\"x\"}\n\n{\"popUp\":true}\nb\n{\"url\":\"u\",\"result\":1}\nc";
    const std::string whole = "a\n\nb\n| unavailable x| pop up| reply u none none| pending c";
    EXPECT_EQ(framed(stream, stream.size(), 1), whole);
    EXPECT_EQ(framed(stream, 0, 1), whole);
    for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        EXPECT_EQ(framed(stream, cut, stream.size()), whole) << "cut at " << cut;
        EXPECT_EQ(framed(stream, cut, 7), whole) << "cut at " << cut << " then every 7 bytes";
    }
}

TEST_F(ChildOutputTest, SwappedOutShellKeepsOnlyMessagesForAnyShell) {
    output_.take("{\"menu\":[]}\n{\"badge\":{\"pid\":5}}\n{\"setupQuit\":\"settled\"}\n"
                 "{\"menuBranch\":{\"id\":\"a\",\"rows\":[]}}\n{\"url\":\"u\",\"error\":0}\n",
                 &passed_);
    current_ = false;
    EXPECT_EQ(runPosted(), (Calls{"badge 5 ", "reply u none none"}));
    EXPECT_EQ(passed_, "");

    // Whether the shell is current is asked when the message is acted on, not when it is read.
    output_.take("{\"popUp\":true}\n", &passed_);
    current_ = true;
    EXPECT_EQ(runPosted(), Calls{"pop up"});
}

TEST(ChildOutput, RecognisedMessageWithoutHandlerIsDroppedNotPassedThrough) {
    auto handlers = std::make_shared<MessageHandlers>();
    int posts = 0;
    ChildOutput output(everything, handlers, [] { return true; }, [&posts](std::function<void()>) { ++posts; });
    std::string passed;
    output.take("{\"menu\":[]}\n{\"watch\":\"apps\"}\nkept\n", &passed);
    EXPECT_EQ(passed, "kept\n");
    EXPECT_EQ(posts, 0);
}

// A pipe whose ends close with the test.
struct Pipe {
    int readEnd = -1, writeEnd = -1;
    Pipe() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) readEnd = ends[0], writeEnd = ends[1];
    }
    ~Pipe() {
        if (readEnd >= 0) ::close(readEnd);
        if (writeEnd >= 0) ::close(writeEnd);
    }
};

bool writeWhole(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t written = ::write(fd, text.data(), text.size());
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// What `fd` yields until `done` holds, within a safety bound so that a fault fails instead of hanging.
template <typename Done>
std::string readUntil(int fd, Done done) {
    std::string text;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done(text) && std::chrono::steady_clock::now() < giveUp) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 10) <= 0) continue;
        char buffer[16384];
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

// What is in the pipe now, without waiting.
std::string drained(int fd) {
    std::string text;
    pollfd readable{fd, POLLIN, 0};
    char buffer[16384];
    while (::poll(&readable, 1, 0) > 0) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
}

TEST(ChildOutputReader, PassesThroughAndPostsUntilEndOfFile) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe shell, host;
    ASSERT_TRUE(shell.readEnd >= 0 && host.readEnd >= 0);
    std::mutex mutex;
    std::vector<std::function<void()>> posted;
    std::vector<std::string> calls;
    auto handlers = noting(calls);
    std::weak_ptr<MessageHandlers> outputAlive = handlers;
    auto output = std::make_unique<ChildOutput>(everything, std::move(handlers), [] { return true; },
                                                [&](std::function<void()> action) {
                                                    std::lock_guard lock(mutex);
                                                    posted.push_back(std::move(action));
                                                });
    listenOnItsOwnThread(std::exchange(shell.readEnd, -1), std::move(output), host.writeEnd);

    const std::string input = "first\n{\"watch\":\"apps\"}\n{\"focus\":\"replies\"}\nlast\nunfinished";
    ASSERT_TRUE(writeWhole(shell.writeEnd, input));
    ::close(std::exchange(shell.writeEnd, -1));

    // The reader lets go of its output once it has seen the end of the file and written all.
    std::string passed = readUntil(host.readEnd, [&](const std::string&) { return outputAlive.expired(); });
    ASSERT_TRUE(outputAlive.expired()) << "the reader did not finish";
    passed += drained(host.readEnd);
    EXPECT_EQ(passed, "first\nlast\n");

    std::lock_guard lock(mutex);
    for (auto& action : posted) action();
    EXPECT_EQ(calls, (std::vector<std::string>{"watch apps", "focus replies"}));
}

TEST(ChildOutputReader, LinesFromTwoShellsNeverInterleave) {
    std::signal(SIGPIPE, SIG_IGN);
    Pipe first, second, host;
    ASSERT_TRUE(first.readEnd >= 0 && second.readEnd >= 0 && host.readEnd >= 0);
    auto quiet = [] {
        return std::make_unique<ChildOutput>(alwaysOnly, nullptr, nullptr, [](std::function<void()>) {});
    };
    listenOnItsOwnThread(std::exchange(first.readEnd, -1), quiet(), host.writeEnd);
    listenOnItsOwnThread(std::exchange(second.readEnd, -1), quiet(), host.writeEnd);

    // Lines longer than a pipe writes atomically, enough of them to fill the host's pipe.
    const std::string a = std::string(2999, 'a') + "\n", b = std::string(2999, 'b') + "\n";
    constexpr std::size_t linesEach = 200;
    std::thread shells([&] {
        for (std::size_t line = 0; line < linesEach; ++line) {
            writeWhole(first.writeEnd, a);
            writeWhole(second.writeEnd, b);
        }
        ::close(std::exchange(first.writeEnd, -1));
        ::close(std::exchange(second.writeEnd, -1));
    });
    const std::size_t expected = 2 * linesEach * a.size();
    const std::string passed =
        readUntil(host.readEnd, [&](const std::string& text) { return text.size() >= expected; });
    if (passed.size() < expected) ::close(std::exchange(host.readEnd, -1));  // lets the readers drain
    shells.join();

    ASSERT_EQ(passed.size(), expected);
    std::size_t as = 0, bs = 0;
    for (std::size_t at = 0; at < passed.size(); at += a.size()) {
        const std::string_view line(passed.data() + at, a.size());
        as += line == a;
        bs += line == b;
    }
    EXPECT_EQ(as, linesEach);
    EXPECT_EQ(bs, linesEach);
}

}  // namespace
}  // namespace host
