// URLs read into their parts, with the platform's URI rules (RFC 3986).
#pragma once

#include <optional>
#include <string>

namespace host {

struct URLParts {
    std::string scheme;  // as written
    std::optional<std::string> host;
    std::string path;
    std::optional<std::string> query;
};

// None when the text is not an absolute URL.
std::optional<URLParts> parsedURL(const std::string& text);

}  // namespace host
