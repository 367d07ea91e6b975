// The scripted desktop backend, driven over a socket pair by a pretend desktop in the test.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/linux/scripted-desktop.h"
#include "support/event-loop.h"

using namespace host;
using namespace host::platform;

namespace {

constexpr std::int32_t HOST_PID = 4242;

// The desktop's end of the socket: reads and writes without blocking, as the host's loop turns
// in the same thread.
class PretendDesktop {
public:
    explicit PretendDesktop(int fd) : fd_(fd) {}
    ~PretendDesktop() { hangUp(); }

    void send(const Json& event) { sendRaw(event.dump() + "\n"); }
    void sendRaw(const std::string& bytes) {
        output_ += bytes;
        writeSome();
    }
    void writeSome() {
        while (fd_ >= 0 && !output_.empty()) {
            ssize_t written = ::send(fd_, output_.data(), output_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (written <= 0) return;
            output_.erase(0, static_cast<std::size_t>(written));
        }
    }
    void hangUp() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    // Every state line that arrived so far.
    const std::vector<Json>& states() {
        char buffer[65536];
        ssize_t count;
        while (fd_ >= 0 && (count = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) {
            input_.append(buffer, static_cast<std::size_t>(count));
            for (std::size_t end; (end = input_.find('\n')) != std::string::npos; input_.erase(0, end + 1)) {
                states_.push_back(Json::parse(input_.substr(0, end)));
            }
        }
        return states_;
    }
    std::vector<Json> statesOf(const std::string& kind) {
        std::vector<Json> found;
        for (const Json& state : states()) {
            if (state.value("state", "") == kind) found.push_back(state);
        }
        return found;
    }
    std::optional<Json> latest(const std::string& kind) {
        auto all = statesOf(kind);
        return all.empty() ? std::nullopt : std::optional<Json>(all.back());
    }

    // Runs the host's loop until the host answered a ping sent after everything before.
    bool sync() {
        const int id = ++pings_;
        send({{"event", "ping"}, {"id", id}});
        return pumpUntil([&] {
            writeSome();
            for (const Json& pong : statesOf("pong")) {
                if (pong["id"] == id) return true;
            }
            return false;
        });
    }

    static bool pumpUntil(const std::function<bool()>& done) {
        bool gaveUp = false;
        loop::Timer patience;
        patience.startOnce(10, [&] { gaveUp = true; });
        loop::runTheLoopUntil([&] { return done() || gaveUp; });
        return !gaveUp;
    }

private:
    int fd_;
    std::string output_;
    std::string input_;
    std::vector<Json> states_;
    int pings_ = 0;
};

class ScriptedDesktopTest : public ::testing::Test {
protected:
    ScriptedDesktopTest() {
        int ends[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
        hostEnd = ends[0];
        peer = std::make_unique<PretendDesktop>(ends[1]);
        auto made = std::make_unique<ScriptedDesktop>(HostIdentity{HOST_PID, "app.example.host", "/Apps/Host.app"});
        scripted = made.get();
        previous = useTheDesktop(std::move(made));
    }
    ~ScriptedDesktopTest() override {
        peer.reset();
        useTheDesktop(std::move(previous));
    }

    // Sends the setup events and "ready" before the host reads them, then connects.
    bool connect(const std::vector<Json>& setup = {}, int version = DESKTOP_PROTOCOL_VERSION) {
        for (const Json& event : setup) peer->send(event);
        peer->send({{"event", "ready"}, {"version", version}});
        return scripted->connect(hostEnd, 5, &why);
    }

    static Json launched(std::int32_t pid, const std::string& bundle) {
        return {{"event", "launched"}, {"pid", pid}, {"bundle", bundle}, {"name", bundle}};
    }

    int hostEnd = -1;
    std::unique_ptr<PretendDesktop> peer;
    ScriptedDesktop* scripted = nullptr;
    std::unique_ptr<Desktop> previous;
    std::string why;
};

TEST_F(ScriptedDesktopTest, HandshakeSaysHelloAndAppliesTheSetupBeforeReady) {
    ASSERT_TRUE(connect({launched(100, "org.example.files"),
                         {{"event", "activated"}, {"pid", 100}},
                         {{"event", "screens"}, {"screens", {{{"x", 0}, {"y", 0}, {"width", 800}, {"height", 600}}}}},
                         {{"event", "keyboard"}, {"layout", "ISO"}},
                         {{"event", "languages"}, {"languages", {"tr-TR", "en"}}}}))
        << why;
    auto hello = peer->latest("hello");
    ASSERT_TRUE(hello);
    EXPECT_EQ((*hello)["version"], DESKTOP_PROTOCOL_VERSION);
    EXPECT_EQ((*hello)["pid"], HOST_PID);
    EXPECT_EQ((*hello)["identity"], "app.example.host");
    EXPECT_EQ(scripted->frontApplicationIdentifier(), "org.example.files");
    EXPECT_EQ(scripted->screens(), (std::vector<Rect>{{0, 0, 800, 600}}));
    EXPECT_EQ(scripted->keyboardLayoutType(), KeyboardLayout::iso);
    EXPECT_EQ(scripted->preferredLanguages(), (std::vector<std::string>{"tr-TR", "en"}));
    // The host is one of the running applications, after the desktop's own.
    auto applications = scripted->runningApplications();
    ASSERT_EQ(applications.size(), 2u);
    EXPECT_EQ(applications[1].pid, HOST_PID);
    EXPECT_EQ(applications[1].localizedName, "Host");
}

TEST_F(ScriptedDesktopTest, RequestsBeforeReadyWaitForTheLoop) {
    std::vector<std::string> urls;
    DesktopHandlers handlers;
    handlers.getURL = [&](const std::string& url, const CurrentEvent& event) {
        urls.push_back(url + " from " + std::to_string(event.senderPid.value_or(0)));
    };
    scripted->setHandlers(handlers);
    ASSERT_TRUE(connect({{{"event", "url"}, {"url", "demo://early"}, {"sender", 77}}})) << why;
    EXPECT_TRUE(urls.empty());
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(urls, (std::vector<std::string>{"demo://early from 77"}));
}

TEST_F(ScriptedDesktopTest, EventsAfterReadyWaitForTheObservers) {
    peer->send(launched(100, "org.example.files"));
    peer->send({{"event", "ready"}, {"version", DESKTOP_PROTOCOL_VERSION}});
    peer->send({{"event", "activated"}, {"pid", 100}});
    ASSERT_TRUE(scripted->connect(hostEnd, 5, &why)) << why;
    EXPECT_FALSE(scripted->frontmostApplication());
    std::vector<std::int32_t> activated;
    scripted->observeTheWorkspace([&](WorkspaceChange change, const RunningApplication& application) {
        if (change == WorkspaceChange::activated) activated.push_back(application.pid);
    });
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(activated, (std::vector<std::int32_t>{100}));
}

TEST_F(ScriptedDesktopTest, AFailedHandshakeLeavesTheHostHeadless) {
    EXPECT_FALSE(connect({launched(100, "org.example.files")}, 2));
    EXPECT_EQ(why, "the desktop speaks version 2, not 1");
    EXPECT_FALSE(scripted->connected());
    EXPECT_EQ(scripted->runningApplications().size(), 1u);
    EXPECT_EQ(scripted->screens(), (std::vector<Rect>{{0, 0, 1440, 900}}));
}

TEST_F(ScriptedDesktopTest, ASilentDesktopTimesOut) {
    EXPECT_FALSE(scripted->connect(hostEnd, 0.05, &why));
    EXPECT_EQ(why, "the desktop was not ready in time");
    EXPECT_FALSE(scripted->connected());
}

TEST_F(ScriptedDesktopTest, WorkspaceEventsReachTheObserversInOrder) {
    ASSERT_TRUE(connect()) << why;
    std::vector<std::string> heard;
    int becameActive = 0;
    scripted->observeTheWorkspace([&](WorkspaceChange change, const RunningApplication& application) {
        const char* names[] = {"launched", "terminated", "activated", "hidden", "unhidden"};
        heard.push_back(std::string(names[static_cast<int>(change)]) + " " + application.bundleIdentifier.value_or("-"));
    });
    scripted->observeBecomingActive([&] { ++becameActive; });
    peer->send(launched(100, "org.example.files"));
    peer->send({{"event", "activated"}, {"pid", 100}});
    peer->send({{"event", "hidden"}, {"pid", 100}});
    peer->send({{"event", "unhidden"}, {"pid", 100}});
    peer->send({{"event", "activated"}, {"pid", HOST_PID}});
    peer->send({{"event", "activated"}, {"pid", 100}});
    peer->send({{"event", "terminated"}, {"pid", 100}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(heard, (std::vector<std::string>{"launched org.example.files", "activated org.example.files",
                                               "hidden org.example.files", "unhidden org.example.files",
                                               "activated app.example.host", "activated org.example.files",
                                               "terminated org.example.files"}));
    EXPECT_EQ(becameActive, 1);
    // The front application left with its termination.
    EXPECT_FALSE(scripted->frontmostApplication());
    EXPECT_FALSE(scripted->runningApplication(100));
}

TEST_F(ScriptedDesktopTest, BadEventsAreAnsweredWithErrorsAndTheConnectionStays) {
    ASSERT_TRUE(connect()) << why;
    peer->sendRaw("not json\n");
    peer->send(Json::array({1, 2}));
    peer->send({{"no", "event"}});
    peer->send({{"event", "dance"}});
    peer->send({{"event", "activated"}, {"pid", 999}});
    peer->send({{"event", "launched"}, {"pid", "100"}});
    peer->send({{"event", "windows"}, {"windows", Json::array({{{"pid", 1}}})}});
    peer->sendRaw(std::string(LineChannel::LONGEST_LINE + 10, 'x') + "\n");
    const std::size_t deep = 100000;  // an echoed id this deep would be copied past the stack's end
    peer->sendRaw(R"({"event": "ping", "id": )" + std::string(deep, '[') + std::string(deep, ']') + "}\n");
    ASSERT_TRUE(peer->sync());
    auto errors = peer->statesOf("error");
    ASSERT_EQ(errors.size(), 9u);
    EXPECT_EQ(errors[3]["message"], "unknown event \"dance\"");
    EXPECT_EQ(errors[4]["message"], "no application with pid 999");
    EXPECT_EQ(errors[7]["message"], "line longer than 1 MiB dropped");
    EXPECT_EQ(errors[8]["message"], "not JSON: nested deeper than 512");
    EXPECT_EQ(peer->statesOf("pong").size(), 1u);
    EXPECT_TRUE(scripted->connected());
    EXPECT_TRUE(scripted->onScreenWindows().empty());
}

TEST_F(ScriptedDesktopTest, TheDesktopSeesTheStatusItemAndMenuTreeOnce) {
    ASSERT_TRUE(connect()) << why;
    Menu root;
    int picked = 0;
    auto more = std::make_shared<MenuItem>("More");
    more->setSubmenu(std::make_shared<Menu>("More"));
    MenuItem& inner = more->submenu()->addItem(std::make_shared<MenuItem>("Inner", [&](MenuItem&) { ++picked; }));
    inner.setKeyEquivalent("k", MODIFIER_COMMAND);
    inner.setRepresentedObject("inner");
    root.addItem(more);
    root.addItem(MenuItem::separator());
    StatusItem& item = scripted->makeStatusItem();
    item.setImage(systemSymbol("sparkles", "Demo"));
    item.setToolTip("Demo tip");
    item.setMenu(&root);
    ASSERT_TRUE(peer->sync());

    auto drawn = peer->statesOf("status-items");
    ASSERT_EQ(drawn.size(), 1u) << "a burst of changes is drawn once";
    const Json& status = drawn[0]["items"][0];
    EXPECT_EQ(status["button"]["image"]["symbol"], "sparkles");
    EXPECT_EQ(status["button"]["toolTip"], "Demo tip");
    const Json& items = status["menu"]["items"];
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1]["separator"], true);
    const Json& innerJson = items[0]["submenu"]["items"][0];
    EXPECT_EQ(innerJson["title"], "Inner");
    EXPECT_EQ(innerJson["key"], "k");
    EXPECT_EQ(innerJson["modifiers"], MODIFIER_COMMAND);
    EXPECT_EQ(innerJson["represented"], "inner");
    EXPECT_EQ(innerJson["action"], true);

    peer->send({{"event", "pick"}, {"item", innerJson["item"]}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(picked, 1);
    EXPECT_EQ(peer->statesOf("status-items").size(), 1u) << "nothing changed, nothing is sent";
}

TEST_F(ScriptedDesktopTest, PicksOfDisabledOrVanishedItemsAreRefused) {
    ASSERT_TRUE(connect()) << why;
    Menu root;
    int picked = 0;
    MenuItem& disabled = root.addItem(std::make_shared<MenuItem>("Off", [&](MenuItem&) { ++picked; }));
    disabled.setEnabled(false);
    auto gone = std::make_shared<MenuItem>("Gone", [&](MenuItem&) { ++picked; });
    root.addItem(gone);
    scripted->makeStatusItem().setMenu(&root);
    root.removeItem(*gone);
    peer->send({{"event", "pick"}, {"item", disabled.serial()}});
    peer->send({{"event", "pick"}, {"item", gone->serial()}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(picked, 0);
    auto errors = peer->statesOf("error");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0]["message"], "item " + std::to_string(disabled.serial()) + " cannot be picked");
    EXPECT_EQ(errors[1]["message"], "no item " + std::to_string(gone->serial()) + " in any menu");
}

class RecordingDelegate : public MenuDelegate {
public:
    void menuNeedsUpdate(Menu& menu) override { calls.push_back("update " + menu.title()); }
    void menuWillOpen(Menu& menu) override { calls.push_back("open " + menu.title()); }
    std::vector<std::string> calls;
};

TEST_F(ScriptedDesktopTest, OpeningMenusAsksTheirDelegateToUpdateFirst) {
    ASSERT_TRUE(connect()) << why;
    RecordingDelegate delegate;
    Menu root("root");
    root.setDelegate(&delegate);
    auto branch = std::make_shared<MenuItem>("Branch");
    branch->setSubmenu(std::make_shared<Menu>("branch"));
    branch->submenu()->setDelegate(&delegate);
    root.addItem(branch);
    scripted->makeStatusItem().setMenu(&root);
    peer->send({{"event", "open-menu"}});
    peer->send({{"event", "open-menu"}, {"item", branch->serial()}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(delegate.calls, (std::vector<std::string>{"update root", "open root", "update branch", "open branch"}));

    scripted->popUp(root, {12, 34});
    auto popUp = peer->latest("pop-up");
    ASSERT_TRUE(popUp);
    EXPECT_EQ((*popUp)["x"], 12);
    EXPECT_EQ((*popUp)["menu"]["items"][0]["title"], "Branch");
    EXPECT_EQ(delegate.calls.size(), 6u);
}

TEST_F(ScriptedDesktopTest, HotKeysRegisterUnlessTakenAndPressesGoDownTheHandlerChain) {
    ASSERT_TRUE(connect({{{"event", "hot-keys-taken"}, {"chords", {{{"code", 1}, {"modifiers", 256}}}}}})) << why;
    const HotKeyId declared{0x576b484b, 0};  // 'WkHK'
    const HotKeyId child{0x576b434b, 3};     // 'WkCK'
    EXPECT_EQ(scripted->registerHotKey(1, 256, declared, 0).status, HOT_KEY_EXISTS_STATUS);
    auto first = scripted->registerHotKey(2, 256, declared, 0);
    EXPECT_EQ(first.status, 0);
    EXPECT_NE(first.reference, 0u);
    EXPECT_EQ(scripted->registerHotKey(2, 256, child, 0).status, HOT_KEY_EXISTS_STATUS);
    auto second = scripted->registerHotKey(3, 768, child, 0);
    ASSERT_EQ(second.status, 0);

    std::vector<std::string> heard;
    scripted->addHotKeyHandler([&](HotKeyId id) {
        heard.push_back("declared handler saw " + std::to_string(id.id));
        return id.signature == declared.signature;
    });
    scripted->addHotKeyHandler([&](HotKeyId id) {
        heard.push_back("child handler took " + std::to_string(id.id));
        return true;
    });
    peer->send({{"event", "hot-key"}, {"code", 2}, {"modifiers", 256}});
    peer->send({{"event", "hot-key"}, {"code", 3}, {"modifiers", 768}});
    peer->send({{"event", "hot-key"}, {"code", 9}, {"modifiers", 0}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(heard, (std::vector<std::string>{"declared handler saw 0", "declared handler saw 3", "child handler took 3"}));
    EXPECT_EQ(peer->latest("error").value()["message"], "no hot key is registered for that chord");
    auto registered = peer->latest("hot-keys").value()["registered"];
    ASSERT_EQ(registered.size(), 2u);
    EXPECT_EQ(registered[1]["signature"], "WkCK");

    scripted->unregisterHotKey(first.reference);
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(peer->latest("hot-keys").value()["registered"].size(), 1u);
    // The chord is free again.
    EXPECT_EQ(scripted->registerHotKey(2, 256, declared, 0).status, 0);
}

TEST_F(ScriptedDesktopTest, AnAlertWaitsForItsAnswerWhileLaterEventsQueueBehindIt) {
    ASSERT_TRUE(connect()) << why;
    std::vector<std::string> order;
    DesktopHandlers handlers;
    handlers.getURL = [&](const std::string& url, const CurrentEvent&) { order.push_back(url); };
    scripted->setHandlers(handlers);
    // The answer follows an event that must wait until the alert is done.
    peer->send({{"event", "url"}, {"url", "demo://during"}});
    peer->send({{"event", "alert-answer"}, {"alert", 1}, {"button", 1}});
    int answer = scripted->runModal({"Quit Demo?", "Every window will close.", {"Quit", "Cancel"}});
    order.push_back("answered " + std::to_string(answer));
    auto alert = peer->latest("alert");
    ASSERT_TRUE(alert);
    EXPECT_EQ((*alert)["message"], "Quit Demo?");
    EXPECT_EQ((*alert)["buttons"], Json({"Quit", "Cancel"}));
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(order, (std::vector<std::string>{"answered 1", "demo://during"}));
}

TEST_F(ScriptedDesktopTest, AnAlertOpenedByADesktopEventHearsItsAnswerOnTheSameConnection) {
    ASSERT_TRUE(connect()) << why;
    int answer = -1;
    DesktopHandlers handlers;
    handlers.shouldTerminate = [&](const std::optional<CurrentEvent>&) {
        answer = scripted->runModal({"Quit?", "", {"Quit", "Cancel"}});
        return TerminateReply::cancel;
    };
    scripted->setHandlers(handlers);
    // The answer comes later, while the loop turns inside the handler of the very line that
    // opened the alert.
    loop::Timer later;
    later.startOnce(0.01, [&] { peer->send({{"event", "alert-answer"}, {"alert", 1}, {"button", 1}}); });
    // Should the answer never be read, leaving ends the alert with its first button.
    loop::Timer giveUp;
    giveUp.startOnce(10, [&] { peer->hangUp(); });
    peer->send({{"event", "quit"}, {"request", 1}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(peer->latest("quit-reply").value()["answer"], "cancel");
}

TEST_F(ScriptedDesktopTest, AlertAnswersMustNameAnOpenAlertAndOneOfItsButtons) {
    ASSERT_TRUE(connect()) << why;
    peer->send({{"event", "alert-answer"}, {"alert", 1}, {"button", 2}});
    peer->send({{"event", "alert-answer"}, {"alert", 7}, {"button", 0}});
    peer->send({{"event", "alert-answer"}, {"alert", 1}, {"button", 0}});
    EXPECT_EQ(scripted->runModal({"Sure?", "", {"Yes", "No"}}), 0);
    ASSERT_TRUE(peer->sync());
    auto errors = peer->statesOf("error");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0]["message"], "the alert has no such button");
    EXPECT_EQ(errors[1]["message"], "no alert is waiting for that answer");
}

TEST_F(ScriptedDesktopTest, ADesktopThatLeavesDuringAnAlertGetsTheFirstButtonAndAHeadlessHost) {
    ASSERT_TRUE(connect({launched(100, "org.example.files")})) << why;
    peer->hangUp();
    EXPECT_EQ(scripted->runModal({"Sure?", "", {"Yes", "No"}}), 0);
    EXPECT_FALSE(scripted->connected());
    EXPECT_FALSE(scripted->runningApplication(100));
    // Headless alerts answer at once.
    EXPECT_EQ(scripted->runModal({"Again?", "", {"Yes", "No"}}), 0);
}

TEST_F(ScriptedDesktopTest, QuitRequestsCarryTheirEventAndMayBeAnsweredLater) {
    ASSERT_TRUE(connect()) << why;
    std::vector<std::string> asked;
    DesktopHandlers handlers;
    handlers.shouldTerminate = [&](const std::optional<CurrentEvent>& event) {
        asked.push_back(event ? event->quitReason.value_or("-") + "/" + std::to_string(event->senderPid.value_or(0))
                              : "own");
        return event ? TerminateReply::later : TerminateReply::cancel;
    };
    scripted->setHandlers(handlers);
    peer->send({{"event", "quit"}, {"request", 1}});
    peer->send({{"event", "quit"}, {"request", 2}, {"reason", "logo"}, {"sender", 55}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(asked, (std::vector<std::string>{"own", "logo/55"}));
    auto replies = peer->statesOf("quit-reply");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0]["answer"], "cancel");
    EXPECT_EQ(replies[1]["answer"], "later");
    scripted->replyToApplicationShouldTerminate(true);
    ASSERT_TRUE(peer->sync());
    replies = peer->statesOf("quit-reply");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[2]["request"], 2);
    EXPECT_EQ(replies[2]["answer"], "terminate");
}

TEST_F(ScriptedDesktopTest, WithoutADelegateAQuitEndsTheProcessAfterTheReply) {
    GTEST_FLAG_SET(death_test_style, "fast");
    ASSERT_TRUE(connect()) << why;
    EXPECT_EXIT(
        {
            peer->send({{"event", "quit"}, {"request", "q"}});
            peer->sync();
        },
        ::testing::ExitedWithCode(0), "");
    auto reply = peer->latest("quit-reply");
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)["answer"], "now");
}

TEST_F(ScriptedDesktopTest, ServicesRequestsAreAnswered) {
    ASSERT_TRUE(connect()) << why;
    peer->send({{"event", "service"}, {"request", 1}, {"files", {"/tmp/a"}}, {"userData", "open"}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(peer->latest("service-reply").value()["error"], "the application offers no service");

    DesktopHandlers handlers;
    handlers.servicesRequest = [](const std::vector<std::string>& files, const std::optional<std::string>& userData) {
        return files.size() == 1 && userData == "open" ? std::nullopt : std::optional<std::string>("No file for the service");
    };
    scripted->setHandlers(handlers);
    peer->send({{"event", "service"}, {"request", 2}, {"files", {"/tmp/a"}}, {"userData", "open"}});
    peer->send({{"event", "service"}, {"request", 3}, {"files", Json::array()}, {"userData", nullptr}});
    ASSERT_TRUE(peer->sync());
    auto replies = peer->statesOf("service-reply");
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1]["error"], nullptr);
    EXPECT_EQ(replies[2]["error"], "No file for the service");
}

TEST_F(ScriptedDesktopTest, ActivationAndPolicyChangesMayBeRefused) {
    ASSERT_TRUE(connect({launched(100, "org.example.files"),
                         {{"event", "launched"}, {"pid", 101}, {"bundle", "org.example.shy"}, {"refusesActivation", true}},
                         {{"event", "refuse"}, {"activationPolicy", true}}}))
        << why;
    EXPECT_TRUE(scripted->activate(100));
    EXPECT_FALSE(scripted->activate(101));
    EXPECT_FALSE(scripted->activate(102));
    EXPECT_FALSE(scripted->setActivationPolicy(ActivationPolicy::accessory));
    EXPECT_EQ(scripted->activationPolicy(), ActivationPolicy::regular);
    peer->send({{"event", "refuse"}, {"activationPolicy", false}});
    ASSERT_TRUE(peer->sync());
    EXPECT_TRUE(scripted->setActivationPolicy(ActivationPolicy::accessory));
    EXPECT_EQ(scripted->runningApplication(HOST_PID)->policy, ActivationPolicy::accessory);
    EXPECT_TRUE(scripted->openWithTheSystem("https://example.org"));
    ASSERT_TRUE(peer->sync());
    auto activations = peer->statesOf("activate");
    ASSERT_EQ(activations.size(), 3u);
    EXPECT_EQ(activations[1]["accepted"], false);
    auto policies = peer->statesOf("activation-policy");
    ASSERT_EQ(policies.size(), 2u);
    EXPECT_EQ(policies[0]["accepted"], false);
    EXPECT_EQ(policies[1]["policy"], "accessory");
    EXPECT_EQ(peer->latest("open-url").value()["url"], "https://example.org");
}

TEST_F(ScriptedDesktopTest, RequestsReachTheirHandlers) {
    ASSERT_TRUE(connect()) << why;
    std::vector<std::string> heard;
    DesktopHandlers handlers;
    handlers.openURLs = [&](const std::vector<std::string>& urls, const std::optional<CurrentEvent>& event) {
        heard.push_back("open " + urls.at(0) + (event ? " with event" : " without event"));
    };
    handlers.reopen = [&] { heard.push_back("reopen"); };
    handlers.displayReconfigured = [&](std::uint32_t flags) { heard.push_back("display " + std::to_string(flags)); };
    scripted->setHandlers(handlers);
    peer->send({{"event", "open"}, {"urls", {"file:///tmp/a.link"}}});
    peer->send({{"event", "open"}, {"urls", {"demo://x"}}, {"sender", 9}});
    peer->send({{"event", "reopen"}});
    peer->send({{"event", "display"}, {"flags", 1}});
    peer->send({{"event", "display"}});
    Json window = {{"pid", 7}, {"layer", 0}, {"bounds", {{"x", 1}, {"y", 2}, {"width", 3}, {"height", 4}}}};
    peer->send({{"event", "windows"}, {"windows", Json::array({window})}});
    peer->send({{"event", "mouse"}, {"x", 5}, {"y", 6}});
    ASSERT_TRUE(peer->sync());
    EXPECT_EQ(heard, (std::vector<std::string>{"open file:///tmp/a.link without event", "open demo://x with event",
                                               "reopen", "display 1", "display 0"}));
    ASSERT_EQ(scripted->onScreenWindows().size(), 1u);
    EXPECT_EQ(scripted->onScreenWindows()[0].bounds, (Rect{1, 2, 3, 4}));
    EXPECT_EQ(scripted->mouseLocation(), (Point{5, 6}));
}

TEST_F(ScriptedDesktopTest, TheBadgePanelIsReportedAsItMovesAndHides) {
    ASSERT_TRUE(connect()) << why;
    BadgePanel& panel = scripted->badgePanel();
    panel.setText("2");
    panel.setFrame({10, 20, 150, 34});
    panel.orderFront();
    ASSERT_TRUE(peer->sync());
    panel.orderOut();
    ASSERT_TRUE(peer->sync());
    auto badges = peer->statesOf("badge");
    ASSERT_EQ(badges.size(), 2u);
    EXPECT_EQ(badges[0]["visible"], true);
    EXPECT_EQ(badges[0]["text"], "2");
    EXPECT_EQ(badges[0]["frame"]["x"], 10);
    EXPECT_EQ(badges[0]["level"], 25);
    EXPECT_EQ(badges[1]["visible"], false);
}

TEST_F(ScriptedDesktopTest, ADesktopThatStopsReadingIsDroppedInsteadOfStallingTheHost) {
    ASSERT_TRUE(connect()) << why;
    Menu root;
    MenuItem& item = root.addItem(std::make_shared<MenuItem>("x"));
    scripted->makeStatusItem().setMenu(&root);
    const std::string big(512 * 1024, 'y');
    for (int round = 0; round < 40 && scripted->connected(); ++round) {
        item.setTitle(big + std::to_string(round));
        // The redraw was queued before this marker, so it has run once the marker has.
        bool marked = false;
        loop::postToTheMainQueue([&] { marked = true; });
        ASSERT_TRUE(PretendDesktop::pumpUntil([&] { return marked; }));
    }
    EXPECT_FALSE(scripted->connected());
}

}  // namespace
