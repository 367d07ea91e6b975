#include "updates/update-choices.h"

#include "support/url.h"

namespace host {
namespace {

std::optional<UpdateChoice> choiceOf(const Json& row) {
    const std::string* id = stringMember(row, "id");
    const std::string* choice = stringMember(row, "choice");
    const std::string* feed = stringMember(row, "feed");
    if (!id || !choice || !feed) return std::nullopt;
    return UpdateChoice{*id, *choice, *feed};
}

bool isObjectOfStrings(const Json& value) {
    if (!value.is_object()) return false;
    for (const auto& [key, member] : value.items()) {
        if (!member.is_string()) return false;
    }
    return true;
}

// The scheme must be written "https" exactly; the URI parser would accept any case.
bool isHttpsURLWithHost(const std::string& text) {
    if (text.rfind("https:", 0) != 0) return false;
    auto url = parsedURL(text);
    return url && url->host && !url->host->empty();
}

}  // namespace

std::optional<UpdateChoices> updateChoicesOf(const Json& runtimeObject) {
    const Json* value = objectMember(runtimeObject, "updateChoices");
    if (!value) return std::nullopt;
    const std::string* key = stringMember(*value, "key");
    const Json* rows = arrayMember(*value, "rows");
    if (!key || !rows) return std::nullopt;
    UpdateChoices choices{*key, {}};
    for (const auto& row : *rows) {
        auto choice = choiceOf(row);
        if (!choice) return std::nullopt;
        choices.rows.push_back(std::move(*choice));
    }
    return choices;
}

std::optional<MenuAttribution> menuAttributionOf(const Json& runtimeObject) {
    const Json* value = objectMember(runtimeObject, "menuAttribution");
    if (!value || !isObjectOfStrings(*value)) return std::nullopt;
    const std::string* id = stringMember(*value, "id");
    const std::string* title = stringMember(*value, "title");
    const std::string* url = stringMember(*value, "url");
    if (!id || !title || !url) return std::nullopt;
    if (id->rfind("host.", 0) != 0 || title->empty() || !isHttpsURLWithHost(*url)) return std::nullopt;
    return MenuAttribution{*id, *title, *url};
}

}  // namespace host
