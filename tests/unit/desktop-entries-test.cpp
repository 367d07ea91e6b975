// Which desktop entry names an application, from its window's class or its executable.
#include <gtest/gtest.h>

#include "bundle-fixture.h"
#include "platform/x11/desktop-entries.h"

using host::platform::x11::DesktopEntries;
using testing_support::TemporaryFolder;
using testing_support::writeText;

namespace {

namespace fs = std::filesystem;

void writeEntry(const fs::path& file, const std::string& name, const std::string& more) {
    writeText(file, "[Desktop Entry]\nType=Application\nName=" + name + "\n" + more);
}

struct Lookup {
    std::string className;
    std::string instance;
    std::optional<fs::path> executable;
    std::optional<std::string> id;  // none: no entry fits
    std::string name;
};

TEST(DesktopEntries, TheClassThenTheInstanceThenTheProgramNameTheApplication) {
    TemporaryFolder folder;
    const fs::path home = folder.path() / "home", system = folder.path() / "system";
    writeEntry(home / "org.example.Editor.desktop", "Editor", "StartupWMClass=Editor\nExec=editor\n");
    writeEntry(home / "viewer.desktop", "Viewer", "StartupWMClass=view\n");
    writeEntry(home / "shell.desktop", "Shell", "Exec=env LANG=C sh -c true\n");
    writeEntry(home / "kit/tool.desktop", "Tool", "Exec=\"" + (folder.path() / "bin/my tool").string() + "\" %U\n");
    writeEntry(home / "gone.desktop", "Gone", "Hidden=true\n");
    writeEntry(system / "gone.desktop", "Gone below", "StartupWMClass=Gone\n");
    writeEntry(system / "viewer.desktop", "Viewer below", "StartupWMClass=Viewer\n");
    writeText(system / "link.desktop", "[Desktop Entry]\nType=Link\nName=Link\nStartupWMClass=Link\n");
    writeText(folder.path() / "bin/my tool", "", true);
    const DesktopEntries entries({home, system});

    const Lookup lookups[] = {
        {"Editor", "editor", std::nullopt, "org.example.Editor", "Editor"},
        {"Viewer", "view", std::nullopt, "viewer", "Viewer"},  // the same id higher up wins
        {"Other", "view", std::nullopt, "viewer", "Viewer"},
        {"X", "x", fs::path("/bin/sh"), "shell", "Shell"},
        {"X", "x", folder.path() / "bin/my tool", "kit-tool", "Tool"},
        {"Gone", "gone", std::nullopt, std::nullopt, ""},  // hidden higher up
        {"Link", "link", std::nullopt, std::nullopt, ""},  // not an application
        {"X", "x", fs::path("/bin/true"), std::nullopt, ""},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.className + "/" + lookup.instance);
        const auto* entry = entries.entryOf(lookup.className, lookup.instance, lookup.executable);
        ASSERT_EQ(entry != nullptr, lookup.id.has_value());
        if (!entry) continue;
        EXPECT_EQ(entry->id, *lookup.id);
        EXPECT_EQ(entry->name, lookup.name);
    }
}

TEST(DesktopEntries, AreReadAgainOnceTheirFolderChanged) {
    TemporaryFolder folder;
    // A folder changed just now could look unchanged to a coarse clock.
    fs::last_write_time(folder.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    DesktopEntries entries({folder.path()});
    EXPECT_EQ(entries.entryOf("New", "new", std::nullopt), nullptr);
    writeEntry(folder.path() / "new.desktop", "New", "StartupWMClass=New\n");
    entries.readAgainWhenChanged();
    ASSERT_NE(entries.entryOf("New", "new", std::nullopt), nullptr);
}

}  // namespace
