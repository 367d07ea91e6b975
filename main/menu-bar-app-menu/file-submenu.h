// A submenu whose rows come from a menu file, re-read each time it is about to open. The
// shell's own rows placed into it are kept aside and follow the file's rows.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "menu-bar-app-menu/menu-files.h"
#include "platform/menu.h"
#include "support/json.h"

namespace host {

class FileSubmenu : public platform::Menu {
public:
    FileSubmenu(std::string title, std::string branch, FileMenuSource from, bool declared, std::string mark,
                std::optional<Json> fallbackRows)
        : Menu(std::move(title)),
          branchID(std::move(branch)),
          source(std::move(from)),
          declaredByHost(declared),
          selectionMark(std::move(mark)),
          fallback(std::move(fallbackRows)) {}

    const std::string branchID;
    const FileMenuSource source;
    const bool declaredByHost;
    const std::string selectionMark;
    const std::optional<Json> fallback;  // an array of objects
    std::vector<std::shared_ptr<platform::MenuItem>> hostItems;
};

inline FileSubmenu* asFileSubmenu(platform::Menu* menu) { return dynamic_cast<FileSubmenu*>(menu); }

}  // namespace host
