// A views library for the tests and the example app. It draws nothing: every call of an entry
// point is appended as one JSON line to the file named by VIEWS_RECORD, a panel whose look asks
// for it acts back through the host's callback, and the updater answers as the JSON file named
// by VIEWS_UPDATER says, read again at each call so a test can change its answers meanwhile:
//
//   {"start": 0, "check": 0, "setFeed": 0, "waiting": "1.2.3" or null, "foundByCheck": "1.3"}
//
// Absent keys (or no file) answer 0 and "no update waits". "foundByCheck" makes an update wait
// from the first check on. A look that is a JSON object may hold "act" (a text the library
// passes to the callback from a thread of its own), "actHere" (passed on the caller's thread
// before the entry returns), "actNull": true (a null text, from its own thread) and
// "actInvalid": true (the bytes "caf\xe9", not UTF-8, from its own thread).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "panels/views-entry-points.h"

#define VIEWS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using Json = nlohmann::json;

std::mutex recording;
std::mutex finding;
std::optional<std::string> foundVersion;  // set by a check when the answers say so

// Appends one line to the record file; several threads may record at once.
void record(Json line) {
    const char* file = std::getenv("VIEWS_RECORD");
    if (!file || !*file) return;
    const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::lock_guard<std::mutex> guard(recording);
    int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t ignored = write(fd, text.data(), text.size());
    (void)ignored;
    close(fd);
}

Json answers() {
    const char* file = std::getenv("VIEWS_UPDATER");
    if (!file || !*file) return Json::object();
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    Json parsed = Json::parse(text.str(), nullptr, false);
    return parsed.is_object() ? parsed : Json::object();
}

std::int32_t answer(const char* key) {
    Json all = answers();
    return all.contains(key) && all[key].is_number_integer() ? all[key].get<std::int32_t>() : 0;
}

std::optional<std::string> waitingVersion() {
    {
        std::lock_guard<std::mutex> guard(finding);
        if (foundVersion) return foundVersion;
    }
    Json all = answers();
    if (all.contains("waiting") && all["waiting"].is_string()) return all["waiting"].get<std::string>();
    return std::nullopt;
}

std::string textOf(const char* text) { return text ? text : ""; }

// Acts as the look asks: now on this thread, and later from a thread of the library's own.
void actAsTheLookSays(const std::string& look, ViewsPanelAct act) {
    Json asked = Json::parse(look, nullptr, false);
    if (!asked.is_object() || !act) return;
    if (asked.contains("actHere") && asked["actHere"].is_string()) act(asked["actHere"].get<std::string>().c_str());
    if (asked.contains("act") && asked["act"].is_string()) {
        std::thread([act, text = asked["act"].get<std::string>()] { act(text.c_str()); }).detach();
    }
    if (asked.value("actNull", false)) std::thread([act] { act(nullptr); }).detach();
    if (asked.value("actInvalid", false)) std::thread([act] { act("caf\xe9"); }).detach();
}

void show(const char* entry, const char* look, ViewsPanelAct act) {
    record({{"entry", entry}, {"look", textOf(look)}, {"callback", act != nullptr}});
    actAsTheLookSays(textOf(look), act);
}

}  // namespace

// The panels this library offers: "note" and "picker" have every entry; "lonely" can be
// opened but has no close entry.
#define VIEWS_PANEL_OPENS(name)                                       \
    VIEWS_EXPORT void name##_prepare(const char* look, ViewsPanelAct act) { \
        show(#name "_prepare", look, act);                                \
    }                                                                     \
    VIEWS_EXPORT void name##_open(const char* look, ViewsPanelAct act) {    \
        show(#name "_open", look, act);                                   \
    }
#define VIEWS_PANEL_CHANGES(name)                                         \
    VIEWS_EXPORT void name##_update(const char* look) {                     \
        record({{"entry", #name "_update"}, {"look", textOf(look)}});     \
    }                                                                     \
    VIEWS_EXPORT void name##_close() { record({{"entry", #name "_close"}}); }

VIEWS_PANEL_OPENS(note)
VIEWS_PANEL_CHANGES(note)
VIEWS_PANEL_OPENS(picker)
VIEWS_PANEL_CHANGES(picker)
VIEWS_PANEL_OPENS(lonely)

VIEWS_EXPORT std::int32_t wickerly_start_updater(const char* feed) {
    record({{"entry", "wickerly_start_updater"}, {"feed", textOf(feed)}});
    return answer("start");
}

VIEWS_EXPORT std::int32_t wickerly_check_for_updates() {
    record({{"entry", "wickerly_check_for_updates"}});
    Json all = answers();
    if (all.contains("foundByCheck") && all["foundByCheck"].is_string()) {
        std::lock_guard<std::mutex> guard(finding);
        foundVersion = all["foundByCheck"].get<std::string>();
    }
    return answer("check");
}

VIEWS_EXPORT std::int32_t wickerly_set_update_feed(const char* feed) {
    record({{"entry", "wickerly_set_update_feed"}, {"feed", textOf(feed)}});
    return answer("setFeed");
}

VIEWS_EXPORT std::int32_t wickerly_waiting_update(char* buffer, std::int32_t capacity) {
    record({{"entry", "wickerly_waiting_update"}, {"capacity", capacity}});
    auto version = waitingVersion();
    if (!version) return -1;
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(version->size(), INT32_MAX));
    if (buffer && capacity > 0) std::memcpy(buffer, version->data(), static_cast<std::size_t>(std::min(length, capacity)));
    return std::min(length, std::max(capacity, 0));
}

// The entry points keep the signatures the host calls them with.
static_assert(std::is_same_v<decltype(&note_open), ViewsPanelShow>);
static_assert(std::is_same_v<decltype(&note_update), ViewsPanelUpdate>);
static_assert(std::is_same_v<decltype(&note_close), ViewsPanelClose>);
static_assert(std::is_same_v<decltype(&wickerly_start_updater), ViewsStartUpdater>);
static_assert(std::is_same_v<decltype(&wickerly_check_for_updates), ViewsCheckForUpdates>);
static_assert(std::is_same_v<decltype(&wickerly_set_update_feed), ViewsSetUpdateFeed>);
static_assert(std::is_same_v<decltype(&wickerly_waiting_update), ViewsWaitingUpdate>);
