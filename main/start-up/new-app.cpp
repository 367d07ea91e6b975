#include "start-up/new-app.h"

#include <cctype>
#include <system_error>

#include "platform/files.h"
#include "platform/process.h"
#include "support/json.h"
#include "support/plist.h"
#include "support/text.h"

namespace host {
namespace fs = std::filesystem;

namespace {

const char* usage = "usage: --new-app <folder> --name <Name> --id <bundle id> [--scheme <scheme>]\n";

// The template's import of the kit, as the repository lays them out, and in the bundle.
const char* templateImport = "\"../src/index.ts\"";
const char* bundleImport = "\"./kit/src/index.ts\"";

bool isIdentifierCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
}

bool isSchemeCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '.' || c == '-';
}

bool validIdentifier(const std::string& identifier) {
    if (identifier.empty() || identifier.front() == '.' || identifier.back() == '.') return false;
    for (char c : identifier) {
        if (!isIdentifierCharacter(c)) return false;
    }
    return true;
}

bool validScheme(const std::string& scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme.front()))) return false;
    for (char c : scheme) {
        if (!isSchemeCharacter(c)) return false;
    }
    return true;
}

// Lower-case letters and digits, other runs of characters as one "-": "My App 2" is my-app-2.
std::string slugOf(const std::string& name) {
    std::string slug;
    for (char c : lowercased(name)) {
        if (std::isalnum(static_cast<unsigned char>(c))) slug += c;
        else if (!slug.empty() && slug.back() != '-') slug += '-';
    }
    while (!slug.empty() && slug.back() == '-') slug.pop_back();
    return slug;
}

std::string schemeOf(const std::string& slug) {
    std::string scheme;
    for (char c : slug) {
        if (c != '-') scheme += c;
    }
    return validScheme(scheme) ? scheme : "app" + scheme;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

std::optional<NewAppRequest> failed(std::string* why, std::string reason) {
    *why = std::move(reason);
    return std::nullopt;
}

Json infoOf(const NewAppRequest& request) {
    Json urlType = {{"CFBundleURLName", request.name + " links"}, {"CFBundleURLSchemes", Json::array({request.scheme})}};
    return {{"CFBundleIdentifier", request.identifier},
            {"CFBundleName", request.name},
            {"CFBundleExecutable", request.executable},
            {"CFBundleVersion", "1.0"},
            {"CFBundleURLTypes", Json::array({urlType})}};
}

Json runtimeOf(const fs::path& bun, const fs::path& shell) {
    return {{"bun", bun.string()}, {"shell", shell.string()}, {"menu", "child"}, {"opened", "tell"}, {"front", "tell"}};
}

bool writeFile(const fs::path& file, const std::string& bytes, std::string* why) {
    std::string error;
    if (platform::writeFileAtomically(file, bytes, &error)) return true;
    *why = "cannot write " + file.string() + ": " + error;
    return false;
}

bool copyInto(const fs::path& from, const fs::path& to, std::string* why) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    if (!error) fs::copy(from, to, fs::copy_options::recursive, error);
    if (!error) return true;
    *why = "cannot copy " + from.string() + ": " + error.message();
    return false;
}

bool makeTheBundle(const NewAppRequest& request, const NewAppParts& parts, std::string* why) {
    const fs::path contents = request.bundle / "Contents";
    const fs::path resources = contents / "Resources";
    const fs::path shell = resources / "shell.ts";
    auto info = xmlPropertyListOf(infoOf(request));
    if (!info) return *why = "cannot make Info.plist", false;
    auto shellText = platform::contentsOf(*parts.kit / "template" / "shell.ts");
    if (!shellText) return *why = "cannot read the kit's template " + (*parts.kit / "template/shell.ts").string(), false;
    replaceAll(*shellText, templateImport, bundleImport);
    if (!writeFile(contents / "Info.plist", *info, why)) return false;
    if (!writeFile(resources / (request.executable + "-runtime.json"),
                   runtimeOf(*parts.bun, fs::absolute(shell)).dump(2) + "\n", why))
        return false;
    if (!writeFile(shell, *shellText, why)) return false;
    if (!copyInto(*parts.kit / "src", resources / "kit" / "src", why)) return false;
    if (!copyInto(*parts.kit / "package.json", resources / "kit" / "package.json", why)) return false;
    return copyInto(parts.host, contents / "MacOS" / request.executable, why);
}

// Quoted for a shell when it holds more than letters, digits and /._-.
std::string shellWord(const std::string& text) {
    for (char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && std::string_view("/._-").find(c) == std::string_view::npos)
            return "'" + text + "'";
    }
    return text;
}

std::string howToRun(const NewAppRequest& request) {
    std::string bundle = shellWord(request.bundle.string());
    return "created " + bundle + "\n" +
           "  its shell:   " + (request.bundle / "Contents/Resources/shell.ts").string() + "\n" +
           "  run it:      scripts/run-app " + bundle + "   (the desktop console, a throw-away home)\n" +
           "  or directly: " + shellWord((request.bundle / "Contents/MacOS" / request.executable).string()) + "\n";
}

}  // namespace

std::optional<NewAppRequest> newAppRequestOf(const Arguments& commandLine, std::string* why) {
    if (commandLine.size() < 2 || commandLine[0] != newAppFlag) return failed(why, usage);
    NewAppRequest request;
    fs::path folder = commandLine[1];
    for (std::size_t i = 2; i < commandLine.size(); i += 2) {
        if (i + 1 >= commandLine.size()) return failed(why, usage);
        const std::string& option = commandLine[i];
        const std::string& value = commandLine[i + 1];
        if (option == "--name") request.name = value;
        else if (option == "--id") request.identifier = value;
        else if (option == "--scheme") request.scheme = lowercased(value);
        else return failed(why, usage);
    }
    if (request.name.empty() || request.identifier.empty()) return failed(why, usage);
    if (request.name.find('/') != std::string::npos) return failed(why, "--name cannot hold \"/\"\n");
    if (!validIdentifier(request.identifier))
        return failed(why, "--id takes letters, digits, \".\" and \"-\", like org.example.hello\n");
    std::string slug = slugOf(request.name);
    request.executable = slug.empty() ? "app" : slug;
    if (request.scheme.empty()) request.scheme = schemeOf(request.executable);
    if (!validScheme(request.scheme))
        return failed(why, "--scheme starts with a letter and takes letters, digits, \"+\", \".\" and \"-\"\n");
    request.bundle = fs::absolute(folder.extension() == ".app" ? folder : folder / (request.name + ".app"));
    return request;
}

ToolResult createTheNewApp(const Arguments& commandLine, const NewAppParts& parts) {
    std::string why;
    auto request = newAppRequestOf(commandLine, &why);
    if (!request) return ToolResult{"", why, 1};
    if (!parts.kit) return ToolResult{"", "the kit is missing: reinstall menu-bar-host\n", 1};
    if (!parts.bun) return ToolResult{"", "bun is not on the PATH: install it (https://bun.sh) and try again\n", 1};
    std::error_code error;
    if (fs::exists(request->bundle, error) || error)
        return ToolResult{"", request->bundle.string() + " exists already; choose another folder\n", 1};
    if (!makeTheBundle(*request, parts, &why)) {
        fs::remove_all(request->bundle, error);
        return ToolResult{"", why + "\n", 1};
    }
    return ToolResult{howToRun(*request), "", 0};
}

std::optional<fs::path> programOnThePath(const std::string& name, const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        fs::path folder = path.substr(start, end - start);
        if (!folder.empty() && platform::isExecutableFile(folder / name)) return fs::absolute(folder / name);
        start = end + 1;
    }
    return std::nullopt;
}

}  // namespace host
