// The host's reading of its bundle and runtime file, seen from outside: fatal messages, exit
// status 66 and silence on standard output.
#include <gtest/gtest.h>

#include "bundle-fixture.h"

using namespace testing_support;

namespace {

constexpr int unusable = 66;

void expectUnavailable(const RunResult& result, const std::string& message) {
    EXPECT_EQ(result.status, unusable);
    EXPECT_EQ(result.err, "runtime is unavailable: " + message + "\n");
    EXPECT_EQ(result.out, "");
}

TEST(Configuration, MissingIdentifierIsFatal) {
    BundleFixture fixture;
    fixture.writeInfo(Json{{"CFBundleName", "Demo"}});
    fixture.writeRunnableRuntime("demo-runtime.json");
    expectUnavailable(fixture.run({}), "CFBundleIdentifier is missing");
    expectUnavailable(fixture.run({"--which-runtime"}), "CFBundleIdentifier is missing");
}

TEST(Configuration, NoInfoPlistAtAllIsAMissingIdentifier) {
    BundleFixture fixture;
    expectUnavailable(fixture.run({"--which-runtime"}), "CFBundleIdentifier is missing");
}

TEST(Configuration, RuntimeFileChoice) {
    BundleFixture fixture;
    fixture.writeIdentity();
    expectUnavailable(fixture.run({"--which-runtime"}),
                      "Contents/Resources holds 0 *-runtime.json, none is demo-runtime.json");

    fixture.writeRunnableRuntime("other-runtime.json");
    auto single = fixture.run({"--which-runtime"});
    EXPECT_EQ(single.status, 0);
    EXPECT_EQ(single.out, "other-runtime.json\n");

    fixture.writeRunnableRuntime("third-runtime.json");
    expectUnavailable(fixture.run({"--which-runtime"}),
                      "Contents/Resources holds 2 *-runtime.json, none is demo-runtime.json");

    fixture.writeRunnableRuntime("demo-runtime.json");
    auto exact = fixture.run({"--which-runtime", "extra"});
    EXPECT_EQ(exact.status, 0);
    EXPECT_EQ(exact.out, "demo-runtime.json\n");
    EXPECT_EQ(exact.err, "");
}

TEST(Configuration, AnotherNameLooksForItsOwnRuntimeFile) {
    BundleFixture fixture;
    fixture.writeIdentity();
    fixture.writeRunnableRuntime("demo-runtime.json");
    fixture.writeRunnableRuntime("helper-runtime.json");
    auto link = fixture.linkTheHostAs("helper");
    auto result = fixture.run({"--which-runtime"}, "", {}, link.string());
    EXPECT_EQ(result.out, "helper-runtime.json\n");
}

TEST(Configuration, BinaryInfoPlistIsRead) {
    BundleFixture fixture;
    fixture.writeInfo(Json{{"CFBundleIdentifier", "app.example.binary"}}, true);
    fixture.writeRunnableRuntime("demo-runtime.json");
    auto result = fixture.run({"--which-runtime"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "demo-runtime.json\n");
}

// A binary list whose one key is "é", U+0000, "x": the plist library would abort on that key.
TEST(Configuration, AnInfoPlistTheHostCannotTakeIsUnusableNotAnAbort) {
    BundleFixture fixture;
    writeText(fixture.contents() / "Info.plist",
              std::string("bplist00\xd1\x01\x02\x63\x00\xe9\x00\x00\x00\x78\x51\x61\x08\x0b\x12", 23) +
                  std::string(6, '\0') + "\x01\x01" + std::string(7, '\0') + "\x03" + std::string(15, '\0') + "\x14");
    fixture.writeRunnableRuntime("demo-runtime.json");
    expectUnavailable(fixture.run({"--which-runtime"}), "CFBundleIdentifier is missing");
}

TEST(Configuration, RuntimeFileThatIsNotAnObject) {
    BundleFixture fixture;
    fixture.writeIdentity();
    const std::string deep = "{\"menu\": " + std::string(200000, '[') + std::string(200000, ']') + "}";
    for (std::string text : {std::string("[1, 2]"), std::string("{not json"), std::string(), deep}) {
        fixture.writeResource("demo-runtime.json", text);
        expectUnavailable(fixture.run({}), "demo-runtime.json is not a JSON object");
    }
}

TEST(Configuration, ProgramChoiceFailures) {
    BundleFixture fixture;
    fixture.writeIdentity();
    std::string plain = (fixture.root() / "plain.txt").string();
    writeText(plain, "not a program");
    fixture.writeRuntime("demo-runtime.json", Json{{"shell", plain}});
    expectUnavailable(fixture.run({}), "neither executable nor bun");

    fixture.writeRuntime("demo-runtime.json", Json{{"bun", plain}, {"shell", plain}});
    expectUnavailable(fixture.run({}), plain + " is not executable");

    fixture.writeRuntime("demo-runtime.json", Json{{"bun", "/bin/sh"}, {"shell", (fixture.root() / "absent.ts").string()}});
    expectUnavailable(fixture.run({}), "shell is missing");

    fixture.writeRuntime("demo-runtime.json", Json{{"bun", "/bin/sh"}});
    expectUnavailable(fixture.run({}), "shell is missing");
}

TEST(Configuration, FrozenShellThatIsNotThereNamesTheMainBundle) {
    BundleFixture fixture;
    fixture.writeInfo(Json{{"CFBundleIdentifier", "app.example.demo"}, {"CFBundleName", "Demo"}});
    fixture.writeRuntime("demo-runtime.json", Json{{"executable", "frozen-shell"}});
    expectUnavailable(fixture.run({}), (fixture.contents() / "MacOS" / "frozen-shell").string() + " is not executable");
}

TEST(Configuration, BunInBundleThatIsNotExecutableFallsBackToBun) {
    BundleFixture fixture;
    fixture.writeIdentity();
    writeText(fixture.contents() / "Resources" / "bun", "not a program");
    fixture.writeRuntime("demo-runtime.json",
                         Json{{"bunInBundle", "Contents/Resources/bun"}, {"bun", "Contents/Resources/bun"}, {"shell", "/"}});
    // The fallback "bun" is taken as written, relative to the working folder, not the bundle.
    expectUnavailable(fixture.run({}), "Contents/Resources/bun is not executable");
}

TEST(Configuration, BunValueIsTildeExpanded) {
    BundleFixture fixture;
    fixture.writeIdentity();
    fixture.writeRuntime("demo-runtime.json", Json{{"bun", "~/bin/bun"}, {"shell", "/"}});
    expectUnavailable(fixture.run({}), (fixture.home() / "bin" / "bun").string() + " is not executable");
}

}  // namespace
