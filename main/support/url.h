// URLs read into their parts, with the platform's URI rules (RFC 3986).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

struct URLParts {
    std::string scheme;  // as written
    std::optional<std::string> host;
    std::string path;
    std::optional<std::string> query;
};

// None when the text is not an absolute URL.
std::optional<URLParts> parsedURL(const std::string& text);

// The lowercased scheme of an absolute URL, its escapes left as written; none when the text
// does not parse or holds a NUL byte (which would cut it short for the parser).
std::optional<std::string> schemeOf(const std::string& url);

// A query item's value percent-encoded: everything a query allows stays, except "&" and "="
// (they separate items) and "+" (form decoders read it as a space).
std::string percentEncodedQueryValue(std::string_view value);

// The URL with its query, if any, replaced by the one item name=value; scheme, authority, path
// and fragment stay as written. None when the URL does not parse.
std::optional<std::string> withTheOnlyQueryItem(const std::string& url, const std::string& name,
                                                const std::string& value);

// "scheme://host?name=value" with the host and the value percent-encoded; none when that is not
// a URL (an unusable scheme).
std::optional<std::string> urlOfHostAndQueryItem(const std::string& scheme, const std::string& host,
                                                 const std::string& name, const std::string& value);

// The decoded path of a file:// URL; none for another scheme or a URL that does not parse.
std::optional<std::string> pathOfFileURL(const std::string& url);

// The text without white space and line breaks at either end; none when it is not UTF-8.
std::optional<std::string> trimmedUTF8Text(std::string_view text);

}  // namespace host
