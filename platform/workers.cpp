#include "platform/workers.h"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace plat {

int usableProcessors() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return n;
  }
  const unsigned online = std::thread::hardware_concurrency();
  return online > 0 ? int(online) : 1;
}

int requestedWorkers() {
  const char* text = std::getenv("PRISM_WORKERS");
  if (!text || !*text) return 0;
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || n < 1 || n > 256) return 0;
  return int(n);
}

}  // namespace plat
