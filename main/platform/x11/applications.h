// The applications of a window system that lists client windows: an application is the process
// that owns top-level windows (by pid), hidden while every one of its windows is. What changed
// between two looks at the clients is told once per application and change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/desktop.h"

namespace host::platform::x11 {

struct ClientWindow {
    std::uint32_t window = 0;
    std::optional<std::int32_t> pid;  // none for a window that does not say
    std::string instance;             // the two parts of WM_CLASS
    std::string className;
    bool hidden = false;               // iconic
    bool normal = true;                // a normal window or a dialog, not a dock, utility, ...
};

struct Workspace {
    std::vector<RunningApplication> applications;  // in the order of their first windows
    std::set<std::int32_t> hidden;
    std::optional<std::int32_t> front;
};

// Names a new application from its first window.
using IdentifyTheApplication = std::function<RunningApplication(std::int32_t pid, const ClientWindow& first)>;

// The workspace the clients (in client-list order) make; applications already in `before` keep
// their names, new ones are identified. An application with a normal window is regular, one
// without is an accessory. The front is the application of the active window.
Workspace workspaceOf(const std::vector<ClientWindow>& clients, std::optional<std::uint32_t> activeWindow,
                      const Workspace& before, const IdentifyTheApplication& identify);

using WorkspaceChanges = std::vector<std::pair<WorkspaceChange, RunningApplication>>;

// Launches, terminations, hides, unhides, then the activation, each once.
WorkspaceChanges changesBetween(const Workspace& before, const Workspace& after);

}  // namespace host::platform::x11
