// The C signatures of the views library's entry points, as the host calls them. A views library
// exports them with C linkage; `<name>` is a panel name.
#pragma once

#include <cstdint>

extern "C" {

// What the library calls with a panel's action text (NUL-terminated UTF-8, possibly null), from
// any thread. The host copies the text before returning.
typedef void (*ViewsPanelAct)(const char* text);

typedef void (*ViewsPanelShow)(const char* look, ViewsPanelAct act);  // <name>_prepare, <name>_open
typedef void (*ViewsPanelUpdate)(const char* look);                  // <name>_update
typedef void (*ViewsPanelClose)();                                   // <name>_close

// 0 when the updater started with the feed.
typedef std::int32_t (*ViewsStartUpdater)(const char* feed);          // wickerly_start_updater
typedef std::int32_t (*ViewsCheckForUpdates)();                       // wickerly_check_for_updates
// 0 when the updater switched to the feed.
typedef std::int32_t (*ViewsSetUpdateFeed)(const char* feed);         // wickerly_set_update_feed
// Negative when no update waits; otherwise an update waits and the first that many bytes of
// `buffer` hold its version text (UTF-8, not necessarily NUL-terminated). The host reads no more
// than `capacity` of them.
typedef std::int32_t (*ViewsWaitingUpdate)(char* buffer, std::int32_t capacity);  // wickerly_waiting_update
}
