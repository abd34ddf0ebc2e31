#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "run/run.h"

namespace {

// The write end of the pipe that tells the work loop a signal came.
int interrupt_pipe = -1;

extern "C" void note_signal(int signal) {
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t put = ::write(interrupt_pipe, &number, 1);
    errno = saved;
}

} // namespace

int main(int argc, char* argv[]) {
    // A dead engine must show as a failed write, not end us.
    std::signal(SIGPIPE, SIG_IGN);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "tavrik-analyse: cannot make a pipe: %s\n", std::strerror(errno));
        return 1;
    }
    interrupt_pipe = fds[1];
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM})
        ::sigaction(signal, &action, nullptr);
    try {
        return tavrik::tavrik_analyse_main(argc, argv, stdin, stdout, stderr, fds[0]);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "tavrik-analyse: %s\n", std::strerror(ENOMEM));
        return 1;
    }
}
