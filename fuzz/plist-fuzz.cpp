// Property lists from a bundle: Info.plist, strings tables and launch agents, in either form.
#include <cstddef>
#include <cstdint>
#include <string>

#include "support/plist.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto value = host::parsedPropertyList(std::string(reinterpret_cast<const char*>(data), size));
    if (value) (void)value->dump(-1, ' ', false, host::Json::error_handler_t::replace);
    return 0;
}
