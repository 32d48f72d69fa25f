#include "clock.h"

#include <algorithm>
#include <vector>

namespace plat {

void Timer::setInterval(int ms) {
  if (ms == interval_) return;
  interval_ = ms;
  update();
}

void Timer::setEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  update();
}

void Timer::restart() {
  disarm();
  if (running()) arm();
}

void Timer::setHandler(std::function<void()> h) {
  handler_ = std::move(h);
  update();
}

void Timer::update() {
  disarm();
  if (running()) arm();
}

struct ManualState {
  struct Slot {
    Timer* timer;
    std::int64_t due;
    std::uint64_t order;  // rank, then creation order, for ties
    bool armed;
  };
  std::vector<Slot> slots;
  Slot* find(Timer* t) {
    for (auto& s : slots)
      if (s.timer == t) return &s;
    return nullptr;
  }
};

class ManualClock::MTimer : public Timer {
 public:
  MTimer(ManualClock& c, const std::string& n, std::uint64_t order) : Timer(n), clock_(c) {
    clock_.st_->slots.push_back({this, 0, order, false});
  }
  ~MTimer() override {
    auto& v = clock_.st_->slots;
    v.erase(std::remove_if(v.begin(), v.end(), [this](auto& s) { return s.timer == this; }), v.end());
  }

 protected:
  void arm() override {
    auto* s = clock_.st_->find(this);
    s->armed = true;
    s->due = clock_.now_ + interval();
  }
  void disarm() override { clock_.st_->find(this)->armed = false; }

 private:
  ManualClock& clock_;
};

ManualClock::ManualClock() : wallAtZero_(std::chrono::system_clock::now()), st_(new ManualState) {}
ManualClock::~ManualClock() = default;

std::chrono::system_clock::time_point ManualClock::wallNow() {
  return wallAtZero_ + std::chrono::milliseconds(now_);
}

void ManualClock::setWallTime(std::chrono::system_clock::time_point t) {
  wallAtZero_ = t - std::chrono::milliseconds(now_);
}

// Unranked timers come after every rank, in creation order.
constexpr std::uint64_t kUnranked = std::uint64_t(1) << 32;

std::unique_ptr<Timer> ManualClock::createTimer(const std::string& name) {
  return std::make_unique<MTimer>(*this, name, kUnranked + serial_++);
}

std::unique_ptr<Timer> ManualClock::createRankedTimer(const std::string& name, int rank) {
  return std::make_unique<MTimer>(*this, name, std::uint64_t(std::max(rank, 0)));
}

std::int64_t ManualClock::nextDueIn() const {
  std::int64_t best = -1;
  for (auto& s : st_->slots)
    if (s.armed && (best < 0 || s.due - now_ < best)) best = std::max<std::int64_t>(0, s.due - now_);
  return best;
}

void ManualClock::advance(std::int64_t ms) {
  const std::int64_t target = now_ + ms;
  for (;;) {
    ManualState::Slot* next = nullptr;
    for (auto& s : st_->slots)
      if (s.armed && s.due <= target &&
          (!next || s.due < next->due || (s.due == next->due && s.order < next->order)))
        next = &s;
    if (!next) break;
    now_ = std::max(now_, next->due);
    Timer* t = next->timer;
    // The next tick is one interval after this one, unless the handler
    // re-arms or stops the timer.
    next->due = now_ + t->interval();
    t->fire();
  }
  now_ = target;
}

std::int64_t ManualClock::runUntilIdle(std::int64_t limitMs) {
  const std::int64_t start = now_;
  while (now_ - start < limitMs) {
    std::int64_t d = nextDueIn();
    if (d < 0) break;
    advance(std::min(std::max<std::int64_t>(d, 0), limitMs - (now_ - start)));
  }
  return now_ - start;
}

}  // namespace plat
