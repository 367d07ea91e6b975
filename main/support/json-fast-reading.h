// objectKeeping's reading by RapidJSON. RapidJSON refuses what nlohmann-json refuses
// and, for what both accept, the values are the same; a text it would read otherwise (one that
// escapes a surrogate) or cannot read is left to nlohmann-json, so the outcome is always the
// library's own. Any thread.
#pragma once

#include <optional>
#include <string_view>

#include "support/json.h"

namespace host {

enum class FastReading { refused, notAnObject, read };

// Fills `object` (and *aside) as objectKeeping would; `refused` leaves them untouched.
FastReading readObjectKeeping(std::string_view text, bool (*keeps)(std::string_view name), MembersSetAside* aside,
                              Json& object);

}  // namespace host
