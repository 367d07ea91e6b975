// The badge overlay: one click-through panel, reused for every badge, shown centred near the
// top of an application's front window and hidden again after the badge's time unless a newer
// badge has taken the panel. Main thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "badges/badge-geometry.h"
#include "platform/badge-panel.h"
#include "support/event-loop.h"

namespace host {

class BadgeOwner {
public:
    BadgeOwner();
    BadgeOwner(const BadgeOwner&) = delete;
    BadgeOwner& operator=(const BadgeOwner&) = delete;

    // The badge panel of the desktop in use (which lives as long as the host), set up on the
    // first badge shown and then reused.
    platform::BadgePanel* panel = nullptr;
    // Counts badges shown: a hide meant for an older badge finds a newer count and does nothing.
    std::uint64_t generation = 0;

    // Shows the badge over the front window of its process, read from the desktop in use now;
    // nothing happens when the process has no normal window on screen or there is no screen.
    void show(const Badge& badge);
    platform::BadgePanel& made();

private:
    void hideAfter(std::int64_t ms, std::uint64_t shown);
    void hideIfStill(std::uint64_t shown);

    loop::Timer hideTimer_;
    // Work queued on the main queue holds this weakly, as the owner may be gone when it runs.
    std::shared_ptr<BadgeOwner*> self_;
};

// The host's one badge owner, made at start-up.
BadgeOwner& badgeOwner();
void makeTheBadgeOwner();

}  // namespace host
