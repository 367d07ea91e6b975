// The least a host could do before its shell runs, for the start-up benchmark: a launcher
// placed in the bundle as the host would be, which spawns the benchmark's line-shell on
// `<current folder>/started` with its own first argument, its input a pipe, and waits for it.
//   spawn-only started
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

extern char** environ;

int main(int argc, char** argv) {
    char folder[PATH_MAX];
    char started[PATH_MAX + 16];
    int input[2];
    if (argc < 2 || !getcwd(folder, sizeof folder) || pipe(input) != 0) return 2;
    std::snprintf(started, sizeof started, "%s/started", folder);
    char* arguments[] = {const_cast<char*>(LINE_SHELL), started, argv[1], nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, arguments[0], &actions, nullptr, arguments, environ) != 0) return 1;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
