#include "badges/badge-overlay.h"

#include "platform/desktop.h"

namespace host {
namespace {

// From global coordinates (y down from the primary screen's top) to the panel's screen
// coordinates (y up from the primary screen's bottom).
platform::Rect onThePrimaryScreen(const platform::Rect& frame, double primaryHeight) {
    return {frame.x, primaryHeight - frame.maxY(), frame.width, frame.height};
}

std::unique_ptr<BadgeOwner>& theBadgeOwner() {
    static std::unique_ptr<BadgeOwner> instance;
    return instance;
}

}  // namespace

BadgeOwner::BadgeOwner() : self_(std::make_shared<BadgeOwner*>(this)) {}

void BadgeOwner::show(const Badge& badge) {
    platform::Desktop& desktop = platform::desktop();
    const auto window = frontWindowOf(badge.pid, desktop.onScreenWindows());
    if (!window) return;
    const auto screens = desktop.screens();
    if (screens.empty()) return;
    platform::BadgePanel& shown = panel ? *panel : made();
    shown.setText(badge.text);
    shown.setFrame(onThePrimaryScreen(badgeFrame(*window), screens.front().height));
    shown.orderFront();
    hideAfter(badge.ms, ++generation);
}

platform::BadgePanel& BadgeOwner::made() {
    platform::Desktop& desktop = platform::desktop();
    panel = &desktop.badgePanel();
    panel->setLevel(desktop.statusWindowLevel());
    return *panel;
}

// No time left hides on the next turn of the main queue, after the desktop has been shown the
// badge. One timer serves: a newer badge restarts it, and the generation guards the queued hide.
void BadgeOwner::hideAfter(std::int64_t ms, std::uint64_t shown) {
    hideTimer_.cancel();
    if (ms > 0) {
        hideTimer_.startOnce(static_cast<double>(ms) / 1000.0, [this, shown] { hideIfStill(shown); });
        return;
    }
    std::weak_ptr<BadgeOwner*> weak = self_;
    loop::postToTheMainQueue([weak, shown] {
        if (auto self = weak.lock()) (*self)->hideIfStill(shown);
    });
}

void BadgeOwner::hideIfStill(std::uint64_t shown) {
    if (generation == shown && panel) panel->orderOut();
}

BadgeOwner& badgeOwner() {
    if (!theBadgeOwner()) makeTheBadgeOwner();
    return *theBadgeOwner();
}

void makeTheBadgeOwner() { theBadgeOwner() = std::make_unique<BadgeOwner>(); }

}  // namespace host
