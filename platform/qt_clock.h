#pragma once
// The programs' clock: QTimer-backed timers on the thread that creates them.
#include "clock.h"

namespace plat {

class QtClock : public Clock {
 public:
  QtClock();
  std::int64_t tickMs() override;
  std::chrono::system_clock::time_point wallNow() override { return std::chrono::system_clock::now(); }
  std::unique_ptr<Timer> createTimer(const std::string& name) override;

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace plat
