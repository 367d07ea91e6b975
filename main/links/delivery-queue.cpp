#include "links/delivery-queue.h"

#include "child/death-log.h"
#include "child/shell.h"
#include "platform/descriptors.h"
#include "platform/process.h"
#include "support/json.h"

namespace host {
namespace {

std::deque<WaitingDelivery> waiting;
std::filesystem::path linkLog;

Json startTheRecord(const WaitingDelivery& delivery, bool ready) {
    Json record = {{"at", isoTime(delivery.received)}, {"url", delivery.url}, {"ready", ready},
                   {"launcher", platform::ownPid()}};
    if (auto pid = shellPid()) record["shell"] = *pid;
    if (delivery.source != "url") record["source"] = delivery.source;
    return record;
}

void endTheDelivery(const WaitingDelivery& delivery, Json record, const std::optional<std::string>& reason) {
    if (reason && swapping) {
        waiting.push_back(delivery);  // cut off by the swap: written again to the next shell
        return;
    }
    record["waitedMs"] = millisecondsSince(delivery.received);
    record["delivered"] = !reason;
    if (reason) {
        record["error"] = *reason;
        platform::say("URL delivery failed: " + *reason + "\n");
    }
    append(std::move(record), linkLog);
}

}  // namespace

void configureTheLinkLog(std::filesystem::path file) { linkLog = std::move(file); }

void deliver(const std::string& url, const std::string& source) {
    if (!shellInbox()) return;
    WaitingDelivery delivery{url, source, std::chrono::system_clock::now()};
    if (swapping || !shellIsRunning()) {
        waiting.push_back(std::move(delivery));
        return;
    }
    write(url, source, delivery.received, true);
}

void write(const std::string& url, const std::string& source, WallTime received, bool ready) {
    ChildInbox* inbox = shellInbox();
    if (!inbox) return;
    WaitingDelivery delivery{url, source, received};
    Json record = startTheRecord(delivery, ready);
    Json message = {{"url", url}};
    if (source != "url") message["source"] = source;
    auto line = sortedJson(message);
    if (!line) return endTheDelivery(delivery, std::move(record), std::string("not-json"));
    inbox->send(*line + "\n", [delivery, record](const std::optional<std::string>& reason) {
        endTheDelivery(delivery, record, reason);
    });
}

void failTheWaitingDeliveries(const std::string& reason) {
    for (const auto& delivery : takeTheWaitingDeliveries()) {
        endTheDelivery(delivery, startTheRecord(delivery, false), reason);
    }
}

std::deque<WaitingDelivery> takeTheWaitingDeliveries() {
    std::deque<WaitingDelivery> taken;
    taken.swap(waiting);
    return taken;
}

void queueTheDeliveries(std::deque<WaitingDelivery> deliveries) {
    for (auto& delivery : deliveries) waiting.push_back(std::move(delivery));
}

std::size_t waitingDeliveries() { return waiting.size(); }

void writeTheWaitingDeliveries() {
    for (const auto& delivery : takeTheWaitingDeliveries()) write(delivery.url, delivery.source, delivery.received, false);
}

}  // namespace host
