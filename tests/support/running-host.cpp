#include "running-host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {
namespace {

int statusOf(int raw) {
    if (WIFEXITED(raw)) return WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
    return -1;
}

void drain(int fd, std::string& into) {
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) into.append(buffer, static_cast<std::size_t>(n));
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
}

}  // namespace

namespace {

struct Launch {
    std::string program;
    std::vector<std::string> argv;
    std::vector<std::string> env;
    std::string directory;
    int out = -1;
    int err = -1;
};

Launch launchOf(const BundleFixture& fixture, const std::vector<std::string>& arguments,
                const std::map<std::string, std::string>& extra, int out, int err, const fs::path& program = {}) {
    Launch launch{(program.empty() ? fixture.executable() : program).string(), {}, {}, fixture.root().string(), out, err};
    launch.argv.push_back(launch.program);
    launch.argv.insert(launch.argv.end(), arguments.begin(), arguments.end());
    auto variables = fixture.environment();
    for (const auto& [name, value] : extra) variables[name] = value;
    for (const auto& [name, value] : variables) launch.env.push_back(name + "=" + value);
    return launch;
}

[[noreturn]] void becomeTheHost(Launch& launch) {
    int null = open("/dev/null", O_RDONLY);
    dup2(null, 0);
    dup2(launch.out, 1);
    dup2(launch.err, 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s = 1; s < NSIG; ++s) ::signal(s, SIG_DFL);
    if (chdir(launch.directory.c_str()) != 0) _exit(127);
    std::vector<char*> args, envp;
    for (auto& a : launch.argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : launch.env) envp.push_back(e.data());
    envp.push_back(nullptr);
    execve(launch.program.c_str(), args.data(), envp.data());
    _exit(127);
}

}  // namespace

RunningHost::RunningHost(const BundleFixture& fixture, std::vector<std::string> arguments,
                         std::map<std::string, std::string> extra, const fs::path& program) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
    Launch launch = launchOf(fixture, arguments, extra, out[1], err[1], program);
    pid_ = fork();
    if (pid_ == 0) {
        setpgid(0, 0);
        becomeTheHost(launch);
    }
    setpgid(pid_, pid_);
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

RunningHost::RunningHost(ThroughARoot, const BundleFixture& fixture, std::map<std::string, std::string> extra) {
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    int out[2], err[2], life[2], told[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC) || pipe2(life, O_CLOEXEC) || pipe2(told, O_CLOEXEC)) return;
    Launch launch = launchOf(fixture, {}, extra, out[1], err[1]);
    root_ = fork();
    if (root_ == 0) {
        setpgid(0, 0);
        close(life[1]);
        pid_t host = fork();
        if (host == 0) becomeTheHost(launch);
        (void)!write(told[1], &host, sizeof host);
        char ignored;
        while (read(life[0], &ignored, 1) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    setpgid(root_, root_);
    close(out[1]);
    close(err[1]);
    close(life[0]);
    close(told[1]);
    if (read(told[0], &pid_, sizeof pid_) != sizeof pid_) pid_ = -1;
    close(told[0]);
    rootLife_ = life[1];
    out_ = out[0];
    err_ = err[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

void RunningHost::endTheRoot() {
    if (rootLife_ < 0) return;
    close(rootLife_);
    rootLife_ = -1;
    waitpid(root_, nullptr, 0);
}

RunningHost::~RunningHost() {
    pid_t group = root_ > 0 ? root_ : pid_;
    if (group > 0) kill(-group, SIGKILL);
    endTheRoot();
    if (pid_ > 0 && !status_) waitpid(pid_, nullptr, 0);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }  // orphans that came to this subreaper
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

void RunningHost::signal(int signalNumber) const { kill(pid_, signalNumber); }

std::optional<int> RunningHost::waitForTheEnd(std::chrono::milliseconds limit) {
    eventually([this] {
        if (status_) return true;
        int raw = 0;
        if (waitpid(pid_, &raw, WNOHANG) == pid_) status_ = statusOf(raw);
        return status_.has_value();
    }, limit);
    readWhatIsAvailable();
    return status_;
}

void RunningHost::readWhatIsAvailable() {
    drain(out_, outText_);
    drain(err_, errText_);
}

const std::string& RunningHost::out() {
    readWhatIsAvailable();
    return outText_;
}

const std::string& RunningHost::err() {
    readWhatIsAvailable();
    return errText_;
}

bool RunningHost::eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

bool hasEnded(pid_t pid) {
    std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return stat.empty() || close == std::string::npos || stat.compare(close + 2, 1, "Z") == 0;
}

std::vector<Json> recordsOf(const fs::path& file) {
    std::vector<Json> records;
    std::istringstream lines(readText(file));
    for (std::string line; std::getline(lines, line);) {
        auto record = Json::parse(line, nullptr, false);
        if (!record.is_discarded()) records.push_back(record);
    }
    return records;
}

std::vector<Json> recordsOf(const fs::path& file, const std::string& kind) {
    std::vector<Json> matching;
    for (auto& record : recordsOf(file)) {
        if (record.value("kind", "") == kind) matching.push_back(record);
    }
    return matching;
}

void writeShellScript(const BundleFixture& fixture, const std::string& script, Json extraRuntime, bool piped) {
    Json info = {{"CFBundleIdentifier", "app.example.demo"}};
    if (piped) info["CFBundleURLTypes"] = Json::array({{{"CFBundleURLSchemes", {"demo"}}}});
    fixture.writeInfo(info);
    fs::path shell = fixture.root() / "shell.sh";
    writeText(shell, script);
    Json runtime = {{"bun", "/bin/sh"}, {"shell", shell.string()}};
    runtime.update(extraRuntime);
    fixture.writeRuntime("demo-runtime.json", runtime);
}

namespace {

std::string quotedForSh(const fs::path& path) { return "'" + path.string() + "'"; }

}  // namespace

// tail follows the file from its start, so lines appended before the shell starts are not lost.
void writeRelayShell(const BundleFixture& fixture, Json extraRuntime) {
    const std::string messages = quotedForSh(fixture.root() / "to-shell");
    writeShellScript(fixture,
                     ": >> " + messages + "\n"
                     "tail -n +1 -f " + messages + " &\n"
                     "exec cat > " + quotedForSh(fixture.root() / "received") + "\n",
                     std::move(extraRuntime));
}

void tellTheHostAsTheShell(const BundleFixture& fixture, const std::vector<Json>& messages) {
    std::string lines;
    for (const Json& message : messages) lines += message.dump() + "\n";
    std::ofstream(fixture.root() / "to-shell", std::ios::app) << lines;
}

fs::path supportFolder(const BundleFixture& fixture) {
    return fixture.home() / ".local" / "share" / "app.example.demo";
}

}  // namespace testing_support
