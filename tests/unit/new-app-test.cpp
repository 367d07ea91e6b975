#include <gtest/gtest.h>

#include "start-up/new-app.h"

namespace host {
namespace {

TEST(NewAppRequest, NamesAndSchemesFollowFromTheArguments) {
    struct Case {
        Arguments arguments;
        std::string bundle, executable, scheme;
    };
    const Case cases[] = {
        {{"--new-app", "/a", "--name", "Hello", "--id", "org.x.hello"}, "/a/Hello.app", "hello", "hello"},
        {{"--new-app", "/a", "--name", "My App 2", "--id", "org.x.y"}, "/a/My App 2.app", "my-app-2", "myapp2"},
        {{"--new-app", "/a/Custom.app", "--name", "Hello", "--id", "x.y"}, "/a/Custom.app", "hello", "hello"},
        {{"--new-app", "/a", "--id", "x.y", "--name", "2 Go", "--scheme", "GoGo"}, "/a/2 Go.app", "2-go", "gogo"},
        {{"--new-app", "/a", "--name", "42", "--id", "x.y"}, "/a/42.app", "42", "app42"},
        {{"--new-app", "/a", "--name", "Ünïcode", "--id", "x.y"}, "/a/Ünïcode.app", "n-code", "ncode"},
    };
    for (const Case& each : cases) {
        std::string why;
        auto request = newAppRequestOf(each.arguments, &why);
        ASSERT_TRUE(request) << why;
        EXPECT_EQ(request->bundle, each.bundle);
        EXPECT_EQ(request->executable, each.executable);
        EXPECT_EQ(request->scheme, each.scheme);
    }
}

TEST(NewAppRequest, BadArgumentsAreRefusedWithAReason) {
    const Arguments cases[] = {
        {"--new-app"},
        {"--new-app", "/a", "--name", "Hello"},
        {"--new-app", "/a", "--name", "Hello", "--id"},
        {"--new-app", "/a", "--name", "Hello", "--id", "x.y", "--colour", "red"},
        {"--new-app", "/a", "--name", "a/b", "--id", "x.y"},
        {"--new-app", "/a", "--name", "Hello", "--id", "has space"},
        {"--new-app", "/a", "--name", "Hello", "--id", "x.y", "--scheme", "1abc"},
    };
    for (const Arguments& arguments : cases) {
        std::string why;
        EXPECT_FALSE(newAppRequestOf(arguments, &why)) << arguments.back();
        EXPECT_FALSE(why.empty());
    }
}

}  // namespace
}  // namespace host
