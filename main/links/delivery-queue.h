// Every URL handed to the shell: written at once while a shell runs, queued during a swap and
// written to the next shell, each delivery followed to its end and recorded in the link log.
// Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <filesystem>
#include <string>

#include "support/clock.h"

namespace host {

struct WaitingDelivery {
    std::string url;
    std::string source;
    WallTime received;
};

void configureTheLinkLog(std::filesystem::path linkLog);

// Writes the URL to the shell, or queues it while a swap is under way or no shell runs.
// Dropped when the host has no inbox (it is not piped).
void deliver(const std::string& url, const std::string& source = "url");

// Writes one delivery to the current shell and records how it ends.
void write(const std::string& url, const std::string& source, WallTime received, bool ready);

// The queue, for the swap: taken out, put back, counted and written to the new shell.
std::deque<WaitingDelivery> takeTheWaitingDeliveries();
void queueTheDeliveries(std::deque<WaitingDelivery> deliveries);
std::size_t waitingDeliveries();
void writeTheWaitingDeliveries();

// The host ends without another shell: each waiting delivery is recorded as failed.
void failTheWaitingDeliveries(const std::string& reason);

// The link log's record of a delivery that ended, without its newline: the record serialised
// with sorted keys ("error" with a reason, "shell" with a pid, "source" when not "url").
std::string deliveryRecord(const WaitingDelivery& delivery, bool ready, std::optional<std::int32_t> shell,
                           const std::optional<std::string>& reason, long long waitedMs);

}  // namespace host
