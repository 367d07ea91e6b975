// Requests on the control socket, one per line, answered by a host whose menu has been drawn and
// that has no shell: URLs are taken in and dropped, picks are refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "child/death-log.h"
#include "control-socket/host-requests.h"
#include "links/url-intake.h"
#include "menu-bar-app-menu/menu-lifecycle.h"

namespace {

const char* const ROWS = R"([
    {"kind": "header", "title": "Demo"},
    {"id": "hello", "title": "Say hello", "enabled": true},
    {"id": "more", "title": "More", "submenu": true},
    {"id": "inner", "title": "Inner", "parent": "more", "enabled": true},
    {"id": "line", "kind": "separator"}
])";

// Logs and the publication go to a folder of the run's own.
bool madeTheHost() {
    std::string folder = "/tmp/host-fuzz-XXXXXX";
    if (!mkdtemp(folder.data())) std::abort();
    host::configureTheDeathLog(std::nullopt, folder);
    host::configureTheHostRequests({{"demo", "other"}, 32768});
    host::IntakeSettings intake;
    intake.identity = "app.example.fuzz";
    intake.schemes = {"demo", "other"};
    host::configureTheURLIntake(intake);
    host::makeTheMenuOwner({true, true, false, "app.example.fuzz", folder + "/menu.json", nullptr, nullptr});
    const host::Json rows = *host::parsedJson(ROWS);
    host::drawTheChildsMenu(*host::flatObjectsOf(rows), true, host::sortedJson(rows));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool made = madeTheHost();
    (void)made;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::size_t start = 0; start <= bytes.size();) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        (void)host::replyTo(bytes.substr(start, end - start));
        start = end + 1;
    }
    return 0;
}
