// The panel host over a library held in memory: which entry is called with what and the names
// and calls it refuses; and where the views library is looked for. Loading, missing entries and
// closing are tested through the real host and library (tests/integration/panels-test.cpp).
#include <gtest/gtest.h>

#include <map>

#include "bundle-fixture.h"
#include "child/death-log.h"
#include "panels/panel-host.h"
#include "panels/views-entry-points.h"
#include "running-host.h"

using namespace host;
using testing_support::recordsOf;
using testing_support::TemporaryFolder;
using testing_support::writeText;

namespace {

namespace fs = std::filesystem;

// What the entries below were called with, one line each.
std::vector<std::string> calls;
ViewsPanelAct lastCallback = nullptr;

template <const char* name>
void shown(const char* look, ViewsPanelAct act) {
    calls.push_back(std::string(name) + " " + look);
    lastCallback = act;
}
template <const char* name>
void updated(const char* look) { calls.push_back(std::string(name) + " " + look); }
template <const char* name>
void closed() { calls.push_back(name); }

constexpr char myPanelOpen[] = "my_panel_open", myPanelPrepare[] = "my_panel_prepare",
               myPanelUpdate[] = "my_panel_update", myPanelClose[] = "my_panel_close", letterOpen[] = "größe_open";

template <typename Signature>
platform::LibraryEntry entry(Signature function) {
    return reinterpret_cast<platform::LibraryEntry>(function);
}

class FakeLibrary : public platform::LoadedLibrary {
public:
    platform::LibraryEntry entry(const std::string& symbol, std::string* error) const override {
        static const std::map<std::string, platform::LibraryEntry> entries = {
            {"my_panel_open", ::entry(&shown<myPanelOpen>)},     {"my_panel_prepare", ::entry(&shown<myPanelPrepare>)},
            {"my_panel_update", ::entry(&updated<myPanelUpdate>)}, {"my_panel_close", ::entry(&closed<myPanelClose>)},
            {"größe_open", ::entry(&shown<letterOpen>)},
            {"my_panel_explode", ::entry(&closed<myPanelClose>)}};
        auto found = entries.find(symbol);
        if (found != entries.end()) return found->second;
        *error = "undefined symbol: " + symbol;
        return nullptr;
    }
};

class PanelHostTest : public ::testing::Test {
protected:
    PanelHostTest() {
        calls.clear();
        lastCallback = nullptr;
        configureTheDeathLog(std::nullopt, folder.path());
    }

    PanelHost::Loader loader() {
        return [this](const std::string& path, std::string*) -> std::unique_ptr<platform::LoadedLibrary> {
            loads.push_back(path);
            return std::make_unique<FakeLibrary>();
        };
    }
    std::vector<Json> missingEntries() const { return recordsOf(folder.path() / "shell.jsonl", "panel-entry-missing"); }

    TemporaryFolder folder;
    std::vector<std::string> loads;
    PanelHost panels{"/Apps/Demo.app/Contents/Frameworks/libViews.dylib", loader()};
};

TEST_F(PanelHostTest, EachCallReachesItsEntryWithTheLookAndTheCallback) {
    panels.call({{"name", "my_panel"}, {"call", "prepare"}, {"look", "{\"title\":\"A\"}"}});
    EXPECT_EQ(lastCallback, &panelAct);
    panels.call({{"name", "my_panel"}, {"call", "open"}});
    panels.call({{"name", "my_panel"}, {"call", "update"}, {"look", "B"}});
    panels.call({{"name", "my_panel"}, {"call", "open"}, {"look", 42}});
    panels.call({{"name", "my_panel"}, {"call", "close"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"my_panel_prepare {\"title\":\"A\"}", "my_panel_open ", "my_panel_update B",
                                               "my_panel_open ", "my_panel_close"}));
    EXPECT_EQ(panels.opened(), (std::set<std::string>{"my_panel"}));
    EXPECT_EQ(loads.size(), 1u) << "the library is loaded once and kept";
}

TEST_F(PanelHostTest, BadNamesAndCallsAreIgnoredWithoutARecord) {
    for (const Json& panel : {Json{{"name", "my-panel"}, {"call", "open"}}, Json{{"name", "panel2"}, {"call", "open"}},
                              Json{{"name", "my_panel"}}, Json{{"call", "open"}}, Json{{"name", 7}, {"call", "open"}},
                              Json{{"name", "my_panel"}, {"call", true}}}) {
        panels.call(panel);
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(loads.empty());
    EXPECT_TRUE(missingEntries().empty());

    panels.call({{"name", "größe"}, {"call", "open"}});
    EXPECT_EQ(calls, (std::vector<std::string>{"größe_open "})) << "letters of any script make a name";
    panels.call({{"name", "my_panel"}, {"call", "explode"}});
    EXPECT_EQ(calls.size(), 1u) << "an entry that exists for an unknown call is looked up, never called";
    EXPECT_TRUE(missingEntries().empty());
}

class ViewsPath : public ::testing::Test {
protected:
    fs::path bundle(const std::string& relative) const { return folder.path() / relative; }
    void placeTheLibrary(const fs::path& bundleDirectory) const {
        writeText(bundleDirectory / "Contents" / "Frameworks" / "libViews.dylib", "");
    }
    TemporaryFolder folder;
};

TEST_F(ViewsPath, TheEnvironmentThenTheBundleThenTheOuterApplication) {
    const fs::path outer = bundle("Outer.app");
    const fs::path inner = outer / "Contents" / "Helpers" / "Inner.app";
    const std::string outerLibrary = (outer / "Contents" / "Frameworks" / "libViews.dylib").string();
    EXPECT_EQ(viewsPathOf({}, inner), outerLibrary) << "unchecked: nothing exists yet";

    placeTheLibrary(inner);
    EXPECT_EQ(viewsPathOf({}, inner), (inner / "Contents" / "Frameworks" / "libViews.dylib").string());

    const fs::path named = folder.path() / "elsewhere.so";
    EXPECT_EQ(viewsPathOf({{"SWIFT_VIEWS_DYLIB", named.string()}}, inner),
              (inner / "Contents" / "Frameworks" / "libViews.dylib").string())
        << "a named library that does not exist is passed over";
    writeText(named, "");
    EXPECT_EQ(viewsPathOf({{"SWIFT_VIEWS_DYLIB", named.string()}}, inner), named.string());
}

TEST_F(ViewsPath, ABundleOutsideAnyApplicationLooksInItself) {
    const fs::path alone = bundle("Tool.bundle");
    EXPECT_EQ(viewsPathOf({}, alone), alone.string() + "/Contents/Frameworks/libViews.dylib");
}

}  // namespace
