// The one floating, click-through panel that shows a badge over another application's window.
#pragma once

#include <string>

#include "platform/geometry.h"

namespace host::platform {

class BadgePanel {
public:
    BadgePanel() = default;
    BadgePanel(const BadgePanel&) = delete;
    BadgePanel& operator=(const BadgePanel&) = delete;

    const std::string& text() const { return text_; }
    // In screen coordinates: origin at the bottom left of the primary screen, y upwards.
    const Rect& frame() const { return frame_; }
    int level() const { return level_; }
    bool visible() const { return visible_; }

    void setText(std::string text);
    void setFrame(Rect frame);
    void setLevel(int level);
    void orderFront();
    void orderOut();

private:
    std::string text_;
    Rect frame_{0, 0, 150, 34};
    int level_ = 25;
    bool visible_ = false;
};

}  // namespace host::platform
