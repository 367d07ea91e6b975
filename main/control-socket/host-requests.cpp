#include "control-socket/host-requests.h"

#include <optional>

#include "child/messages-to-the-child.h"
#include "child/shell.h"
#include "links/url-intake.h"
#include "menu-bar-app-menu/menu-lifecycle.h"
#include "support/url.h"

namespace host {
namespace {

HostRequestSettings settings;

Json error(const char* text) { return {{"error", text}}; }

Json nullable(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

Json refreshed() {
    MenuOwner& owner = menuOwner();
    return {{"refreshed", owner.drawnOnce() && owner.publish()}};
}

// Judged as the intake judges it, so that a URL replied to as delivered is the one delivered.
bool isOurs(const std::string& url) {
    if (url.size() > settings.linkFileBytes) return false;
    auto scheme = schemeOf(url);
    return scheme && settings.schemes.count(*scheme) > 0;
}

Json takenIn(const std::string& url) {
    if (!isOurs(url)) return {{"error", "url-scheme-not-mine"}, {"url", url}};
    arrived(url, std::nullopt, std::nullopt);
    auto pid = shellPid();
    return {{"delivered", url}, {"shell", shellIsRunning() && pid ? Json(*pid) : Json(nullptr)}};
}

// Picked only when the client saw the row's current title, so a changed menu is never acted on.
Json invoked(const std::string& id, const std::string* title) {
    std::optional<std::string> current = menuOwner().titleOf(id);
    if (!current || !title || *title != *current) {
        return {{"error", "invoke-row-changed"}, {"id", id}, {"title", nullable(current)}};
    }
    if (!sendMenuPickToTheChild(id, *current, std::nullopt)) return {{"error", "shell-not-listening"}, {"id", id}};
    return {{"invoked", id}, {"title", *current}};
}

}  // namespace

void configureTheHostRequests(HostRequestSettings newSettings) { settings = std::move(newSettings); }

Json answer(std::string_view line) {
    std::optional<Json> request = parsedJson(line);
    if (!request || !request->is_object()) return error("not-json");
    if (boolMember(*request, "refresh").value_or(false)) return refreshed();
    if (const std::string* url = stringMember(*request, "url")) return takenIn(*url);
    if (const std::string* id = stringMember(*request, "invoke")) return invoked(*id, stringMember(*request, "title"));
    return error("unknown-request");
}

}  // namespace host
