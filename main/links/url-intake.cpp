#include "links/url-intake.h"

#include <system_error>

#include "child/death-log.h"
#include "links/delivery-queue.h"
#include "links/focus-return.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "support/clock.h"
#include "support/text.h"
#include "support/url.h"

namespace host {
namespace fs = std::filesystem;

namespace {

IntakeSettings settings;

Json orNull(const std::optional<std::string>& text) { return text ? Json(*text) : Json(nullptr); }

bool fitsTheLimit(const std::string& text) { return text.size() <= settings.linkFileBytes; }

bool isOwnScheme(const std::string& scheme) { return settings.schemes.contains(scheme); }

bool isOfTheRelayFamily(const std::string& scheme) {
    return settings.linkRelayPrefix && scheme.starts_with(*settings.linkRelayPrefix);
}

// The lowercased extension of a file's path, without its dot; empty when it has none.
std::string extensionOf(const std::string& path) {
    std::string extension = fs::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    return lowercased(extension);
}

// The path of a file URL whose extension is `wanted`.
std::optional<std::string> fileWithExtension(const std::string& fileURL, const std::optional<std::string>& wanted) {
    if (!wanted) return std::nullopt;
    auto path = pathOfFileURL(fileURL);
    if (!path || extensionOf(*path) != *wanted) return std::nullopt;
    return path;
}

// The whole file when it is a regular file within the limit. Checked before reading, so a
// huge file is never loaded and a FIFO never blocks the host; and again after, as it may grow.
std::optional<std::string> smallFileContents(const std::string& path) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    auto size = fs::file_size(path, error);
    if (error || size > settings.linkFileBytes) return std::nullopt;
    auto contents = platform::contentsOf(path);
    if (!contents || !fitsTheLimit(*contents)) return std::nullopt;
    return contents;
}

Json opensRecord(const std::string& url, const std::optional<platform::CurrentEvent>& event,
                 const std::optional<std::string>& file) {
    Json record = {{"at", clockNow()}, {"url", url}, {"receiver", settings.identity}, {"sender", sender(event)}};
    if (file) record["file"] = *file;
    return record;
}

// A Services entry names a file by its path, or by a file:// URL.
std::optional<std::string> pathOnThePasteboard(const std::string& entry) {
    if (entry.starts_with('/')) return entry;
    return pathOfFileURL(entry);
}

}  // namespace

void configureTheURLIntake(IntakeSettings intake) { settings = std::move(intake); }

void arrived(const std::string& url, const std::optional<platform::CurrentEvent>& event,
             const std::optional<std::string>& file) {
    arrived(url, schemeOf(url), event, file);
}

void arrived(const std::string& url, const std::optional<std::string>& scheme,
             const std::optional<platform::CurrentEvent>& event, const std::optional<std::string>& file) {
    if (settings.opensLog) append(opensRecord(url, event, file), *settings.opensLog);
    if (!scheme) return;
    if (isOwnScheme(*scheme)) {
        deliver(url, "url");
        focusReturn().linkArrived(url);
    } else if (file && isOfTheRelayFamily(*scheme)) {
        platform::desktop().openWithTheSystem(url);  // the application of that scheme takes it
    }
}

void openURL(const std::string& url, const platform::CurrentEvent& event) {
    if (!fitsTheLimit(url)) return;
    arrived(url, event, std::nullopt);
}

void openURLs(const std::vector<std::string>& urls, const std::optional<platform::CurrentEvent>& event) {
    for (const std::string& url : urls) {
        auto path = pathOfFileURL(url);
        if (!path) {
            if (fitsTheLimit(url)) arrived(url, event, std::nullopt);
        } else if (auto link = linkOf(url)) {
            arrived(*link, event, *path);
        } else if (auto fileLink = fileLinkOf(url)) {
            arrived(*fileLink, event, *path);
        }
    }
}

std::optional<std::string> openFiles(const std::vector<std::string>& files, const std::optional<std::string>& userData) {
    std::vector<std::string> paths;
    for (const std::string& entry : files) {
        if (auto path = pathOnThePasteboard(entry)) paths.push_back(*path);
    }
    // A set iterates in ascending order: the first scheme is the smallest.
    if (settings.schemes.empty() || !userData || userData->empty() || paths.empty()) return "No file for the service";
    const std::string& scheme = *settings.schemes.begin();
    for (const std::string& path : paths) {
        if (auto url = urlOfHostAndQueryItem(scheme, *userData, "path", path)) deliver(*url, "url");
    }
    return std::nullopt;
}

std::optional<std::string> linkOf(const std::string& fileURL) {
    auto path = fileWithExtension(fileURL, settings.linkExtension);
    if (!path) return std::nullopt;
    auto contents = smallFileContents(*path);
    if (!contents) return std::nullopt;
    auto text = trimmedUTF8Text(*contents);
    if (!text) return std::nullopt;
    auto scheme = schemeOf(*text);
    if (!scheme || !(isOwnScheme(*scheme) || isOfTheRelayFamily(*scheme))) return std::nullopt;
    return text;
}

std::optional<std::string> fileLinkOf(const std::string& fileURL) {
    if (!settings.fileLinkHead) return std::nullopt;
    auto path = fileWithExtension(fileURL, settings.fileExtension);
    if (!path) return std::nullopt;
    return withTheOnlyQueryItem(*settings.fileLinkHead, "path", *path);
}

Json sender(const std::optional<platform::CurrentEvent>& event) {
    if (!event || !event->senderPid || *event->senderPid <= 0) return {{"pid", nullptr}, {"chain", Json::array()}};
    const std::int32_t pid = *event->senderPid;
    return {{"pid", pid}, {"path", orNull(executable(pid))}, {"chain", senderChainOf(pid, executable, parent)}};
}

Json senderChainOf(std::int32_t pid, const std::function<std::optional<std::string>(std::int32_t)>& pathOf,
                   const std::function<std::optional<std::int32_t>(std::int32_t)>& parentOf) {
    Json chain = Json::array();
    for (std::optional<std::int32_t> next = pid; next && *next >= 1 && chain.size() < SENDER_CHAIN_LIMIT;
         next = parentOf(*next)) {
        chain.push_back({{"pid", *next}, {"path", orNull(pathOf(*next))}});
    }
    return chain;
}

std::optional<std::string> executable(std::int32_t pid) { return platform::executablePathOf(pid); }

std::optional<std::int32_t> parent(std::int32_t pid) { return platform::parentPidOf(pid); }

}  // namespace host
