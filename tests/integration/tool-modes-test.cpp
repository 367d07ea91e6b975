// The five tool modes of the real binary: exact outputs, error texts and exit statuses.
#include <gtest/gtest.h>

#include "bundle-fixture.h"

using namespace testing_support;

namespace {

void expectFailure(const RunResult& result, int status, const std::string& err) {
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.out, "");
}

TEST(PublishMenuTool, NormalisesThePublication) {
    BundleFixture fixture;  // needs nothing of the bundle, not even an identifier
    auto result = fixture.run({"--publish-menu-from-stdin"},
                              R"({"publication": [{"title": "A", "id": "a", "rows": [{"z": 1, "b": 2.0}]}], "x": 1})");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, R"([{"id":"a","rows":[{"b":2,"z":1}],"title":"A"}])");
    EXPECT_EQ(result.err, "");

    auto empty = fixture.run({"--publish-menu-from-stdin"}, R"({"publication": []})");
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "[]");

    // Longer than any one read of the input: every piece is taken, in order.
    Json rows = Json::array();
    for (int n = 0; n < 4000; ++n) rows.push_back({{"title", "Row " + std::to_string(n)}, {"id", std::to_string(n)}});
    auto many = fixture.run({"--publish-menu-from-stdin"}, Json({{"publication", rows}}).dump(2));
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.out, rows.dump());
}

TEST(PublishMenuTool, BadInput) {
    BundleFixture fixture;
    auto empty = fixture.run({"--publish-menu-from-stdin"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.out, "");
    EXPECT_EQ(empty.err.rfind("menu publication: ", 0), 0u) << empty.err;

    for (std::string input : {R"([1])", R"({"publication": {}})", R"({"publication": [1]})", R"({"menu": []})"}) {
        expectFailure(fixture.run({"--publish-menu-from-stdin"}, input), 2, "expected TS menu publication on stdin\n");
    }
}

// The input is more than a pipe holds, so the test is still writing it when the host has gone.
TEST(PublishMenuTool, AFurtherArgumentIsNotTheTool) {
    BundleFixture fixture;
    auto result = fixture.run({"--publish-menu-from-stdin", "x"}, R"({"publication": []})" + std::string(1 << 20, ' '));
    EXPECT_EQ(result.status, 66);  // fell through to the normal start-up
    EXPECT_EQ(result.out, "");
}

class LoginTool : public ::testing::Test {
protected:
    void addAgent(const std::string& name, const Json& agent) const {
        writeText(fixture.contents() / "Library" / "LaunchAgents" / name, xmlPropertyList(agent));
    }
    fs::path entry(const std::string& name) const { return fixture.home() / ".config" / "autostart" / name; }

    BundleFixture fixture;
};

TEST_F(LoginTool, Usage) {
    fixture.writeIdentity();
    const std::string usage = "usage: --login on|off|status\n";
    expectFailure(fixture.run({"--login"}), 1, usage);
    expectFailure(fixture.run({"--login", "ON"}), 1, usage);
    expectFailure(fixture.run({"--login", "on", "extra"}), 1, usage);
    BundleFixture anonymous;
    expectFailure(anonymous.run({"--login", "status"}), 1, usage);
}

TEST_F(LoginTool, WithoutAgentsTheIdentityNamesTheOnlyOne) {
    fixture.writeIdentity("app.example.demo");
    auto status = fixture.run({"--login", "status"});
    EXPECT_EQ(status.status, 0);
    EXPECT_EQ(status.out,
              R"({"login":"off","status":"notFound","agents":[{"plist":"app.example.demo.plist","status":"notFound"}]})" "\n");
    auto on = fixture.run({"--login", "on"});
    EXPECT_EQ(on.status, 1);
    EXPECT_EQ(on.out, "");
    EXPECT_EQ(on.err.rfind("login on app.example.demo.plist failed: ", 0), 0u) << on.err;
}

TEST_F(LoginTool, OnWritesAutostartEntriesAndOffRemovesThem) {
    fixture.writeIdentity("app.example.demo");
    addAgent("app.example.demo.plist", Json{{"Label", "demo"}, {"ProgramArguments", {"/opt/Demo App/demo", "--quiet", "100%"}}});
    addAgent("a-helper.plist", Json{{"Program", "/opt/helper"}});

    auto on = fixture.run({"--login", "on"});
    EXPECT_EQ(on.status, 0) << on.err;
    EXPECT_EQ(on.out, R"({"login":"on","status":"enabled","agents":[{"plist":"a-helper.plist","status":"enabled"},)"
                      R"({"plist":"app.example.demo.plist","status":"enabled"}]})" "\n");
    std::string desktop = readText(entry("app.example.demo.desktop"));
    EXPECT_NE(desktop.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(desktop.find("\nExec=\"/opt/Demo App/demo\" --quiet 100%%\n"), std::string::npos) << desktop;
    EXPECT_NE(readText(entry("a-helper.desktop")).find("\nExec=/opt/helper\n"), std::string::npos);

    fs::remove(entry("a-helper.desktop"));
    auto mixed = fixture.run({"--login", "status"});
    EXPECT_EQ(mixed.out, R"({"login":"off","status":"enabled","agents":[{"plist":"a-helper.plist","status":"notRegistered"},)"
                         R"({"plist":"app.example.demo.plist","status":"enabled"}]})" "\n");

    auto off = fixture.run({"--login", "off"});
    EXPECT_EQ(off.status, 0);
    EXPECT_FALSE(fs::exists(entry("app.example.demo.desktop")));
    EXPECT_NE(off.out.find(R"("login":"off","status":"notRegistered")"), std::string::npos) << off.out;
}

TEST_F(LoginTool, MainStatusIsTheFirstAgentWithoutOneNamedAfterTheIdentity) {
    fixture.writeIdentity("app.example.demo");
    addAgent("b.plist", Json{{"Program", "/opt/b"}});
    addAgent("a.plist", Json{{"Program", "/opt/a"}});
    writeText(entry("b.desktop"), "[Desktop Entry]\n");
    auto result = fixture.run({"--login", "status"});
    EXPECT_EQ(result.out, R"({"login":"off","status":"notRegistered","agents":[{"plist":"a.plist","status":"notRegistered"},)"
                          R"({"plist":"b.plist","status":"enabled"}]})" "\n");
}

TEST_F(LoginTool, NamesAreEscapedAsJson) {
    fixture.writeIdentity("app.example.demo");
    addAgent("say \"hi\".plist", Json{{"Program", "/opt/hi"}});
    auto result = fixture.run({"--login", "status"});
    EXPECT_EQ(result.status, 0);
    auto parsed = Json::parse(result.out, nullptr, false);
    ASSERT_FALSE(parsed.is_discarded()) << result.out;
    EXPECT_EQ(parsed["agents"][0]["plist"], "say \"hi\".plist");
}

TEST_F(LoginTool, AnAgentWithoutAProgramFailsAndLeavesEarlierOnesEnabled) {
    fixture.writeIdentity("app.example.demo");
    addAgent("a.plist", Json{{"Program", "/opt/a"}});
    addAgent("b.plist", Json{{"Label", "no program"}});
    auto result = fixture.run({"--login", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("login on b.plist failed: ", 0), 0u) << result.err;
    EXPECT_TRUE(fs::exists(entry("a.desktop")));
}

TEST(HotKeyPlanTool, OneLinePerDeclaredHotKey) {
    BundleFixture fixture;  // works before any runtime file is read
    fixture.writeInfo(Json{{"WickerlyHotKeys",
                            {{{"key", "⌘⇧K"}, {"url", "app://open/palette"}},
                             {{"key", "⌘J"}, {"url", "app://j"}, {"when", "front:com.example.editor"}},
                             {{"key", "⌘L"}, {"when", "always"}},
                             {{"key", "⌘M"}, {"url", "app://m"}, {"when", "sometimes"}}}}});
    auto result = fixture.run({"--hotkey-plan", "com.example.editor"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              R"({"key":"⌘⇧K","registers":true,"url":"app://open/palette","when":"always"})" "\n"
              R"({"key":"⌘J","registers":true,"url":"app://j","when":"front:com.example.editor"})" "\n"
              R"({"key":"⌘M","registers":false,"url":"app://m","when":"sometimes"})" "\n");
    auto elsewhere = fixture.run({"--hotkey-plan", "com.example.other"});
    EXPECT_NE(elsewhere.out.find(R"("registers":false,"url":"app://j")"), std::string::npos);
}

TEST(HotKeyPlanTool, UsageAndNoHotKeys) {
    BundleFixture fixture;
    fixture.writeIdentity();
    expectFailure(fixture.run({"--hotkey-plan"}), 1, "usage: --hotkey-plan <front bundle id>\n");
    expectFailure(fixture.run({"--hotkey-plan", "a", "b"}), 1, "usage: --hotkey-plan <front bundle id>\n");
    auto none = fixture.run({"--hotkey-plan", "com.example.editor"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
}

TEST(BadgePlanTool, HeadlessHasNoWindow) {
    BundleFixture fixture;
    auto result = fixture.run({"--badge-plan", R"({"badge":{"pid":4242,"text":"hi"}})"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              R"({"badge":false,"frame":null,"ignoresMouseEvents":true,"ms":600,"nonactivating":true,"pid":4242,"window":null})" "\n");
}

TEST(BadgePlanTool, Usage) {
    BundleFixture fixture;
    const std::string usage = "usage: --badge-plan '{\"badge\":{\"pid\":<pid>,\"text\":<text>,\"ms\":<ms>}}'\n";
    expectFailure(fixture.run({"--badge-plan"}), 1, usage);
    expectFailure(fixture.run({"--badge-plan", "not json"}), 1, usage);
    expectFailure(fixture.run({"--badge-plan", R"({"badge":{"pid":0}})"}), 1, usage);
    expectFailure(fixture.run({"--badge-plan", R"([{"badge":{"pid":1}}])"}), 1, usage);
    expectFailure(fixture.run({"--badge-plan", R"({"badge":{"pid":1}})", "x"}), 1, usage);
}

}  // namespace

TEST(DesktopEntryTool, RegistersTheBundleWithTheDesktopAndTakesItBack) {
    BundleFixture fixture("demo", "Our \"Demo\" 100%.app");
    fixture.writeInfo(Json{{"CFBundleIdentifier", "app.example.demo"},
                           {"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"demo", "Demo-Two"}}}}}});
    const fs::path data = fixture.home() / ".local" / "share";
    const fs::path mimeapps = fixture.home() / ".config" / "mimeapps.list";
    const std::string others = "[Default Applications]\ntext/html=browser.desktop\n"
                               "x-scheme-handler/demo=other.desktop;\n\n[Added Associations]\nimage/png=viewer.desktop;\n";
    writeText(mimeapps, others);
    const std::string usage = "usage: --desktop-entry on|off|status\n";
    expectFailure(fixture.run({"--desktop-entry"}), 1, usage);
    expectFailure(fixture.run({"--desktop-entry", "yes"}), 1, usage);

    struct Step {
        const char* mode;
        const char* printed;
    } steps[] = {{"status", "off\n"}, {"on", "on\n"}, {"status", "on\n"}};
    for (const auto& [mode, printed] : steps) {
        auto result = fixture.run({"--desktop-entry", mode});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(result.out, printed) << mode;
    }
    const std::string entry = readText(data / "applications" / "app.example.demo.desktop");
    const std::string exec = "Exec=\"" + fixture.root().string() + "/Our \\\\\"Demo\\\\\" 100%%.app/Contents/MacOS/demo\" %U\n";
    for (const std::string& line : {std::string("Name=Our \"Demo\" 100%\n"), exec, std::string("DBusActivatable=true\n"),
                                    std::string("MimeType=x-scheme-handler/demo;x-scheme-handler/demo-two;\n"),
                                    std::string("Actions=quit;\n"), std::string("[Desktop Action quit]\nName=Quit\n")}) {
        EXPECT_NE(entry.find(line), std::string::npos) << line << "\nin\n" << entry;
    }
    const std::string service = readText(data / "dbus-1" / "services" / "app.example.demo.service");
    EXPECT_NE(service.find("Name=app.example.demo\nExec='" + fixture.executable().string() + "'\n"), std::string::npos)
        << service;
    EXPECT_EQ(readText(mimeapps), "[Default Applications]\nx-scheme-handler/demo-two=app.example.demo.desktop;\n"
                                  "text/html=browser.desktop\n"
                                  "x-scheme-handler/demo=app.example.demo.desktop;other.desktop;\n\n"
                                  "[Added Associations]\nimage/png=viewer.desktop;\n");

    auto off = fixture.run({"--desktop-entry", "off"});
    EXPECT_EQ(off.out, "off\n");
    EXPECT_FALSE(fs::exists(data / "applications" / "app.example.demo.desktop"));
    EXPECT_FALSE(fs::exists(data / "dbus-1" / "services" / "app.example.demo.service"));
    EXPECT_EQ(readText(mimeapps), others);
}
