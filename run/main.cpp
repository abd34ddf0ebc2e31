#include <cstdio>

#include "run/run.h"

int main(int argc, char* argv[]) {
    return tavrik::tavrik_main(argc, argv, stdin, stdout, stderr);
}
