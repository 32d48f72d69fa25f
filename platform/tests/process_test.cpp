#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

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

namespace {
// Whether the process is gone (or only a zombie waiting for its reaper).
bool gone(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  if (!std::getline(stat, text)) return true;
  const auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}
}  // namespace

TEST(Process, StoppingAWrapperStopsWhatItStarted) {
  const std::string pidFile = ::testing::TempDir() + "wrapped." + std::to_string(getpid());
  std::remove(pidFile.c_str());
  // A wrapper script that waits for its program, as start scripts do; the
  // program ignores SIGTERM like a busy one that does not look.
  auto r = spawnProcess({"/bin/sh", "-c",
                         "trap '' TERM; sleep 60 & echo $! > \"$1.tmp\"; mv \"$1.tmp\" \"$1\"; wait", "sh", pidFile});
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(getpgid(r.pid), r.pid);
  pid_t wrapped = -1;
  for (int i = 0; i < 2000 && wrapped < 0; ++i) {
    std::ifstream f(pidFile);
    if (!(f >> wrapped)) {
      wrapped = -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  ASSERT_GT(wrapped, 0);
  EXPECT_EQ(stopProcessGroup(r.pid, 200), 128 + SIGKILL);
  bool ended = false;
  for (int i = 0; i < 1000 && !ended; ++i) {
    ended = gone(wrapped);
    if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(ended);
  if (!ended) kill(wrapped, SIGKILL);
  std::remove(pidFile.c_str());
}

TEST(Process, AProgramThatEndsOnTheRequestGivesItsStatus) {
  auto r = spawnProcess({"sleep", "30"});
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(stopProcessGroup(r.pid, 5000), 128 + SIGTERM);
  EXPECT_FALSE(processRunning(r.pid));
}

TEST(Process, TheOutputOfAProgramComesInWholeLines) {
  ProgramOutput out;
  ASSERT_GE(out.fd(), 0);
  auto r = spawnProcess({"/bin/sh", "-c", "printf 'one\\r\\ntw\\to\\n\\n\\a\\n'; head -c 5000 /dev/zero | tr '\\0' x; "
                                         "printf '\\nlast' >&2"},
                        out.fd());
  ASSERT_GT(r.pid, 0);
  EXPECT_EQ(waitProcess(r.pid, -1), 0);
  const std::vector<std::string> lines = out.newLines(false);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "one");
  EXPECT_EQ(lines[1], "tw o");
  EXPECT_EQ(lines[2], "?");
  std::string cut(ProgramOutput::kMaxLine, 'x');
  cut += "...";
  EXPECT_EQ(lines[3], cut);
  EXPECT_EQ(out.newLines(true), std::vector<std::string>{"last"});
  EXPECT_TRUE(out.newLines(true).empty());
}
