// A host started in the background inside a fixture bundle, for tests that talk to it while it
// runs: send it signals, read its output and logs, wait for its end. Its whole process group
// is killed when the object goes, so no test leaves a process behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bundle-fixture.h"

namespace testing_support {

using namespace std::chrono_literals;

class RunningHost {
public:
    // `program` replaces the fixture's executable when given (a bundle made elsewhere).
    RunningHost(const BundleFixture& fixture, std::vector<std::string> arguments = {},
                std::map<std::string, std::string> extra = {}, const fs::path& program = {});
    // Started by a middle process, the host's root, which lives until endTheRoot(). This test
    // process becomes a subreaper, so the orphaned host is still its to wait for.
    struct ThroughARoot {};
    RunningHost(ThroughARoot, const BundleFixture& fixture, std::map<std::string, std::string> extra = {});
    ~RunningHost();
    RunningHost(const RunningHost&) = delete;
    RunningHost& operator=(const RunningHost&) = delete;

    pid_t pid() const { return pid_; }
    pid_t root() const { return root_; }
    void endTheRoot();
    void signal(int signalNumber) const;

    // The exit status (or 128 + signal) once it ends within `limit`; none while it runs.
    std::optional<int> waitForTheEnd(std::chrono::milliseconds limit = 20s);

    // Standard output and error read so far (reads what is available first).
    const std::string& out();
    const std::string& err();

    // Waits until `condition` holds (checked every few milliseconds), at most `limit`.
    static bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s);

private:
    void readWhatIsAvailable();

    pid_t pid_ = -1;
    pid_t root_ = -1;
    int rootLife_ = -1;
    int out_ = -1;
    int err_ = -1;
    std::string outText_;
    std::string errText_;
    std::optional<int> status_;
};

// Gone, or a zombie waiting for whoever reaps orphans.
bool hasEnded(pid_t pid);

// The JSON records of a log file, one per line; unparsable lines are skipped.
std::vector<Json> recordsOf(const fs::path& file);
// The records of one kind.
std::vector<Json> recordsOf(const fs::path& file, const std::string& kind);

// Writes a shell script run by /bin/sh as the bundle's "bun", with the bundle piped (a URL scheme).
void writeShellScript(const BundleFixture& fixture, const std::string& script, Json extraRuntime = Json::object(),
                      bool piped = true);

// A shell the test speaks through: it writes, as its own output, every line the test appends
// with tellTheHostAsTheShell(), and keeps every line the host sends it in "received" in the
// fixture's folder.
void writeRelayShell(const BundleFixture& fixture, Json extraRuntime = Json::object());
// Appends messages, one line each, for the relay shell to pass to the host.
void tellTheHostAsTheShell(const BundleFixture& fixture, const std::vector<Json>& messages);

// Support folder of the fixture's app: $XDG_DATA_HOME/app.example.demo.
fs::path supportFolder(const BundleFixture& fixture);

}  // namespace testing_support
