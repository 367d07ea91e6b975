// The host's desktop model as the scripted desktop's JSON, and the values its events carry.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "support/json.h"

namespace host::platform {

Json rectJson(const Rect& rect);
std::optional<Rect> rectOf(const Json& value);
Json imageJson(const std::optional<Image>& image);
Json menuJson(const Menu& menu);
Json statusItemJson(const StatusItem& item);
Json badgePanelJson(const BadgePanel& panel);

std::string policyName(ActivationPolicy policy);
std::optional<ActivationPolicy> policyNamed(const std::string& name);

// A four-character code as text ("WkHK"), and back; none when the text is not four bytes.
std::string fourCharacterText(std::uint32_t code);
std::optional<std::uint32_t> fourCharacterCode(const std::string& text);

// An on-screen window: {"pid", "layer", "bounds"}; none when pid or layer is missing.
std::optional<OnScreenWindow> windowOf(const Json& value);

}  // namespace host::platform
