// The shell's output channel: bytes cut into lines at arbitrary reads, each line dispatched, the
// recognised messages acted on by handlers that look at every value they get; and each line read
// alike by both JSON readers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "child/child-output.h"

namespace {

using host::Json;

void look(const Json& value) { (void)value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::shared_ptr<host::MessageHandlers> lookingHandlers() {
    auto handlers = std::make_shared<host::MessageHandlers>();
    handlers->setupQuitSenders = [](std::set<std::string> senders) { (void)senders.size(); };
    handlers->setupQuitSettled = [](bool) {};
    handlers->panel = look;
    handlers->hotKeys = look;
    handlers->watchApps = [] {};
    handlers->menuUnavailable = [](const std::string&) {};
    handlers->menu = [](const host::FlatObjects& rows, bool, std::optional<std::string> publication) {
        for (const host::FlatObject& row : rows) {
            if (row.whole()) look(*row.whole());
        }
        if (publication) (void)publication->size();
    };
    handlers->menuBranch = [](const std::string&, const Json& rows) { look(rows); };
    handlers->popUp = [] {};
    handlers->badge = [](const host::Badge& badge) { (void)badge.text.size(); };
    handlers->focusReplies = [] {};
    handlers->urlReply = [](const std::string&, std::optional<std::string>, std::optional<std::int32_t>) {};
    return handlers;
}

bool keepsEverything(std::string_view) { return true; }

// RapidJSON's reading must be nlohmann-json's own, member for member and in what it sets aside.
void readAlikeByBothReaders(std::string_view line) {
    host::MembersSetAside fast{"publication", std::nullopt, nullptr, std::nullopt};
    host::MembersSetAside library = fast;
    const auto first = host::objectKeeping(line, keepsEverything, &fast);
    const auto second = host::objectKeepingByTheLibrary(line, keepsEverything, &library);
    const bool sameWritten = fast.written.has_value() == library.written.has_value() &&
                             (!fast.written || fast.written->sorted == library.written->sorted);
    if (first != second || !sameWritten) __builtin_trap();
}

}  // namespace

// The first byte chooses the size of the reads the rest arrives in.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    std::vector<std::function<void()>> posted;
    host::ChildOutput output({true, true, true}, lookingHandlers(), [] { return true; },
                             [&](std::function<void()> action) { posted.push_back(std::move(action)); });
    std::string passed;
    for (std::size_t at = 0; at < bytes.size(); at += piece) output.take(bytes.substr(at, piece), &passed);
    for (auto& action : posted) action();
    for (std::size_t start = 0, end; start < bytes.size(); start = end + 1) {
        end = std::min(bytes.find('\n', start), bytes.size());
        readAlikeByBothReaders(bytes.substr(start, end - start));
    }
    return 0;
}
