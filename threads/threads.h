// Second threads for long jobs, on a machine whose scheduler may start a
// new thread on its parent's CPU and let the two take turns there:
// - usable_cpus, the CPUs this process may run on;
// - other_cpus and keep_to, which keep a second thread off its parent's.
#pragma once

#include <sched.h>

namespace tavrik {

// How many CPUs this process may run on; 0 when that is unknown.
int usable_cpus();

// The allowed CPUs other than the caller's, for a second thread. Empty
// when the caller's CPU is unknown.
cpu_set_t other_cpus();

// Keeps the calling thread to the given CPUs, if there are any; a failure
// only costs speed. Each thread sets its own: a thread set by its handle
// may have ended by then, and the kernel would take the request for the
// caller's own.
void keep_to(const cpu_set_t& cpus);

} // namespace tavrik
