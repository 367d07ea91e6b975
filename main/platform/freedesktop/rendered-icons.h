// Icons the host draws itself (with cairo) where no icon theme has the symbol, or where a badge
// must be drawn into the icon: the initial of the icon's text in a dark disc with a light rim,
// which reads on light and dark panels alike, and the badge as a dot at the bottom right.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host::platform {

struct Pixmap {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::string argb;  // 32 bits a pixel, A R G B in network byte order, not premultiplied
    friend bool operator==(const Pixmap&, const Pixmap&) = default;
};

// The status item's icon at the sizes panels ask for most: `text` gives the initial.
std::vector<Pixmap> renderedStatusIcon(const std::string& text, bool badged);

// A menu row's icon as PNG bytes; empty when it cannot be drawn. Drawings are kept, so the same
// icon costs nothing the second time.
const std::string& renderedRowIconPng(const std::string& text);

}  // namespace host::platform
