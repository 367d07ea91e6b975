// Reading a bundle's runtime file and Info.plist keys into the host's configuration.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "start-up/bundle.h"
#include "updates/update-choices.h"

using namespace host;
using testing_support::BundleFixture;

namespace {

class RuntimeConfigurationTest : public ::testing::Test {
protected:
    std::optional<RuntimeConfiguration> read(const Json& info, Json runtime = Json::object(),
                                             const std::string& file = "demo-runtime.json") {
        Json withIdentity = info;
        withIdentity["CFBundleIdentifier"] = "app.example.demo";
        fixture.writeInfo(withIdentity);
        fixture.writeRunnableRuntime(file, std::move(runtime));
        Bundle bundle = bundleOfExecutable(fixture.executable());
        return readTheRuntime(bundle, "app.example.demo", file, fixture.home(), &why);
    }

    BundleFixture fixture;
    std::string why;
};

TEST_F(RuntimeConfigurationTest, SchemesMergeLowercased) {
    auto config = read({{"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"Foo", "Bar"}}}, {{"CFBundleURLName", "x"}}}},
                        {"WickerlyURLSchemes", {"foo", "BAZ"}}});
    ASSERT_TRUE(config) << why;
    EXPECT_EQ(config->schemes, (std::set<std::string>{"foo", "bar", "baz"}));
    EXPECT_TRUE(config->piped);
}

TEST_F(RuntimeConfigurationTest, WrongTypesCountAsAbsent) {
    auto config = read({{"CFBundleURLTypes", {{{"CFBundleURLSchemes", {"foo"}}}, "not a dictionary"}},
                        {"WickerlyURLSchemes", {"ok", 3}},
                        {"NSServices", {{{"NSMessage", "open"}}, 1}},
                        {"WickerlyLinkExtension", 5}},
                       {{"menu", 1}});
    ASSERT_TRUE(config) << why;
    EXPECT_TRUE(config->schemes.empty());
    EXPECT_TRUE(config->services.empty());
    EXPECT_FALSE(config->piped);
    EXPECT_FALSE(config->linkExtension);
    EXPECT_EQ(config->runtimeValue("menu"), nullptr);
    EXPECT_EQ(config->runtimeObject["menu"], 1);
}

TEST_F(RuntimeConfigurationTest, LinkKeysAndMenuFlag) {
    auto config = read({{"NSServices", {{{"NSMessage", "open"}}}},
                        {"WickerlyLinkExtension", "WLink"},
                        {"WickerlyFileExtension", "WFile"},
                        {"WickerlyFileLink", "Head:"},
                        {"WickerlyLinkRelayPrefix", "HTTPS://Relay/"}},
                       {{"menu", "child"}});
    ASSERT_TRUE(config) << why;
    EXPECT_TRUE(config->piped);
    EXPECT_TRUE(config->drawsTheChildsMenu);
    EXPECT_EQ(config->linkExtension, "wlink");
    EXPECT_EQ(config->fileExtension, "wfile");
    EXPECT_EQ(config->fileLinkHead, "Head:");
    EXPECT_EQ(config->linkRelayPrefix, "https://relay/");

    auto notPiped = read(Json::object(), {{"menu", "child"}});
    ASSERT_TRUE(notPiped);
    EXPECT_FALSE(notPiped->drawsTheChildsMenu);
}

TEST_F(RuntimeConfigurationTest, UnitPrefixAndTildeExpansion) {
    auto config = read(Json::object(), {{"logs", "~/logs"}, {"data", "~user/x"}}, "my-app-runtime.json");
    ASSERT_TRUE(config) << why;
    EXPECT_EQ(config->unit, "my-app");
    EXPECT_EQ(config->prefix, "MY_APP_");
    EXPECT_EQ(*config->runtimeValue("logs"), (fixture.home() / "logs").string());
    EXPECT_EQ(*config->runtimeValue("data"), "~user/x");

    auto empty = read(Json::object(), Json::object(), "-runtime.json");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->unit, "");
    EXPECT_EQ(empty->prefix, "_");
}

TEST_F(RuntimeConfigurationTest, FrozenShellPrefersTheHelperBundle) {
    testing_support::writeText(fixture.contents() / "Helpers" / "Demo.app" / "Contents" / "MacOS" / "shell", "#!/bin/sh\n", true);
    auto config = read({{"CFBundleName", "Demo"}}, {{"executable", "shell"}});
    ASSERT_TRUE(config) << why;
    EXPECT_EQ(config->frozen, (fixture.contents() / "Helpers" / "Demo.app" / "Contents" / "MacOS" / "shell").string());
    EXPECT_EQ(config->executable, config->frozen);
}

TEST_F(RuntimeConfigurationTest, BunInBundleIsResolvedAgainstTheBundle) {
    testing_support::writeText(fixture.contents() / "Resources" / "bun", "#!/bin/sh\n", true);
    auto config = read(Json::object(), {{"bunInBundle", "Contents/Resources/bun"}});
    ASSERT_TRUE(config) << why;
    EXPECT_EQ(config->executable, (fixture.bundle() / "Contents/Resources/bun").string());
}

TEST(UpdateChoices, DecodesOnlyCompleteChoices) {
    Json runtime = {{"updateChoices", {{"key", "Channel"}, {"rows", {{{"id", "host.beta"}, {"choice", "beta"}, {"feed", "https://f/b"}, {"extra", 1}}}}}}};
    auto choices = updateChoicesOf(runtime);
    ASSERT_TRUE(choices);
    EXPECT_EQ(choices->key, "Channel");
    ASSERT_EQ(choices->rows.size(), 1u);
    EXPECT_EQ(choices->rows[0].feed, "https://f/b");

    EXPECT_FALSE(updateChoicesOf({{"updateChoices", {{"rows", Json::array()}}}}));
    EXPECT_FALSE(updateChoicesOf({{"updateChoices", {{"key", "k"}, {"rows", {{{"id", "a"}, {"choice", "b"}}}}}}}));
    EXPECT_FALSE(updateChoicesOf({{"updateChoices", "beta"}}));
    EXPECT_FALSE(updateChoicesOf(Json::object()));
}

TEST(MenuAttribution, NeedsAHostRowATitleAndAnHttpsURL) {
    auto attribution = [](Json value) { return menuAttributionOf({{"menuAttribution", value}}); };
    auto good = attribution({{"id", "host.about"}, {"title", "About"}, {"url", "https://example.com/about"}});
    ASSERT_TRUE(good);
    EXPECT_EQ(good->url, "https://example.com/about");
    EXPECT_FALSE(attribution({{"id", "about"}, {"title", "About"}, {"url", "https://example.com"}}));
    EXPECT_FALSE(attribution({{"id", "host.about"}, {"title", ""}, {"url", "https://example.com"}}));
    EXPECT_FALSE(attribution({{"id", "host.about"}, {"title", "About"}, {"url", "http://example.com"}}));
    EXPECT_FALSE(attribution({{"id", "host.about"}, {"title", "About"}, {"url", "HTTPS://example.com"}}));
    EXPECT_FALSE(attribution({{"id", "host.about"}, {"title", "About"}, {"url", "https:///path"}}));
    EXPECT_FALSE(attribution({{"id", "host.about"}, {"title", "About"}, {"url", "https://example.com"}, {"n", 1}}));
}

TEST(JsonLine, SortsKeysAndWritesIntegralNumbersAsIntegers) {
    EXPECT_EQ(jsonLine({{"b", 1.0}, {"a", {1.5, 2.0}}, {"c", "/"}}), R"({"a":[1.5,2],"b":1,"c":"/"})");
    EXPECT_EQ(jsonLine({{"s", std::string("\xff")}}), "{\"s\":\"\xEF\xBF\xBD\"}");
}

}  // namespace
