// A throw-away application bundle around a copy of the built host, in a temporary folder that
// also holds the user's home and XDG folders. Removed with everything in it when destroyed.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "process-runner.h"

namespace testing_support {

namespace fs = std::filesystem;
using Json = nlohmann::json;

class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void writeText(const fs::path& file, const std::string& text, bool executable = false);
std::string readText(const fs::path& file);

// Info.plist bytes from JSON: objects become dictionaries, arrays arrays, and so on.
std::string xmlPropertyList(const Json& value);
std::string binaryPropertyList(const Json& value);

class BundleFixture {
public:
    explicit BundleFixture(std::string executableName = "demo", std::string bundleName = "Demo.app");

    const fs::path& root() const { return folder_.path(); }
    fs::path bundle() const { return root() / bundleName_; }
    fs::path contents() const { return bundle() / "Contents"; }
    fs::path home() const { return root() / "home"; }
    fs::path executable() const { return contents() / "MacOS" / executableName_; }

    void writeInfo(const Json& info, bool binary = false) const;
    // An Info.plist with this identifier and nothing else.
    void writeIdentity(const std::string& identifier = "app.example.demo") const;
    void writeRuntime(const std::string& fileName, const Json& runtime) const;
    void writeResource(const std::string& fileName, const std::string& text) const;
    // A runtime file that runs `shell` with a stand-in bun that is executable.
    void writeRunnableRuntime(const std::string& fileName, Json extra = Json::object()) const;
    // Another name for the host in Contents/MacOS (a hard link).
    fs::path linkTheHostAs(const std::string& name) const;

    // The host's environment: HOME and XDG folders inside the fixture, PATH for tools.
    std::map<std::string, std::string> environment() const;
    RunResult run(const std::vector<std::string>& arguments, const std::string& input = "",
                  std::map<std::string, std::string> extra = {}, const std::string& startedAs = "") const;

private:
    TemporaryFolder folder_;
    std::string executableName_;
    std::string bundleName_;
};

}  // namespace testing_support
