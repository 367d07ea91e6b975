// The small symbol images of menu rows and the badged symbol of the status item.
#pragma once

#include <optional>
#include <string>

#include "platform/image.h"

namespace host {

// The image of a menu row's symbol: the system symbol at 13 points, regular weight, as a
// template; none for an unknown name. The title is the accessibility description.
std::optional<platform::Image> rowImageOf(const std::string& symbol, const std::string& title);

// The base image widened by 45 % of the badge's width, with the badge over its bottom-right
// corner. Not a template: the caller decides.
platform::Image withBadge(const platform::Image& base, const platform::Image& badge);

// The base image with a smaller badge symbol (8 points, bold) over its bottom-right corner;
// none when the badge cannot be made.
std::optional<platform::Image> badgedSymbol(const platform::Image& base, const std::string& badge,
                                            const std::string& description);

}  // namespace host
