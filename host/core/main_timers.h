#pragma once
// The 47 timers of the main window: their names, intervals and whether they
// run from the start, as data. Each subsystem creates the timers it runs
// from this table (make) and owns them; the directory finds every existing
// one by its name for whoever needs them all.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"

namespace ph {

struct MainTimerEntry {
  const char* name;
  int intervalMs;
  bool onAtLoad;
};

// The table, in its order: timers due at the same moment fire in this order.
const std::vector<MainTimerEntry>& mainTimerTable();

class MainTimers;

// A timer made from the table: deleting it takes it off the directory too,
// so an owner that goes leaves no name behind.
struct TimerRelease {
  MainTimers* directory = nullptr;
  void operator()(plat::Timer* timer) const;
};
using OwnedTimer = std::unique_ptr<plat::Timer, TimerRelease>;

class MainTimers {
 public:
  explicit MainTimers(plat::Clock& clock);
  MainTimers(const MainTimers&) = delete;
  MainTimers& operator=(const MainTimers&) = delete;

  // Creates the timer of this name for the object that runs it: interval and
  // on-at-load from the table, its table place as tie rank, and listed here.
  // A name the table lacks throws std::logic_error. A second object of the
  // same kind on one core (tests build such) takes the name over.
  OwnedTimer make(const std::string& name);

  // Every timer that exists, in table order.
  std::vector<plat::Timer*> all() const;
  plat::Timer* find(const std::string& name) const;
  // As find; a timer that does not exist throws std::logic_error.
  plat::Timer& at(const std::string& name) const;

 private:
  friend struct TimerRelease;
  void forget(const plat::Timer* timer);
  plat::Clock& clock_;
  std::vector<plat::Timer*> byPlace_;  // non-owning, in table order
};

}  // namespace ph
