#include "support/on-demand.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using host::OnDemandLibraries;

// zlib stands in for the libraries the host loads on demand: every test machine has it.
TEST(OnDemandLibraries, FindsEachSymbolInWhicheverLibraryHasIt) {
    OnDemandLibraries libraries{"libz.so.1", "libplist-2.0.so.3"};
    std::string why = "untouched";
    EXPECT_TRUE(libraries.load(&why));
    EXPECT_EQ(why, "untouched");
    EXPECT_NE(libraries.symbol("zlibVersion"), nullptr);
    EXPECT_NE(libraries.symbol("plist_new_dict"), nullptr);
    EXPECT_EQ(libraries.symbol("no_such_function_anywhere"), nullptr);
}

// One missing library leaves none loaded, so that no forwarder finds half a set.
TEST(OnDemandLibraries, OneMissingLibraryLoadsNoneAndSaysWhich) {
    struct Case {
        const char* name;
        OnDemandLibraries libraries;
    } cases[] = {
        {"alone", OnDemandLibraries{"libno-such-library.so.7"}},
        {"last", OnDemandLibraries{"libz.so.1", "libno-such-library.so.7"}},
        {"first", OnDemandLibraries{"libno-such-library.so.7", "libz.so.1"}},
    };
    for (auto& [name, libraries] : cases) {
        std::string why;
        EXPECT_FALSE(libraries.load(&why)) << name;
        EXPECT_NE(why.find("libno-such-library.so.7"), std::string::npos) << name << ": " << why;
        EXPECT_EQ(libraries.symbol("zlibVersion"), nullptr) << name;
        std::string again;
        EXPECT_FALSE(libraries.load(&again)) << name;
        EXPECT_EQ(again, why) << name << ": the second answer is the first";
    }
}

}  // namespace
