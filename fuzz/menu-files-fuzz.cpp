// Menu files, read as a file submenu reads them and drawn into the menu; and the same bytes as
// the rows of a menu message from the shell, drawn and snapshotted.
#include <cstddef>
#include <cstdint>
#include <string>

#include "menu-bar-app-menu/menu-files.h"
#include "menu-bar-app-menu/menu-owner.h"
#include "support/json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    host::MenuCallbacks callbacks;
    callbacks.didPick = [](const std::string&, const std::string&) {};
    host::MenuOwner owner("app.example.fuzz", true, "/nonexistent/menu.json", nullptr, callbacks);
    if (auto rows = host::fileMenuRowsOf(bytes)) owner.appendFileRows(*rows, owner.menu(), " *");
    if (auto rows = host::parsedJson(bytes); rows && host::isArrayOfObjects(*rows)) {
        owner.draw(*rows, std::nullopt, true, host::sortedJson(*rows));
        (void)owner.drawnRows().dump();
        if (const std::string* id = rows->empty() ? nullptr : host::stringMember(rows->back(), "id")) {
            owner.drawBranch(*id, *rows);
        }
    }
    return 0;
}
