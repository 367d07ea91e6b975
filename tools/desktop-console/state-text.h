// The host's state lines as a person reads them: plain lines, each ended by a line feed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "desktop-peer.h"

namespace console {

using desktop::Json;
using NameOf = std::function<std::string(std::int64_t pid)>;

// One state line; empty for lines nobody needs to see (pongs).
std::string describe(const Json& line, const NameOf& nameOf);

// The registered hot keys as chords (⌘⇧D), numbered from 1 as `press N` takes them.
std::string describeHotKeys(const Json& hotKeys);

// A registered chord from its key code and modifier mask: "⌘⇧D".
std::string hotKeyChord(std::int64_t code, std::int64_t modifiers);

// The declared hot keys of an activation file with their statuses; empty without rows.
std::string describeDeclaredHotKeys(const Json& activation);

}  // namespace console
