#include <cstdio>

#include "run/run.h"

int main(int argc, char* argv[]) {
    // The sheet writer buffers its output in large chunks already; a second
    // buffer would only copy it again and split its writes.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return tavrik::tavrik_main(argc, argv, stdin, stdout, stderr);
}
