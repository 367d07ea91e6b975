// The user's settings for one application, persisted between runs as one JSON object.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "support/json.h"

namespace host::platform {

class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file);

    // ${XDG_CONFIG_HOME:-$HOME/.config}/<identity>/user-defaults.json from the given environment
    // values. A relative XDG_CONFIG_HOME is ignored; empty when there is no absolute folder to
    // use or the identity is not a plain folder name.
    static std::filesystem::path fileFor(const std::string& identity, const char* xdgConfigHome, const char* home);

    const std::filesystem::path& file() const { return file_; }

    // Every read goes back to the file, since another process may have changed it. None when
    // the key is absent or the file is missing, unreadable or not an object.
    std::optional<Json> value(const std::string& key) const;
    // As the platform's boolForKey: true for JSON true, a non-zero number, "YES" or "true" in
    // any case, or a string whose leading integer is non-zero.
    bool boolValue(const std::string& key) const;
    // Strings as they are, numbers in decimal, booleans as "1" or "0"; none otherwise.
    std::optional<std::string> stringValue(const std::string& key) const;

    // Read-modify-write of the whole file, replaced atomically with sorted keys. An existing
    // file that is not a JSON object is replaced by a fresh one. Setting null removes the key.
    // False with a description in *error when nothing could be written.
    bool set(const std::string& key, const Json& value, std::string* error = nullptr);
    // True when the key is no longer stored, including when it never was.
    bool remove(const std::string& key, std::string* error = nullptr);

private:
    std::filesystem::path file_;
};

}  // namespace host::platform
