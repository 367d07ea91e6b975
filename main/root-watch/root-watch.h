// The host lives as long as the process that started it (its root), unless that is pid 1.
// A hosted host may instead wait a while for a new root to adopt it through a file. Main
// thread only.
#pragma once

#include <cstdint>
#include <filesystem>

namespace host {

inline constexpr std::int32_t launchdPid = 1;

struct RootWatchSettings {
    double rootWaitSeconds = 0;
    std::filesystem::path rootWaitFile;    // "awaiting-root.json" in the support folder
    double stuckShellGraceSeconds = 3;
};
void configureTheRootWatch(RootWatchSettings settings);

void watchTheRoot(std::int32_t pid);
void rootGone(std::int32_t pid);
void leaveWithTheParent(std::int32_t pid);
void waitForTheNextRoot(std::int32_t lost);

}  // namespace host
