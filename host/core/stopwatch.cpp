#include "host/core/stopwatch.h"

#include <chrono>

namespace ph {

namespace {

using Clock = std::chrono::steady_clock;

// Started at program start, so a reading before the first start is the time
// since then rather than since an arbitrary clock origin.
Clock::time_point meshStart = Clock::now();
Clock::time_point mainStart = Clock::now();

double microsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

}  // namespace

void stopwatchStart() { meshStart = Clock::now(); }
double stopwatchMicros() { return microsSince(meshStart); }

void mainStopwatchStart() { mainStart = Clock::now(); }
double mainStopwatchMicros() { return microsSince(mainStart); }

}  // namespace ph
