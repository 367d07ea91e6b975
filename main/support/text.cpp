#include "support/text.h"

#include <glib.h>

namespace host {
namespace {

template <typename Change>
std::string changed(std::string_view text, Change change) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::string(text);
    gchar* result = change(text.data(), static_cast<gssize>(text.size()));
    std::string copy(result);
    g_free(result);
    return copy;
}

}  // namespace

std::string lowercased(std::string_view text) { return changed(text, g_utf8_strdown); }

std::string uppercased(std::string_view text) { return changed(text, g_utf8_strup); }

}  // namespace host
