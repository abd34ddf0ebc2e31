#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "run/run.h"

int main(int argc, char* argv[]) {
    // The sheet writer buffers its output in large chunks already; a second
    // buffer would only copy it again and split its writes.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    try {
        return tavrik::tavrik_main(argc, argv, stdin, stdout, stderr);
    } catch (const std::bad_alloc&) {
        // The reader reports a record too big for memory itself; this is
        // the last resort for anything else.
        std::fprintf(stderr, "tavrik: %s\n", std::strerror(ENOMEM));
        return 1;
    }
}
