// Second threads: the CPUs there are to run them on.
#include "threads/threads.h"

namespace tavrik {

namespace {

cpu_set_t allowed_cpus() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0)
        CPU_ZERO(&cpus);
    return cpus;
}

} // namespace

int usable_cpus() {
    const cpu_set_t cpus = allowed_cpus();
    return CPU_COUNT(&cpus);
}

cpu_set_t other_cpus() {
    cpu_set_t cpus = allowed_cpus();
    const int current = ::sched_getcpu();
    if (current < 0 || current >= CPU_SETSIZE || !CPU_ISSET(current, &cpus))
        CPU_ZERO(&cpus);
    else
        CPU_CLR(current, &cpus);
    return cpus;
}

void keep_to(const cpu_set_t& cpus) {
    if (CPU_COUNT(&cpus) > 0)
        ::sched_setaffinity(0, sizeof cpus, &cpus);
}

} // namespace tavrik
