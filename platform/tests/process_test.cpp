#include "platform/process.h"

#include <gtest/gtest.h>

using namespace plat;

TEST(Process, ArgumentsReachTheProgramUnchangedWithoutAShell) {
  // A shell would expand $HOME and split on blanks; argv must arrive as is.
  auto r = spawnProcess({"/bin/sh", "-c", "test \"$1\" = 'a b $HOME;x' && exit 7", "sh", "a b $HOME;x"});
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(waitProcess(r.pid, -1), 7);
}

TEST(Process, MissingProgramIsReported) {
  auto r = spawnProcess({"/nonexistent/program"});
  EXPECT_EQ(r.pid, -1);
  EXPECT_NE(r.error, 0);
}

TEST(Process, WaitTimesOutWhileRunning) {
  auto r = spawnProcess({"sleep", "5"});
  ASSERT_GT(r.pid, 0);
  EXPECT_TRUE(processRunning(r.pid));
  EXPECT_FALSE(waitProcess(r.pid, 20).has_value());
  kill(r.pid, SIGTERM);
  EXPECT_EQ(waitProcess(r.pid, -1), 128 + SIGTERM);
}
