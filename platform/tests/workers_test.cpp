#include "platform/workers.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

namespace {

TEST(Workers, UsableProcessorsFollowTheAffinityMask) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(plat::usableProcessors(), 1);
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
  EXPECT_EQ(plat::usableProcessors(), CPU_COUNT(&saved));
}

TEST(Workers, RequestedWorkersTakeOnlyAWholeNumberInRange) {
  struct Case {
    const char* text;
    int workers;
  } cases[] = {{"4", 4}, {"1", 1}, {"256", 256}, {"0", 0}, {"257", 0}, {"-3", 0}, {"3x", 0}, {"", 0}, {"x", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    setenv("PRISM_WORKERS", c.text, 1);
    EXPECT_EQ(plat::requestedWorkers(), c.workers);
  }
  unsetenv("PRISM_WORKERS");
  EXPECT_EQ(plat::requestedWorkers(), 0);
}

}  // namespace
