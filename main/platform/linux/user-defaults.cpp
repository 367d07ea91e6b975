#include "platform/user-defaults.h"

#include <cctype>
#include <cstdint>
#include <functional>
#include <utility>

#include "platform/files.h"

namespace host::platform {
namespace fs = std::filesystem;

namespace {

constexpr const char* fileName = "user-defaults.json";

bool isAbsoluteFolder(const char* value) { return value && value[0] == '/'; }

// The identity becomes one folder name, so it must not climb out of the config folder.
bool isPlainFolderName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

// None when there is no file, or one that does not hold an object.
std::optional<Json> storedObject(const fs::path& file) {
    if (file.empty()) return std::nullopt;
    auto bytes = contentsOf(file);
    if (!bytes) return std::nullopt;
    auto parsed = parsedJson(*bytes);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

bool equalsIgnoringCase(const std::string& text, const char* word) {
    std::size_t i = 0;
    for (; i < text.size() && word[i]; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    }
    return i == text.size() && !word[i];
}

// Like the platform's integer scan: leading spaces, a sign, then digits; the rest is ignored.
bool leadingIntegerIsNonZero(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        if (text[i] != '0') return true;
    }
    return false;
}

bool truthOf(const Json& value) {
    if (value.is_boolean()) return value.get<bool>();
    if (value.is_number_integer()) return value.get<std::int64_t>() != 0;
    if (value.is_number()) return value.get<double>() != 0;
    if (!value.is_string()) return false;
    const auto& text = value.get_ref<const std::string&>();
    return equalsIgnoringCase(text, "yes") || equalsIgnoringCase(text, "true") || leadingIntegerIsNonZero(text);
}

// Applies `change` to the stored object and writes it back when it reports a change.
bool rewrite(const fs::path& file, const std::function<bool(Json&)>& change, std::string* error) {
    std::string why;
    if (file.empty()) {
        why = "no folder for the user's settings: neither XDG_CONFIG_HOME nor HOME is set";
    } else {
        Json object = storedObject(file).value_or(Json::object());
        if (!change(object)) return true;
        auto text = sortedJson(object);
        if (!text) why = "the settings cannot be written as JSON";
        else if (writeFileAtomically(file, *text + "\n", &why)) return true;
    }
    if (error) *error = why;
    return false;
}

}  // namespace

UserDefaults::UserDefaults(fs::path file) : file_(std::move(file)) {}

fs::path UserDefaults::fileFor(const std::string& identity, const char* xdgConfigHome, const char* home) {
    if (!isPlainFolderName(identity)) return {};
    fs::path config;
    if (isAbsoluteFolder(xdgConfigHome)) config = xdgConfigHome;
    else if (isAbsoluteFolder(home)) config = fs::path(home) / ".config";
    else return {};
    return config / identity / fileName;
}

std::optional<Json> UserDefaults::value(const std::string& key) const {
    auto object = storedObject(file_);
    if (!object) return std::nullopt;
    auto found = object->find(key);
    if (found == object->end()) return std::nullopt;
    return *found;
}

bool UserDefaults::boolValue(const std::string& key) const {
    auto stored = value(key);
    return stored && truthOf(*stored);
}

std::optional<std::string> UserDefaults::stringValue(const std::string& key) const {
    auto stored = value(key);
    if (!stored) return std::nullopt;
    if (stored->is_string()) return stored->get<std::string>();
    if (stored->is_boolean()) return stored->get<bool>() ? "1" : "0";
    if (stored->is_number()) return sortedJson(*stored);
    return std::nullopt;
}

bool UserDefaults::set(const std::string& key, const Json& value, std::string* error) {
    if (value.is_null()) return remove(key, error);
    return rewrite(
        file_,
        [&](Json& object) {
            if (object.contains(key) && object[key] == value) return false;
            object[key] = value;
            return true;
        },
        error);
}

bool UserDefaults::remove(const std::string& key, std::string* error) {
    return rewrite(file_, [&](Json& object) { return object.erase(key) > 0; }, error);
}

}  // namespace host::platform
