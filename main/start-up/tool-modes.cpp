#include "start-up/tool-modes.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "badges/badge-geometry.h"
#include "support/json.h"

namespace host {
namespace fs = std::filesystem;

namespace {

const char* loginUsage = "usage: --login on|off|status\n";
const char* desktopEntryUsage = "usage: --desktop-entry on|off|status\n";
const char* hotKeyPlanUsage = "usage: --hotkey-plan <front bundle id>\n";
const char* badgePlanUsage = "usage: --badge-plan '{\"badge\":{\"pid\":<pid>,\"text\":<text>,\"ms\":<ms>}}'\n";

ToolResult failure(std::string text, int status) { return ToolResult{"", std::move(text), status}; }

const char* statusName(platform::LoginStatus status) {
    switch (status) {
    case platform::LoginStatus::enabled: return "enabled";
    case platform::LoginStatus::requiresApproval: return "requiresApproval";
    case platform::LoginStatus::notFound: return "notFound";
    default: return "notRegistered";
    }
}

struct AgentRow {
    std::string plist;
    std::string status;
};

std::string jsonString(const std::string& text) {
    return Json(text).dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Names are escaped as JSON strings, so a quote in a file name cannot break the line.
std::string loginLine(const std::vector<AgentRow>& rows, const std::string& mainPlist) {
    auto main = std::find_if(rows.begin(), rows.end(), [&](const AgentRow& row) { return row.plist == mainPlist; });
    if (main == rows.end()) main = rows.begin();
    bool allEnabled = std::all_of(rows.begin(), rows.end(), [](const AgentRow& row) { return row.status == "enabled"; });
    std::string agents;
    for (const auto& row : rows) {
        if (!agents.empty()) agents += ",";
        agents += "{\"plist\":" + jsonString(row.plist) + ",\"status\":\"" + row.status + "\"}";
    }
    return std::string("{\"login\":\"") + (allEnabled ? "on" : "off") + "\",\"status\":\"" + main->status +
           "\",\"agents\":[" + agents + "]}\n";
}

}  // namespace

ToolResult publishTheMenuFromStdin(const std::string& input) {
    std::string why;
    auto parsed = parsedJson(input, &why);
    if (!parsed) return failure("menu publication: " + why + "\n", 2);
    const Json* publication = arrayMember(*parsed, "publication");
    if (!publication || !isArrayOfObjects(*publication)) return failure("expected TS menu publication on stdin\n", 2);
    auto text = sortedJson(*publication);
    if (!text) return failure("menu publication: the publication cannot be written as JSON\n", 2);
    return ToolResult{*text, "", 0};
}

std::vector<std::string> launchAgentPlists(const std::string& bundleDirectory) {
    std::vector<std::string> names;
    std::error_code error;
    fs::path folder = fs::path(bundleDirectory) / "Contents" / "Library" / "LaunchAgents";
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.size() > 6 && name.ends_with(".plist")) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

ToolResult answerTheLogin(const Arguments& commandLine, const std::optional<std::string>& identity,
                          const std::vector<std::string>& agentPlists, platform::LoginItems& items) {
    bool known = commandLine.size() == 2 &&
                 (commandLine[1] == "on" || commandLine[1] == "off" || commandLine[1] == "status");
    if (!known || !identity) return failure(loginUsage, 1);
    const std::string& mode = commandLine[1];
    std::string mainPlist = *identity + ".plist";
    std::vector<std::string> plists = agentPlists.empty() ? std::vector<std::string>{mainPlist} : agentPlists;
    for (const auto& plist : plists) {
        std::string error;
        bool done = mode == "on" ? items.enable(plist, &error) : mode == "off" ? items.disable(plist, &error) : true;
        if (!done) return failure("login " + mode + " " + plist + " failed: " + error + "\n", 1);
    }
    std::vector<AgentRow> rows;
    for (const auto& plist : plists) rows.push_back({plist, statusName(items.status(plist))});
    return ToolResult{loginLine(rows, mainPlist), "", 0};
}

ToolResult answerTheDesktopEntry(const Arguments& commandLine, const std::optional<platform::DesktopEntry>& entry) {
    const bool known = commandLine.size() == 2 &&
                       (commandLine[1] == "on" || commandLine[1] == "off" || commandLine[1] == "status");
    if (!known || !entry) return failure(desktopEntryUsage, 1);
    const std::string& mode = commandLine[1];
    std::string error;
    const bool done = mode == "on"    ? platform::writeTheDesktopEntry(*entry, &error)
                      : mode == "off" ? platform::removeTheDesktopEntry(entry->identity, &error)
                                      : true;
    if (!done) return failure("desktop-entry " + mode + " failed: " + error + "\n", 1);
    return ToolResult{platform::hasTheDesktopEntry(entry->identity) ? "on\n" : "off\n", "", 0};
}

ToolResult planTheHotKeys(const Arguments& commandLine, const std::vector<HotKey>& declaredHotKeys) {
    if (commandLine.size() != 2) return failure(hotKeyPlanUsage, 1);
    std::optional<std::string> front = commandLine[1];
    std::string out;
    for (const auto& hotKey : declaredHotKeys) {
        Json row = {{"key", hotKey.key}, {"url", hotKey.url}, {"when", hotKey.when},
                    {"registers", registersNow(hotKey.when, front)}};
        out += jsonLine(row) + "\n";
    }
    return ToolResult{out, "", 0};
}

ToolResult planTheBadge(const Arguments& commandLine, const std::vector<platform::OnScreenWindow>& windows) {
    if (commandLine.size() != 2) return failure(badgePlanUsage, 1);
    auto message = parsedJson(commandLine[1]);
    std::optional<Badge> badge = message && message->is_object() ? badgeOf(*message) : std::nullopt;
    if (!badge) return failure(badgePlanUsage, 1);
    auto window = frontWindowOf(badge->pid, windows);
    std::optional<platform::Rect> frame;
    if (window) frame = badgeFrame(*window);
    Json plan = {{"badge", window.has_value()}, {"pid", badge->pid}, {"ms", badge->ms},
                 {"nonactivating", true}, {"ignoresMouseEvents", true},
                 {"window", rectRow(window)}, {"frame", rectRow(frame)}};
    return ToolResult{jsonLine(plan) + "\n", "", 0};
}

}  // namespace host
