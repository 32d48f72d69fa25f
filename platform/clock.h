#pragma once
// Time and timers behind one seam: the programs run on QtClock, tests on
// ManualClock, which fires due timers in order without sleeping.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace plat {

// A named timer with the window toolkit's rules: it runs while it is enabled,
// its interval is above 0 and it has a handler; enabling a running timer does
// not restart it; changing the interval (or the handler) of a running timer
// restarts its count.
class Timer {
 public:
  explicit Timer(std::string name) : name_(std::move(name)) {}
  virtual ~Timer() = default;
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  const std::string& name() const { return name_; }
  int interval() const { return interval_; }
  bool enabled() const { return enabled_; }
  bool running() const { return enabled_ && interval_ > 0 && bool(handler_); }

  void setInterval(int ms);
  void setEnabled(bool on);
  void start() { setEnabled(true); }
  void stop() { setEnabled(false); }
  // Stops and starts again: the next tick is a whole interval away.
  void restart();
  void setHandler(std::function<void()> h);

  // Called by the clock when the interval has passed.
  void fire() {
    if (running()) handler_();
  }

 protected:
  // Start counting a whole interval from now / stop counting.
  virtual void arm() = 0;
  virtual void disarm() = 0;

 private:
  void update();
  std::string name_;
  int interval_ = 1000;
  bool enabled_ = false;
  std::function<void()> handler_;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic clock (the tick count).
  virtual std::int64_t tickMs() = 0;
  // The wall clock, for stamps and dates.
  virtual std::chrono::system_clock::time_point wallNow() = 0;
  virtual std::unique_ptr<Timer> createTimer(const std::string& name) = 0;
  // A timer with a place among timers due at the same moment: ranked ones
  // fire before the others, lowest rank first. Lets objects create their
  // timers in any order and still fire ties in one fixed order.
  virtual std::unique_ptr<Timer> createRankedTimer(const std::string& name, int rank) {
    (void)rank;
    return createTimer(name);
  }
};

// Test clock: time moves only by advance(); due timers fire in order of their
// due time, then of their rank (ranked ones first), then of their creation.
class ManualClock : public Clock {
 public:
  ManualClock();
  ~ManualClock() override;
  std::int64_t tickMs() override { return now_; }
  std::chrono::system_clock::time_point wallNow() override;
  std::unique_ptr<Timer> createTimer(const std::string& name) override;
  std::unique_ptr<Timer> createRankedTimer(const std::string& name, int rank) override;

  // Moves time forward by ms, firing every timer that falls due on the way.
  void advance(std::int64_t ms);
  // Sets the wall clock that corresponds to the current tick.
  void setWallTime(std::chrono::system_clock::time_point t);
  // Runs until no timer is running or `limitMs` have passed; returns the
  // time that passed.
  std::int64_t runUntilIdle(std::int64_t limitMs);
  // Time until the next due timer, or -1 when none runs.
  std::int64_t nextDueIn() const;

 private:
  class MTimer;
  friend class MTimer;
  std::int64_t now_ = 0;
  std::chrono::system_clock::time_point wallAtZero_;
  std::uint64_t serial_ = 0;
  std::unique_ptr<struct ManualState> st_;
};

}  // namespace plat
