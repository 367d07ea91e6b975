#include "support/url.h"

#include <glib.h>

#include <memory>

namespace host {

std::optional<URLParts> parsedURL(const std::string& text) {
    std::unique_ptr<GUri, decltype(&g_uri_unref)> uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr),
                                                      &g_uri_unref);
    if (!uri) return std::nullopt;
    URLParts parts;
    parts.scheme = g_uri_get_scheme(uri.get());
    if (const char* host = g_uri_get_host(uri.get())) parts.host = host;
    parts.path = g_uri_get_path(uri.get());
    if (const char* query = g_uri_get_query(uri.get())) parts.query = query;
    return parts;
}

}  // namespace host
