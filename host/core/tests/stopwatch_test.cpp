#include "host/core/stopwatch.h"

#include <gtest/gtest.h>

using namespace ph;

// Starting the mesh tools' stopwatch must not restart the main unit's.
TEST(Stopwatch, TheTwoAreSeparate) {
  mainStopwatchStart();
  // Let the main stopwatch pass 2 ms (bounded: the clock is monotonic).
  while (mainStopwatchMicros() < 2000) {
  }
  stopwatchStart();
  const double mesh = stopwatchMicros();
  const double main = mainStopwatchMicros();
  EXPECT_GE(mesh, 0.0);
  EXPECT_GE(main - mesh, 2000.0);
}
