#include "links/display-change.h"

#include "links/delivery-queue.h"
#include "platform/desktop.h"
#include "support/url.h"

namespace host {
namespace {

std::optional<std::string> displayChangeURL;

}  // namespace

std::optional<std::string> displayChangeURLOf(const Json& info, const std::set<std::string>& schemes) {
    const std::string* url = stringMember(info, displayChangeKey);
    if (!url) return std::nullopt;
    auto scheme = schemeOf(*url);
    if (!scheme || !schemes.contains(*scheme)) return std::nullopt;
    return *url;
}

void configureTheDisplayChange(std::optional<std::string> url) { displayChangeURL = std::move(url); }

void displayReconfigured(std::uint32_t flags) {
    if (!displayChangeURL || (flags & platform::DISPLAY_BEGIN_CONFIGURATION_FLAG) != 0) return;
    deliver(*displayChangeURL, displayChangeSource);
}

}  // namespace host
