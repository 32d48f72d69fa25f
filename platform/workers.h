#pragma once
// How many worker threads a parallel step may start: the processors this
// process may run on (its affinity mask, not every online processor), and
// the count a developer asks for in PRISM_WORKERS when measuring.
namespace plat {

// The processors in this process's affinity mask; at least 1.
int usableProcessors();

// PRISM_WORKERS as a whole number from 1 to 256; 0 when it is unset or not
// such a number (the caller then chooses).
int requestedWorkers();

}  // namespace plat
