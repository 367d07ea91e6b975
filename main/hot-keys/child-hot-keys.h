// The hot keys the shell publishes itself: the list is replaced whole by each "hotkeys" message,
// every row is registered unless a remote client in front takes it, and each arm reports the
// statuses back to the shell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hot-keys/hot-key-chords.h"
#include "support/json.h"

namespace host {

inline constexpr std::uint32_t childHotKeySignature = signatureOf("WkCK");
inline constexpr std::int32_t yieldedHotKeyStatus = -3;

struct ChildHotKeyRow {
    std::string key;  // the shell's name for the chord, never parsed
    std::uint32_t code = 0;
    std::uint32_t modifiers = 0;
    std::uint32_t options = 0;
    std::string url;
    friend bool operator==(const ChildHotKeyRow&, const ChildHotKeyRow&) = default;
};

// The rows of a "hotkeys" array, in order; a row without string "key" and "url", or whose code,
// modifiers or options are not integers that fit 32 unsigned bits, is left out.
std::vector<ChildHotKeyRow> childHotKeyRowsOf(const Json& rows);

class ChildHotKeys {
public:
    // Takes presses and activations; no rows yet, so nothing is armed.
    ChildHotKeys();
    ChildHotKeys(const ChildHotKeys&) = delete;
    ChildHotKeys& operator=(const ChildHotKeys&) = delete;

    // Releases the current rows, takes the new ones and arms them.
    void take(const Json& rows);
    void arm(const std::optional<std::string>& front);
    void registerHotKey(std::size_t index);
    void unregisterHotKey(std::size_t index, bool yielded);
    // The desktop refused the registered row afterwards: the shell hears its status.
    void refused(std::size_t index, std::uint64_t reference, std::int32_t status);
    void fire(std::size_t index);

    const std::vector<ChildHotKeyRow>& rows() const { return rows_; }
    const std::vector<std::int32_t>& statuses() const { return statuses_; }

private:
    void reportTheStatuses() const;

    std::vector<ChildHotKeyRow> rows_;
    std::vector<std::optional<std::uint64_t>> references_;
    std::vector<std::int32_t> statuses_;
};

void makeTheChildHotKeys();
ChildHotKeys* childHotKeys();

}  // namespace host
