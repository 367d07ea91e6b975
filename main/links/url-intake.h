// URLs coming in: the get-URL request, the application's open request (URLs, link files and
// file links), the Services command and the control socket's "url" request. Each becomes a URL of
// one of the host's schemes handed to the delivery queue and to focus return, a link of the
// relay family handed to the system, or nothing. Main thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "support/json.h"

namespace host {

struct IntakeSettings {
    std::string identity;                          // the bundle identifier ("receiver" in the opens log)
    std::set<std::string> schemes;                 // lowercased
    std::optional<std::string> linkExtension;      // lowercased
    std::size_t linkFileBytes = 32768;
    std::optional<std::string> fileExtension;      // lowercased
    std::optional<std::string> fileLinkHead;
    std::optional<std::string> linkRelayPrefix;    // lowercased
    std::optional<std::filesystem::path> opensLog; // the runtime value "opens"
};
void configureTheURLIntake(IntakeSettings settings);

// The common intake of one URL (`URLReceiver.arrived`): the opens record, then delivery and
// focus return for the host's schemes, or the system for a relayed link file.
void arrived(const std::string& url, const std::optional<platform::CurrentEvent>& event,
             const std::optional<std::string>& file);
// The same for a URL whose scheme the caller has read already (schemeOf), so it is read once.
void arrived(const std::string& url, const std::optional<std::string>& scheme,
             const std::optional<platform::CurrentEvent>& event, const std::optional<std::string>& file);

// The get-URL request: ignored without a URL or over linkFileBytes.
void openURL(const std::string& url, const platform::CurrentEvent& event);
// The application's open request: URLs and file:// URLs, in order.
void openURLs(const std::vector<std::string>& urls, const std::optional<platform::CurrentEvent>& event);
// The Services command; the error text, or none when it was served.
std::optional<std::string> openFiles(const std::vector<std::string>& files, const std::optional<std::string>& userData);

// The URL a link file holds, and the file link of a file; none when they have none.
std::optional<std::string> linkOf(const std::string& fileURL);
std::optional<std::string> fileLinkOf(const std::string& fileURL);

// The opens log's sender: {"pid", "path", "chain"} for an event that names a positive sender
// pid, else {"pid": null, "chain": []}. The chain is the sender and then its ancestors, each
// {"pid", "path"}, at most SENDER_CHAIN_LIMIT of them, ending where a parent cannot be read.
inline constexpr std::size_t SENDER_CHAIN_LIMIT = 32;
Json sender(const std::optional<platform::CurrentEvent>& event);
Json senderChainOf(std::int32_t pid, const std::function<std::optional<std::string>(std::int32_t)>& pathOf,
                   const std::function<std::optional<std::int32_t>(std::int32_t)>& parentOf);
// The kernel's executable path and parent of a process; none when unavailable.
std::optional<std::string> executable(std::int32_t pid);
std::optional<std::int32_t> parent(std::int32_t pid);

}  // namespace host
