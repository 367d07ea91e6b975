#include "desktop-session.h"

namespace testing_support {

DesktopSession::DesktopSession(const BundleFixture& fixture, std::vector<Json> setup,
                               std::vector<std::string> arguments, std::map<std::string, std::string> extra,
                               const fs::path& program)
    : peer_(std::make_unique<desktop::Peer>()) {
    // The fixture's folder is short enough for a socket path.
    why_ = peer_->listen((fixture.root() / "desktop.sock").string());
    if (!why_.empty()) return;
    extra["MENU_BAR_DESKTOP"] = peer_->path();
    host_ = std::make_unique<RunningHost>(fixture, std::move(arguments), std::move(extra), program);
    why_ = peer_->accept(20);
    if (!why_.empty()) return;
    for (const Json& event : setup) {
        if (!peer_->sendEvent(event)) why_ = "could not send " + event.dump();
    }
    if (why_.empty() && !peer_->ready()) why_ = "could not send ready";
}

std::vector<Json> DesktopSession::statesOf(const std::string& kind) {
    peer_->readAvailable();
    std::vector<Json> found;
    for (const Json& state : peer_->received()) {
        if (desktop::textOf(state, "state") == kind) found.push_back(state);
    }
    return found;
}

Json launchedApplication(std::int32_t pid, const std::string& bundle) {
    return {{"event", "launched"}, {"pid", pid}, {"bundle", bundle}, {"name", bundle}};
}

Json firstMenuOf(const Json& state) {
    const Json* items = desktop::field(state, "items");
    if (!items || !items->is_array() || items->empty()) return nullptr;
    const Json* menu = desktop::field((*items)[0], "menu");
    return menu ? *menu : Json();
}

}  // namespace testing_support
