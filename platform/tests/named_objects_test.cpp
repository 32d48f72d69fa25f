#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/instance_lock.h"
#include "platform/named_event.h"
#include "platform/named_objects.h"
#include "platform/shared_memory.h"

using namespace plat;

namespace {
std::string unique(const std::string& base) { return base + std::to_string(getpid()); }
}  // namespace

TEST(NamedObjects, NameRule) {
  setenv("PRISM_NAMESPACE", "", 1);
  EXPECT_EQ(posixObjectName(".p3d file ready(2)"), "/.p3d file ready(2)");
  EXPECT_EQ(posixObjectName("a/b\\c"), "/a_b_c");
}

TEST(NamedEvent, SetInOneProcessWakesAWaiterInAnother) {
  const std::string name = unique("evtest");
  auto ev = NamedEvent::open(name);
  ASSERT_TRUE(ev);
  ev->reset();
  pid_t child = fork();
  if (child == 0) {
    usleep(20000);
    _exit(NamedEvent::setNamed(name) ? 0 : 1);
  }
  EXPECT_EQ(ev->wait(5000), NamedEvent::Wait::Signalled);
  int st = 0;
  waitpid(child, &st, 0);
  EXPECT_EQ(WEXITSTATUS(st), 0);
  NamedEvent::remove(name);
}

TEST(NamedEvent, SeveralSetsGiveOneWake) {
  const std::string name = unique("evcount");
  auto ev = NamedEvent::open(name);
  ASSERT_TRUE(ev);
  ev->set();
  ev->set();
  NamedEvent::setNamed(name);
  EXPECT_EQ(ev->wait(0), NamedEvent::Wait::Signalled);
  EXPECT_EQ(ev->wait(10), NamedEvent::Wait::Timeout);
  NamedEvent::remove(name);
}

TEST(InstanceLock, ProcessesTakeSuccessiveNumbersAndFreeThemOnExit) {
  const std::string base = unique("locktest");
  InstanceLock mine;
  EXPECT_EQ(mine.acquire(base, 100), 1);
  int pipefd[2];
  ASSERT_EQ(pipe(pipefd), 0);
  pid_t child = fork();
  if (child == 0) {
    InstanceLock l;
    int n = l.acquire(base, 100);
    if (write(pipefd[1], &n, sizeof n) != sizeof n) _exit(2);
    _exit(0);
  }
  int n = 0;
  ASSERT_EQ(read(pipefd[0], &n, sizeof n), ssize_t(sizeof n));
  waitpid(child, nullptr, 0);
  EXPECT_EQ(n, 2);
  // The child has ended: its number is free again.
  InstanceLock again;
  EXPECT_EQ(again.acquire(base, 100), 2);
  InstanceLock full;
  EXPECT_EQ(full.acquire(base, 2), 2);  // all taken: the last number, unheld
  EXPECT_FALSE(full.held());
}

TEST(SharedMemory, TwoOpeningsSeeTheSameBytes) {
  const std::string name = unique("shmtest");
  auto a = SharedMemory::open(name, 4096);
  auto b = SharedMemory::open(name, 100);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(b->size(), 100u);
  std::memcpy(a->data(), "hello", 6);
  EXPECT_STREQ(reinterpret_cast<const char*>(b->data()), "hello");
  SharedMemory::remove(name);
}
