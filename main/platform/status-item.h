// A status item in the menu bar: a button drawn with an image or a title, and an optional menu.
#pragma once

#include <optional>
#include <string>

#include "platform/image.h"

namespace host::platform {

class Menu;

class StatusItem {
public:
    explicit StatusItem(int serial) : serial_(serial) {}
    StatusItem(const StatusItem&) = delete;
    StatusItem& operator=(const StatusItem&) = delete;

    int serial() const { return serial_; }
    const std::optional<std::string>& autosaveName() const { return autosaveName_; }
    const std::optional<Image>& image() const { return image_; }
    const std::string& title() const { return title_; }
    const std::string& toolTip() const { return toolTip_; }
    const std::string& accessibilityLabel() const { return accessibilityLabel_; }
    Menu* menu() const { return menu_; }
    // False while the shell's header hides the item; a desktop may then tuck it away.
    bool visible() const { return visible_; }

    void setAutosaveName(std::string name);
    void setImage(std::optional<Image> image);
    void setTitle(std::string title);
    void setToolTip(std::string toolTip);
    void setAccessibilityLabel(std::string label);
    // The menu is not owned; it must outlive the item's use of it.
    void setMenu(Menu* menu);
    void setVisible(bool visible);

private:
    int serial_;
    std::optional<std::string> autosaveName_;
    std::optional<Image> image_;
    std::string title_;
    std::string toolTip_;
    std::string accessibilityLabel_;
    Menu* menu_ = nullptr;
    bool visible_ = true;
};

}  // namespace host::platform
