// Unicode-aware case changes (UTF-8 in, UTF-8 out; invalid input is returned unchanged).
#pragma once

#include <string>
#include <string_view>

namespace host {

std::string lowercased(std::string_view text);
std::string uppercased(std::string_view text);

}  // namespace host
