#include "bundle-fixture.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <plist/plist.h>

namespace testing_support {
namespace {

plist_t plistOf(const Json& value) {
    if (value.is_object()) {
        plist_t dict = plist_new_dict();
        for (const auto& [key, member] : value.items()) plist_dict_set_item(dict, key.c_str(), plistOf(member));
        return dict;
    }
    if (value.is_array()) {
        plist_t array = plist_new_array();
        for (const auto& element : value) plist_array_append_item(array, plistOf(element));
        return array;
    }
    if (value.is_boolean()) return plist_new_bool(value.get<bool>() ? 1 : 0);
    if (value.is_number_float()) return plist_new_real(value.get<double>());
    if (value.is_number()) return plist_new_uint(static_cast<std::uint64_t>(value.get<std::int64_t>()));
    if (value.is_string()) return plist_new_string(value.get<std::string>().c_str());
    return plist_new_data("", 0);  // null stands for a value of no JSON type
}

template <typename Writer, typename Free>
std::string serialised(const Json& value, Writer write, Free release) {
    plist_t root = plistOf(value);
    char* bytes = nullptr;
    std::uint32_t length = 0;
    write(root, &bytes, &length);
    std::string text(bytes, length);
    release(bytes);
    plist_free(root);
    return text;
}

}  // namespace

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "host-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("no temporary folder");
    path_ = fs::canonical(pattern);
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void writeText(const fs::path& file, const std::string& text, bool executable) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    if (executable) fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
}

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string xmlPropertyList(const Json& value) { return serialised(value, plist_to_xml, plist_to_xml_free); }

std::string binaryPropertyList(const Json& value) { return serialised(value, plist_to_bin, plist_to_bin_free); }

BundleFixture::BundleFixture(std::string executableName, std::string bundleName)
    : executableName_(std::move(executableName)), bundleName_(std::move(bundleName)) {
    fs::create_directories(contents() / "MacOS");
    fs::create_directories(contents() / "Resources");
    fs::create_directories(home());
    fs::copy_file(HOST_BINARY, executable());
}

void BundleFixture::writeInfo(const Json& info, bool binary) const {
    writeText(contents() / "Info.plist", binary ? binaryPropertyList(info) : xmlPropertyList(info));
}

void BundleFixture::writeIdentity(const std::string& identifier) const {
    writeInfo(Json{{"CFBundleIdentifier", identifier}});
}

void BundleFixture::writeRuntime(const std::string& fileName, const Json& runtime) const {
    writeResource(fileName, runtime.dump());
}

void BundleFixture::writeResource(const std::string& fileName, const std::string& text) const {
    writeText(contents() / "Resources" / fileName, text);
}

void BundleFixture::writeRunnableRuntime(const std::string& fileName, Json extra) const {
    fs::path bun = root() / "tools" / "bun";
    fs::path shell = root() / "shell.ts";
    writeText(bun, "#!/bin/sh\nexit 0\n", true);
    writeText(shell, "");
    Json runtime = {{"bun", bun.string()}, {"shell", shell.string()}};
    runtime.update(extra);
    writeRuntime(fileName, runtime);
}

fs::path BundleFixture::linkTheHostAs(const std::string& name) const {
    fs::path link = contents() / "MacOS" / name;
    fs::create_hard_link(executable(), link);
    return link;
}

// Built from nothing, so no bus or display of the machine's (DBUS_SESSION_BUS_ADDRESS, DISPLAY,
// WAYLAND_DISPLAY) reaches a host; it runs headless unless a test names a desktop of its own,
// and a system bus it might look for is one that is not there.
std::map<std::string, std::string> BundleFixture::environment() const {
    return {{"HOME", home().string()},
            {"XDG_DATA_HOME", (home() / ".local" / "share").string()},
            {"XDG_CONFIG_HOME", (home() / ".config").string()},
            {"PATH", "/usr/local/bin:/usr/bin:/bin"},
            {"MENU_BAR_DESKTOP", "headless"},
            {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + (root() / "no-system-bus").string()}};
}

RunResult BundleFixture::run(const std::vector<std::string>& arguments, const std::string& input,
                             std::map<std::string, std::string> extra, const std::string& argv0) const {
    auto variables = environment();
    for (auto& [name, value] : extra) variables[name] = value;
    std::string program = argv0.empty() ? executable().string() : argv0;
    RunRequest request{program, arguments, "", variables, input, root().string()};
    return runToTheEnd(request);
}

}  // namespace testing_support
