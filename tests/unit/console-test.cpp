// The desktop console's commands as a person types them: titles in any case, "..." for "…",
// completion, and the texts it shows for hot keys, pop-ups and quit replies.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "console.h"
#include "state-text.h"

namespace console {
namespace {

namespace fs = std::filesystem;

const char* const MENU = R"({"state":"status-items","items":[{"statusItem":1,"button":{},"menu":{"title":"","items":[
    {"item":3,"title":"Say hello","enabled":true},
    {"item":4,"title":"More","enabled":true,"submenu":{"title":"More","items":[{"item":5,"title":"Check for Updates…","enabled":true}]}},
    {"item":6,"separator":true,"title":"","enabled":false}]}}]})";

// A console whose host is a plain socket the test writes the host's lines to.
class ConsoleWithAHost : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "console-test.XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        folder_ = pattern;
        ASSERT_EQ(peer_.listen(folder_ + "/desktop.sock"), "");
        host_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, peer_.path().c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(connect(host_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        hostSays(R"({"state":"hello","version":1,"pid":4242,"identity":"org.example.t","bundlePath":"/T.app"})");
        ASSERT_EQ(peer_.accept(10), "");
        hostSays(std::string(MENU));
        ASSERT_TRUE(peer_.waitFor("status-items", 10));
    }
    void TearDown() override {
        if (host_ >= 0) close(host_);
        fs::remove_all(folder_);
    }
    void hostSays(std::string line) {
        std::erase(line, '\n');
        line += "\n";
        ASSERT_EQ(write(host_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    // The events the console sent, as text.
    std::string sent() {
        char buffer[4096];
        timeval moment{0, 200000};
        setsockopt(host_, SOL_SOCKET, SO_RCVTIMEO, &moment, sizeof moment);
        ssize_t count = read(host_, buffer, sizeof buffer);
        return count > 0 ? std::string(buffer, static_cast<std::size_t>(count)) : "";
    }

    std::string folder_;
    desktop::Peer peer_;
    int host_ = -1;
    std::string said_;
    Console console_{peer_, [this](const std::string& text) { said_ += text; }};
};

TEST_F(ConsoleWithAHost, PicksByTitleIgnoreCaseAndTakeThreeDotsForAnEllipsis) {
    const std::pair<const char*, int> cases[] = {{"pick say HELLO", 3}, {"pick check for updates...", 5},
                                                 {"pick Check for Updates…", 5}, {"pick 6", 6}};
    for (const auto& [line, item] : cases) {
        console_.command(line);
        EXPECT_NE(sent().find("\"item\":" + std::to_string(item)), std::string::npos) << line << ": " << said_;
    }
}

TEST_F(ConsoleWithAHost, CompletionOffersCommandsThenTitles) {
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"pi", {"pick"}},
        {"s", {"send", "sync", "state"}},
        {"pick ", {"pick Say hello", "pick More", "pick Check for Updates…"}},
        {"pick check", {"pick Check for Updates…"}},
        {"open m", {"open More"}},
        {"pick nothing", {}},
    };
    for (const auto& [typed, expected] : cases) EXPECT_EQ(console_.completions(typed), expected) << typed;
}

TEST(StateText, ChordsPopUpsAndQuitRepliesReadAsAPersonExpects) {
    EXPECT_EQ(hotKeyChord(2, 256 | 512), "\u2318\u21E7D");
    EXPECT_EQ(hotKeyChord(50, 4096 | 2048), "\u2325\u2303`");
    EXPECT_EQ(hotKeyChord(99, 0), "key 99");

    Json popUp = Json::parse(R"({"state":"pop-up","x":1,"y":2,"menu":{"title":"","items":[{"item":7,"title":"Hi","enabled":true}]}})");
    EXPECT_NE(describe(popUp, {}).find("[7] Hi"), std::string::npos) << describe(popUp, {});

    Json cancel = Json::parse(R"({"state":"quit-reply","request":1,"answer":"cancel"})");
    EXPECT_NE(describe(cancel, {}).find("exits by itself"), std::string::npos);

    Json activation = Json::parse(R"({"rows":[{"key":"key:⌘⇧D","action":"open","status":-50}]})");
    EXPECT_NE(describeDeclaredHotKeys(activation).find("⌘⇧D  open, status -50 (not expressible)"), std::string::npos)
        << describeDeclaredHotKeys(activation);
}

}  // namespace
}  // namespace console
