// Times commands run in turn, round by round, with their standard output
// going to /dev/null; prints one line per round with each command's wall
// time in nanoseconds. Spawning from a small C++ program keeps the
// harness's own cost out of the sub-millisecond runs it measures.
//
// Usage: interleave ROUNDS -- COMMAND ARGS... [-- COMMAND ARGS...]...
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>
#include <vector>

extern char** environ;

namespace {

long long now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1'000'000'000LL + t.tv_nsec;
}

long long time_once(char* const* argv, const posix_spawn_file_actions_t* actions) {
    const long long start = now_ns();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], actions, nullptr, argv, environ) != 0) {
        std::perror(argv[0]);
        std::exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const long long elapsed = now_ns() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "interleave: %s failed\n", argv[0]);
        std::exit(2);
    }
    return elapsed;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc < 4 || std::string_view(argv[2]) != "--") {
        std::fputs("usage: interleave ROUNDS -- COMMAND ARGS... [-- COMMAND ARGS...]...\n", stderr);
        return 2;
    }
    const long rounds = std::strtol(argv[1], nullptr, 10);
    std::vector<std::vector<char*>> commands;
    for (int k = 2; k < argc; ++k) {
        if (std::string_view(argv[k]) == "--")
            commands.emplace_back();
        else
            commands.back().push_back(argv[k]);
    }
    for (auto& command : commands)
        command.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);

    for (long round = 0; round < rounds; ++round) {
        for (const auto& command : commands)
            std::printf("%lld ", time_once(command.data(), &actions));
        std::printf("\n");
    }
    return 0;
}
