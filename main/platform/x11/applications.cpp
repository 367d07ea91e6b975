#include "platform/x11/applications.h"

#include <algorithm>

namespace host::platform::x11 {
namespace {

const RunningApplication* applicationOf(const Workspace& workspace, std::int32_t pid) {
    auto found = std::find_if(workspace.applications.begin(), workspace.applications.end(),
                              [pid](const RunningApplication& application) { return application.pid == pid; });
    return found == workspace.applications.end() ? nullptr : &*found;
}

}  // namespace

Workspace workspaceOf(const std::vector<ClientWindow>& clients, std::optional<std::uint32_t> activeWindow,
                      const Workspace& before, const IdentifyTheApplication& identify) {
    Workspace after;
    std::set<std::int32_t> shown;
    std::set<std::int32_t> regular;
    for (const ClientWindow& client : clients) {
        if (!client.pid) continue;
        const std::int32_t pid = *client.pid;
        if (!applicationOf(after, pid)) {
            const RunningApplication* known = applicationOf(before, pid);
            after.applications.push_back(known ? *known : identify(pid, client));
        }
        if (!client.hidden) shown.insert(pid);
        if (client.normal) regular.insert(pid);
        if (activeWindow == client.window) after.front = pid;
    }
    for (RunningApplication& application : after.applications) {
        application.policy = regular.contains(application.pid) ? ActivationPolicy::regular : ActivationPolicy::accessory;
        if (!shown.contains(application.pid)) after.hidden.insert(application.pid);
    }
    return after;
}

WorkspaceChanges changesBetween(const Workspace& before, const Workspace& after) {
    WorkspaceChanges changes;
    for (const RunningApplication& application : after.applications) {
        if (!applicationOf(before, application.pid)) changes.emplace_back(WorkspaceChange::launched, application);
    }
    for (const RunningApplication& application : before.applications) {
        if (!applicationOf(after, application.pid)) changes.emplace_back(WorkspaceChange::terminated, application);
    }
    for (const RunningApplication& application : after.applications) {
        const bool hidden = after.hidden.contains(application.pid);
        if (hidden != before.hidden.contains(application.pid)) {
            changes.emplace_back(hidden ? WorkspaceChange::hidden : WorkspaceChange::unhidden, application);
        }
    }
    if (after.front && after.front != before.front) {
        changes.emplace_back(WorkspaceChange::activated, *applicationOf(after, *after.front));
    }
    return changes;
}

}  // namespace host::platform::x11
