// The shell's panels, drawn by the views library: "panel" messages become calls of the library's
// <name>_prepare, _open, _update and _close entry points, and the library's actions come back
// to the shell as {"act": text}. The same loaded library carries the updater's entry points.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "platform/loaded-library.h"
#include "start-up/child-environment.h"
#include "support/json.h"

namespace host {

inline constexpr const char* viewsLibraryVariable = "SWIFT_VIEWS_DYLIB";

// Where the views library is: the environment's SWIFT_VIEWS_DYLIB when that file exists, else
// the bundle's Contents/Frameworks/libViews.dylib when it exists, else that place in the
// outermost application bundle around this one (unchecked).
std::string viewsPathOf(const Environment& environment, const std::filesystem::path& bundleDirectory);

// Loads the views library on first need and keeps it for the process's life; a failed load is
// tried again at the next need. Main thread only.
class PanelHost {
public:
    using Loader = std::function<std::unique_ptr<platform::LoadedLibrary>(const std::string& path, std::string* error)>;

    explicit PanelHost(std::string viewsPath, Loader loader = platform::loadLibrary);
    PanelHost(const PanelHost&) = delete;
    PanelHost& operator=(const PanelHost&) = delete;

    // Performs one "panel" object: {"name", "call", "look"}. A bad name or call is ignored; a
    // library or entry that cannot be found is recorded as "panel-entry-missing" in the
    // shell's log.
    void call(const Json& panel);
    // Calls <name>_close for every panel ever prepared or opened; missing entries are skipped.
    void closeAll();
    // The library's entry point, loading the library if needed; null with the loader's text in
    // *error ("" when it gave none).
    platform::LibraryEntry entry(const std::string& symbol, std::string* error = nullptr);

    const std::string& viewsPath() const { return viewsPath_; }
    const std::set<std::string>& opened() const { return opened_; }

private:
    std::unique_ptr<platform::LoadedLibrary> library_;
    std::set<std::string> opened_;  // only grows
    std::string viewsPath_;
    Loader loader_;
};

// The one panel host, made at start-up whether or not panels are hosted.
void makeThePanelHost(std::string viewsPath);
PanelHost& panelHost();

}  // namespace host

// The callback handed to the library: sends {"act": text} to the shell, from the main thread
// now, from any other thread through the main queue. A null text is ignored.
extern "C" void panelAct(const char* text);
