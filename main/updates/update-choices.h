// The update channels and the menu attribution row, decoded from the runtime file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "support/json.h"

namespace host {

struct UpdateChoice {
    std::string id;      // the menu row that selects this channel
    std::string choice;  // stored under UpdateChoices::key when selected
    std::string feed;
};

struct UpdateChoices {
    std::string key;     // the user-defaults key of the chosen channel
    std::vector<UpdateChoice> rows;
};

struct MenuAttribution {
    std::string id;
    std::string title;
    std::string url;
};

// Both keys required, every channel with string "id", "choice" and "feed"; none otherwise.
std::optional<UpdateChoices> updateChoicesOf(const Json& runtimeObject);

// An object of strings whose "id" starts with "host.", whose "title" is not empty and whose
// "url" is an https URL with a host; none otherwise.
std::optional<MenuAttribution> menuAttributionOf(const Json& runtimeObject);

}  // namespace host
