#include "platform/clock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using plat::ManualClock;

TEST(ManualClock, FiresDueTimersInOrderOfDueTimeThenCreation) {
  ManualClock c;
  std::vector<std::string> fired;
  auto a = c.createTimer("a");
  auto b = c.createTimer("b");
  a->setInterval(100);
  b->setInterval(50);
  a->setHandler([&] { fired.push_back("a"); });
  b->setHandler([&] { fired.push_back("b"); });
  a->start();
  b->start();
  c.advance(100);
  // b at 50, then a and b both due at 100: a was created first.
  EXPECT_EQ(fired, (std::vector<std::string>{"b", "a", "b"}));
}

TEST(ManualClock, TiesFireByRankWhateverTheCreationOrder) {
  ManualClock c;
  std::vector<std::string> fired;
  auto plain = c.createTimer("plain");
  auto second = c.createRankedTimer("second", 5);
  auto first = c.createRankedTimer("first", 2);
  for (auto* t : {plain.get(), second.get(), first.get()}) {
    t->setInterval(100);
    t->setHandler([&fired, t] { fired.push_back(t->name()); });
    t->start();
  }
  c.advance(100);
  // Ranked ones before the unranked, lowest rank first; due time still
  // comes before rank.
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "second", "plain"}));
  second->setInterval(50);
  c.advance(100);
  EXPECT_EQ(fired, (std::vector<std::string>{"first", "second", "plain", "second", "first", "second", "plain"}));
}

TEST(ManualClock, ToolkitRules) {
  ManualClock c;
  int n = 0;
  auto t = c.createTimer("t");
  t->setHandler([&] { ++n; });
  t->setInterval(100);
  t->start();
  c.advance(60);
  t->start();  // already running: no restart
  c.advance(40);
  EXPECT_EQ(n, 1);
  c.advance(60);
  t->setInterval(200);  // changed interval restarts the count
  c.advance(199);
  EXPECT_EQ(n, 1);
  c.advance(1);
  EXPECT_EQ(n, 2);
  t->setInterval(0);  // interval 0: never fires, though still enabled
  c.advance(1000);
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(t->enabled());
  EXPECT_FALSE(t->running());
}

TEST(ManualClock, HandlerThatStopsItselfRunsOnce) {
  ManualClock c;
  int n = 0;
  auto t = c.createTimer("once");
  t->setInterval(10);
  t->setHandler([&] {
    ++n;
    t->stop();
  });
  t->start();
  c.advance(1000);
  EXPECT_EQ(n, 1);
}

TEST(ManualClock, HandlerThatChangesIntervalSchedulesFromNow) {
  ManualClock c;
  std::vector<std::int64_t> at;
  auto t = c.createTimer("steps");
  t->setInterval(100);
  t->setHandler([&] {
    at.push_back(c.tickMs());
    t->setInterval(t->interval() == 100 ? 300 : 100);
  });
  t->start();
  c.advance(1000);
  EXPECT_EQ(at, (std::vector<std::int64_t>{100, 400, 500, 800, 900}));
}
