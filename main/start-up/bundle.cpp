#include "start-up/bundle.h"

#include <algorithm>
#include <cctype>
#include <system_error>

#include "platform/descriptors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/plist.h"
#include "support/text.h"

namespace host {
namespace fs = std::filesystem;

namespace {

constexpr std::string_view runtimeSuffix = "-runtime.json";

fs::path bundleDirectoryOf(const fs::path& executablePath) {
    fs::path folder = executablePath.parent_path();
    if (folder.filename() == "MacOS" && folder.parent_path().filename() == "Contents") {
        return folder.parent_path().parent_path();
    }
    return folder;
}

std::optional<std::string> plistString(const Json& info, const char* key) {
    const std::string* value = stringMember(info, key);
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

std::optional<std::string> lowercasedPlistString(const Json& info, const char* key) {
    auto value = plistString(info, key);
    return value ? std::optional<std::string>(lowercased(*value)) : std::nullopt;
}

std::optional<Json> runtimeObjectOf(const fs::path& file) {
    auto bytes = platform::contentsOf(file);
    if (!bytes) return std::nullopt;
    auto parsed = parsedJson(*bytes);
    if (!parsed || !parsed->is_object()) return std::nullopt;
    return parsed;
}

std::map<std::string, std::string> stringMembersOf(const Json& object, const fs::path& home) {
    std::map<std::string, std::string> strings;
    for (const auto& [key, value] : object.items()) {
        if (value.is_string()) strings[key] = tildeExpanded(value.get<std::string>(), home);
    }
    return strings;
}

std::string frozenPath(const std::string& name, const fs::path& bundleDirectory,
                       const std::optional<std::string>& helperBundle) {
    if (helperBundle) {
        fs::path inHelper = fs::path(*helperBundle) / "Contents" / "MacOS" / name;
        if (platform::isExecutableFile(inHelper)) return inHelper.string();
    }
    return (bundleDirectory / "Contents" / "MacOS" / name).string();
}

// Chooses the program the shell runs: frozen, else the bundled bun, else "bun".
bool chooseTheProgram(RuntimeConfiguration& config, const Bundle& bundle, const fs::path& home,
                      std::string* why) {
    if (auto name = plistString(bundle.info, "CFBundleName")) {
        config.helperBundle = (bundle.directory / "Contents" / "Helpers" / (*name + ".app")).string();
    }
    if (const std::string* executable = config.runtimeValue("executable")) {
        config.frozen = frozenPath(*executable, bundle.directory, config.helperBundle);
    }
    if (const std::string* inBundle = config.runtimeValue("bunInBundle")) {
        std::string path = resolvedRuntimeValue(*inBundle, bundle.directory, home);
        if (platform::isExecutableFile(path)) config.bunInBundle = path;
    }
    const std::string* bun = config.runtimeValue("bun");
    if (config.frozen) config.executable = *config.frozen;
    else if (config.bunInBundle) config.executable = *config.bunInBundle;
    else if (bun) config.executable = *bun;
    else return *why = "neither executable nor bun", false;
    if (!platform::isExecutableFile(config.executable)) {
        return *why = config.executable + " is not executable", false;
    }
    if (!config.frozen) {
        const std::string* shell = config.runtimeValue("shell");
        std::error_code error;
        if (!shell || !fs::exists(*shell, error)) return *why = "shell is missing", false;
    }
    return true;
}

void addSchemes(std::set<std::string>& schemes, const Json& list) {
    if (!isArrayOfStrings(list)) return;
    for (const auto& scheme : list) schemes.insert(lowercased(scheme.get<std::string>()));
}

void readTheInfoKeys(RuntimeConfiguration& config, const Json& info) {
    config.schemes = schemesOf(info);
    if (const Json* services = arrayMember(info, "NSServices"); services && isArrayOfObjects(*services)) {
        config.services = *services;
    }
    config.linkExtension = lowercasedPlistString(info, "WickerlyLinkExtension");
    config.fileExtension = lowercasedPlistString(info, "WickerlyFileExtension");
    config.fileLinkHead = plistString(info, "WickerlyFileLink");
    config.linkRelayPrefix = lowercasedPlistString(info, "WickerlyLinkRelayPrefix");
    config.piped = !config.schemes.empty() || !config.services.empty();
    config.drawsTheChildsMenu = config.piped && config.runtimeSays("menu", "child");
}

}  // namespace

Bundle bundleOfExecutable(const fs::path& executablePath) {
    Bundle bundle;
    bundle.directory = bundleDirectoryOf(executablePath);
    if (auto info = readPropertyList(bundle.directory / "Contents" / "Info.plist"); info && info->is_object()) {
        bundle.info = std::move(*info);
    }
    bundle.identifier = plistString(bundle.info, "CFBundleIdentifier");
    return bundle;
}

void unavailable(const std::string& message) {
    platform::say("runtime is unavailable: " + message + "\n");
    platform::exitNow(66);
}

std::set<std::string> schemesOf(const Json& info) {
    std::set<std::string> schemes;
    if (const Json* types = arrayMember(info, "CFBundleURLTypes"); types && isArrayOfObjects(*types)) {
        for (const auto& type : *types) {
            if (const Json* list = arrayMember(type, "CFBundleURLSchemes")) addSchemes(schemes, *list);
        }
    }
    if (const Json* list = arrayMember(info, "WickerlyURLSchemes")) addSchemes(schemes, *list);
    return schemes;
}

std::string desktopNameOf(const Bundle& bundle) {
    for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
        const std::string* name = stringMember(bundle.info, key);
        if (name && !name->empty()) return *name;
    }
    std::string folder = bundle.directory.filename().string();
    if (folder.ends_with(".app")) folder.resize(folder.size() - 4);
    return folder;
}

std::string executableNameOf(const std::string& argv0) {
    return fs::path(argv0).filename().string();
}

std::string tildeExpanded(const std::string& value, const fs::path& home) {
    if (!value.starts_with("~/")) return value;
    std::string base = home.string();
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base + value.substr(1);
}

std::string resolvedRuntimeValue(const std::string& value, const fs::path& base, const fs::path& home) {
    if (value.starts_with("~/")) return tildeExpanded(value, home);
    if (value.starts_with("Contents/")) return (base / value).string();
    return value;
}

std::vector<std::string> runtimeFilesOf(const Bundle& bundle) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator entry(bundle.directory / "Contents" / "Resources", error), end;
         !error && entry != end; entry.increment(error)) {
        std::string name = entry->path().filename().string();
        if (name.ends_with(runtimeSuffix)) names.push_back(name);
    }
    return names;
}

std::optional<std::string> chosenRuntimeFile(const std::vector<std::string>& runtimeFiles,
                                             const std::string& executableName, std::string* why) {
    std::string wanted = executableName + std::string(runtimeSuffix);
    auto exact = std::find(runtimeFiles.begin(), runtimeFiles.end(), wanted);
    if (exact != runtimeFiles.end()) return *exact;
    if (runtimeFiles.size() == 1) return runtimeFiles.front();
    *why = "Contents/Resources holds " + std::to_string(runtimeFiles.size()) + " *-runtime.json, none is " + wanted;
    return std::nullopt;
}

std::string prefixOfUnit(const std::string& unit) {
    std::string prefix = uppercased(unit);
    std::replace(prefix.begin(), prefix.end(), '-', '_');
    return prefix + "_";
}

const std::string* RuntimeConfiguration::runtimeValue(const char* key) const {
    auto found = runtime.find(key);
    return found == runtime.end() ? nullptr : &found->second;
}

bool RuntimeConfiguration::runtimeSays(const char* key, const char* expected) const {
    const std::string* value = runtimeValue(key);
    return value && *value == expected;
}

std::optional<RuntimeConfiguration> readTheRuntime(const Bundle& bundle, const std::string& identity,
                                                   const std::string& runtimeFile, const fs::path& home,
                                                   std::string* why) {
    RuntimeConfiguration config;
    config.identity = identity;
    config.runtimeFile = runtimeFile;
    auto object = runtimeObjectOf(bundle.directory / "Contents" / "Resources" / runtimeFile);
    if (!object) return *why = runtimeFile + " is not a JSON object", std::nullopt;
    config.runtimeObject = std::move(*object);
    config.runtime = stringMembersOf(config.runtimeObject, home);
    config.unit = runtimeFile.substr(0, runtimeFile.size() - runtimeSuffix.size());
    config.prefix = prefixOfUnit(config.unit);
    if (!chooseTheProgram(config, bundle, home, why)) return std::nullopt;
    readTheInfoKeys(config, bundle.info);
    return config;
}

}  // namespace host
