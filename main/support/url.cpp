#include "support/url.h"

#include <glib.h>

#include <memory>

#include "support/text.h"

namespace host {
namespace {

using Uri = std::unique_ptr<GUri, decltype(&g_uri_unref)>;

// Encoded parsing keeps the escapes as written, so "%FF" or "%00" in a path is still a URL.
Uri encodedURI(const std::string& text) {
    if (text.find('\0') != std::string::npos) return Uri(nullptr, &g_uri_unref);
    return Uri(g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr), &g_uri_unref);
}

// Letters, digits, "-._~" and the allowed characters stay; every other byte becomes %XX.
std::string escaped(std::string_view text, std::string_view allowed) {
    static constexpr char HEX[] = "0123456789ABCDEF";
    std::string result;
    for (unsigned char byte : text) {
        if (g_ascii_isalnum(byte) || std::string_view("-._~").find(byte) != std::string_view::npos ||
            allowed.find(static_cast<char>(byte)) != std::string_view::npos) {
            result += static_cast<char>(byte);
        } else {
            result += {'%', HEX[byte >> 4], HEX[byte & 15]};
        }
    }
    return result;
}

constexpr const char* QUERY_VALUE_ALLOWED = "!$'()*,;:@/?";
constexpr const char* HOST_ALLOWED = "!$&'()*+,;=";

// White space and line breaks as the platform's string trimming counts them: tab, the line
// breaks U+000A to U+000D, U+0085, and the Unicode space, line and paragraph separators.
bool isWhiteSpace(gunichar c) {
    if ((c >= 0x09 && c <= 0x0D) || c == 0x85) return true;
    const GUnicodeType type = g_unichar_type(c);
    return type == G_UNICODE_SPACE_SEPARATOR || type == G_UNICODE_LINE_SEPARATOR ||
           type == G_UNICODE_PARAGRAPH_SEPARATOR;
}

}  // namespace

std::optional<URLParts> parsedURL(const std::string& text) {
    Uri uri(g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr), &g_uri_unref);
    if (!uri) return std::nullopt;
    URLParts parts;
    parts.scheme = g_uri_get_scheme(uri.get());
    if (const char* host = g_uri_get_host(uri.get())) parts.host = host;
    parts.path = g_uri_get_path(uri.get());
    if (const char* query = g_uri_get_query(uri.get())) parts.query = query;
    return parts;
}

// A scheme that parses is ASCII letters, digits, "+", "-" and ".".
std::optional<std::string> schemeOf(const std::string& url) {
    Uri uri = encodedURI(url);
    if (!uri) return std::nullopt;
    std::string scheme = g_uri_get_scheme(uri.get());
    for (char& c : scheme) c = g_ascii_tolower(c);
    return scheme;
}

std::string percentEncodedQueryValue(std::string_view value) { return escaped(value, QUERY_VALUE_ALLOWED); }

std::optional<std::string> withTheOnlyQueryItem(const std::string& url, const std::string& name,
                                                const std::string& value) {
    if (!encodedURI(url)) return std::nullopt;
    const std::size_t fragment = std::min(url.find('#'), url.size());
    const std::size_t query = std::min(url.find('?'), fragment);
    std::string replaced = url.substr(0, query) + "?" + percentEncodedQueryValue(name) + "=" +
                           percentEncodedQueryValue(value) + url.substr(fragment);
    if (!encodedURI(replaced)) return std::nullopt;
    return replaced;
}

std::optional<std::string> urlOfHostAndQueryItem(const std::string& scheme, const std::string& host,
                                                 const std::string& name, const std::string& value) {
    std::string url = scheme + "://" + escaped(host, HOST_ALLOWED) + "?" + percentEncodedQueryValue(name) + "=" +
                      percentEncodedQueryValue(value);
    if (!encodedURI(url)) return std::nullopt;
    return url;
}

std::optional<std::string> pathOfFileURL(const std::string& url) {
    Uri uri = encodedURI(url);
    if (!uri || lowercased(g_uri_get_scheme(uri.get())) != "file") return std::nullopt;
    gchar* decoded = g_uri_unescape_string(g_uri_get_path(uri.get()), nullptr);
    if (!decoded) return std::nullopt;
    std::string path(decoded);
    g_free(decoded);
    if (path.empty()) return std::nullopt;
    return path;
}

std::optional<std::string> trimmedUTF8Text(std::string_view text) {
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return std::nullopt;
    const char* start = text.data();
    const char* end = start + text.size();
    while (start < end && isWhiteSpace(g_utf8_get_char(start))) start = g_utf8_next_char(start);
    while (end > start) {
        const char* last = g_utf8_prev_char(end);
        if (!isWhiteSpace(g_utf8_get_char(last))) break;
        end = last;
    }
    return std::string(start, end);
}

}  // namespace host
