#include "platform/badge-panel.h"

#include "platform/desktop.h"

namespace host::platform {

void BadgePanel::setText(std::string text) {
    text_ = std::move(text);
    desktop().modelChanged();
}

void BadgePanel::setFrame(Rect frame) {
    frame_ = frame;
    desktop().modelChanged();
}

void BadgePanel::setLevel(int level) {
    level_ = level;
    desktop().modelChanged();
}

void BadgePanel::orderFront() {
    visible_ = true;
    desktop().modelChanged();
}

void BadgePanel::orderOut() {
    visible_ = false;
    desktop().modelChanged();
}

}  // namespace host::platform
