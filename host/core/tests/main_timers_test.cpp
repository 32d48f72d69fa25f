// The main window's timers: made by their owners from the table, found by
// name while their owner lives, and firing ties in table order whatever
// order the owners were built in.
#include "host/core/main_timers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

using namespace ph;

TEST(MainTimers, AMadeTimerCarriesItsTableValuesAndIsFoundByName) {
  plat::ManualClock clock;
  MainTimers timers(clock);
  auto init = timers.make("Init");
  auto hold = timers.make("HoldMarlin");
  EXPECT_EQ(init->name(), "Init");
  EXPECT_EQ(init->interval(), 1000);
  EXPECT_TRUE(init->enabled());  // on at load
  EXPECT_EQ(hold->interval(), 30000);
  EXPECT_FALSE(hold->enabled());
  EXPECT_EQ(&timers.at("HoldMarlin"), hold.get());
  // Listed in table order, not in the order they were made.
  EXPECT_EQ(timers.all(), (std::vector<plat::Timer*>{init.get(), hold.get()}));
  EXPECT_EQ(timers.find("MarlinTimer"), nullptr);  // nobody made it
  EXPECT_THROW(timers.at("MarlinTimer"), std::logic_error);
  EXPECT_THROW(timers.make("NoSuchTimer"), std::logic_error);
}

TEST(MainTimers, ATimerWhoseOwnerWentIsNoLongerFound) {
  plat::ManualClock clock;
  MainTimers timers(clock);
  auto kept = timers.make("Batch");
  { auto gone = timers.make("Drill"); }
  EXPECT_EQ(timers.find("Drill"), nullptr);
  EXPECT_EQ(timers.all(), std::vector<plat::Timer*>{kept.get()});
  // A second owner of a name keeps it when the first goes.
  auto first = timers.make("Drill");
  auto second = timers.make("Drill");
  first.reset();
  EXPECT_EQ(timers.find("Drill"), second.get());
}

TEST(MainTimers, TiesFireInTableOrderWhateverOrderTheyWereMadeIn) {
  plat::ManualClock clock;
  MainTimers timers(clock);
  std::vector<std::string> fired;
  // Made last to first, as owners built in another order would; an
  // unlisted timer made first still comes after them.
  auto other = clock.createTimer("other");
  auto multpowd = timers.make("multpowd");
  auto marlinBusy = timers.make("MarlinBusy");
  auto marlinTimer = timers.make("MarlinTimer");
  for (plat::Timer* t : {other.get(), multpowd.get(), marlinBusy.get(), marlinTimer.get()}) {
    t->setInterval(100);
    t->setHandler([&fired, t] { fired.push_back(t->name()); });
    t->start();
  }
  clock.advance(100);
  EXPECT_EQ(fired, (std::vector<std::string>{"MarlinTimer", "MarlinBusy", "multpowd", "other"}));
}
