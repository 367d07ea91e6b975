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

// A written delivery until it ends: all its record needs, and no more, as the shell's inbox
// holds one for every URL the shell has not read yet.
struct Written {
    WaitingDelivery delivery;
    bool ready = false;
    std::optional<std::int32_t> shell;
};

void endTheDelivery(const Written& written, const std::optional<std::string>& reason) {
    const WaitingDelivery& delivery = written.delivery;
    if (reason && swapping) {
        waiting.push_back(delivery);  // cut off by the swap: written again to the next shell
        return;
    }
    if (reason) platform::say("URL delivery failed: " + *reason + "\n");
    appendLine(deliveryRecord(delivery, written.ready, written.shell, reason, millisecondsSince(delivery.received)),
               linkLog);
}

// {"url": url}, or with "source" before it when not "url", as the sorted serialisation writes it.
std::string messageOf(const std::string& url, const std::string& source) {
    std::string line = "{";
    if (source != "url") appendQuoted(line += "\"source\":", source) += ",";
    appendQuoted(line += "\"url\":", url);
    return line += "}\n";
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
    Written written{{url, source, received}, ready, shellPid()};
    // What waits in the inbox: the row, and this delivery in its callback.
    const std::size_t keeps = ChildInbox::ROW_OVERHEAD + sizeof(Written) + url.size() + source.size();
    inbox->send(messageOf(url, source), [written = std::move(written)](const std::optional<std::string>& reason) {
        endTheDelivery(written, reason);
    }, keeps);
}

// Written directly, its keys in their sorted order: no tree is built and sorted for each URL.
std::string deliveryRecord(const WaitingDelivery& delivery, bool ready, std::optional<std::int32_t> shell,
                           const std::optional<std::string>& reason, long long waitedMs) {
    std::string line;
    auto member = [&line](const char* name) -> std::string& {
        line += line.empty() ? "{\"" : ",\"";
        return line.append(name) += "\":";
    };
    member("at") += "\"" + isoTime(delivery.received) + "\"";
    member("delivered") += reason ? "false" : "true";
    if (reason) appendQuoted(member("error"), *reason);
    member("launcher") += std::to_string(platform::ownPid());
    member("ready") += ready ? "true" : "false";
    if (shell) member("shell") += std::to_string(*shell);
    if (delivery.source != "url") appendQuoted(member("source"), delivery.source);
    appendQuoted(member("url"), delivery.url);
    member("waitedMs") += std::to_string(waitedMs);
    return line += "}";
}

void failTheWaitingDeliveries(const std::string& reason) {
    for (auto& delivery : takeTheWaitingDeliveries()) endTheDelivery({std::move(delivery), false, shellPid()}, reason);
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
