// The hot keys the bundle declares: each chord is registered while its front condition holds
// (and, with a remote client in front, while the bridge routes it), released otherwise, and the
// active set is published in the activation file for other processes to read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hot-keys/hot-key-chords.h"
#include "support/directory-watch.h"

namespace host {

inline constexpr std::uint32_t hotKeySignature = signatureOf("WkHK");
inline constexpr const char* activationFileName = "shortcut-activation.json";

struct HotKeyOwnerSettings {
    std::vector<HotKey> declaredHotKeys;
    std::filesystem::path activationFile;
    std::uint32_t topLeftKeyCode = ansiTopLeftKeyCode;
};

class HotKeyOwner {
public:
    // Takes presses and activations, arms once and watches the remote configuration's folder.
    explicit HotKeyOwner(HotKeyOwnerSettings settings);
    HotKeyOwner(const HotKeyOwner&) = delete;
    HotKeyOwner& operator=(const HotKeyOwner&) = delete;

    // Registers the chords wanted with this front application, releases the others, publishes.
    void arm(const std::optional<std::string>& front);
    void registerHotKey(std::size_t index);
    void unregisterHotKey(std::size_t index);
    // The desktop refused the registered chord afterwards: its status is published.
    void refused(std::size_t index, std::uint64_t reference, std::int32_t status);
    void publish();
    void fire(std::size_t index);

    const std::vector<std::int32_t>& statuses() const { return statuses_; }

private:
    bool isWanted(const HotKey& hotKey, const std::optional<std::string>& front, bool yields) const;
    void watchTheRemoteConfiguration();
    bool isOwnActivationFile(const std::string& name) const;

    HotKeyOwnerSettings settings_;
    std::vector<std::optional<std::uint64_t>> references_;
    std::vector<std::int32_t> statuses_;
    std::unique_ptr<loop::DirectoryWatch> configWatch_;
};

// Creates the one owner; presses that arrive before it exists are taken and do nothing.
void makeTheHotKeyOwner(HotKeyOwnerSettings settings);
HotKeyOwner* hotKeyOwner();

}  // namespace host
