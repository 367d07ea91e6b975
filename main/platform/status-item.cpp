#include "platform/status-item.h"

#include "platform/desktop.h"

namespace host::platform {

void StatusItem::setAutosaveName(std::string name) {
    autosaveName_ = std::move(name);
    desktop().modelChanged();
}

void StatusItem::setImage(std::optional<Image> image) {
    image_ = std::move(image);
    desktop().modelChanged();
}

void StatusItem::setTitle(std::string title) {
    title_ = std::move(title);
    desktop().modelChanged();
}

void StatusItem::setToolTip(std::string toolTip) {
    toolTip_ = std::move(toolTip);
    desktop().modelChanged();
}

void StatusItem::setAccessibilityLabel(std::string label) {
    accessibilityLabel_ = std::move(label);
    desktop().modelChanged();
}

void StatusItem::setMenu(Menu* menu) {
    menu_ = menu;
    desktop().modelChanged();
}

void StatusItem::setVisible(bool visible) {
    if (visible_ == visible) return;
    visible_ = visible;
    desktop().modelChanged();
}

}  // namespace host::platform
