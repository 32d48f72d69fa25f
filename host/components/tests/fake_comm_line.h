#pragma once
// A scripted serial line behind the CommDevice seam, for what a pty cannot
// show: modem-line changes, breaks, line errors, a device that goes away,
// and a writer that never gets room.
#include <cerrno>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>

#include "host/components/comm_device.h"

namespace commtest {

struct FakeLine {
  std::mutex m;
  std::condition_variable cv;
  // line state, set by the test
  unsigned modem = ph::ml::Cts;
  bool hasModemLines = true;
  bool hasCounters = true;
  ph::CommCounters counters;
  std::deque<std::uint8_t> input;
  int writeRoom = 1 << 30;  // bytes a write may still take
  int outQueue = 0;
  bool hangUp = false;
  // what the component did
  int waitEvents = 0;
  int writablePolls = 0;
  bool idle = false;  // the event thread waits only for its stop
  bool woken = false;
  bool open = false;

  template <class F>
  void change(F f) {
    {
      std::lock_guard<std::mutex> lk(m);
      f(*this);
    }
    cv.notify_all();
  }
  void push(const std::string& s) {
    change([&](FakeLine& l) { l.input.insert(l.input.end(), s.begin(), s.end()); });
  }
  template <class P>
  bool waitFor(P pred, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lk(m);
    return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return pred(*this); });
  }
};

class FakeDevice : public ph::CommDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeLine> l) : l_(std::move(l)) {
    l_->change([](FakeLine& l) { l.open = true; });
  }
  ~FakeDevice() override {
    l_->change([](FakeLine& l) { l.open = false; });
  }
  int configure(const ph::CommLineSettings&) override { return 0; }
  int read(std::uint8_t* data, int count) override {
    std::lock_guard<std::mutex> lk(l_->m);
    if (l_->input.empty()) return -EAGAIN;
    int n = 0;
    while (n < count && !l_->input.empty()) {
      data[n++] = l_->input.front();
      l_->input.pop_front();
    }
    return n;
  }
  int write(const std::uint8_t*, int count) override {
    std::lock_guard<std::mutex> lk(l_->m);
    int n = count < l_->writeRoom ? count : l_->writeRoom;
    l_->writeRoom -= n;
    return n > 0 ? n : -EAGAIN;
  }
  void waitReadable(int) override {}
  void waitWritable(int) override {
    std::lock_guard<std::mutex> lk(l_->m);
    ++l_->writablePolls;
  }
  int inQueue() override {
    std::lock_guard<std::mutex> lk(l_->m);
    return static_cast<int>(l_->input.size());
  }
  int outQueue() override {
    std::lock_guard<std::mutex> lk(l_->m);
    return l_->outQueue;
  }
  void purge(bool input, bool) override {
    std::lock_guard<std::mutex> lk(l_->m);
    if (input) l_->input.clear();
  }
  bool modemLines(unsigned& bits) override {
    std::lock_guard<std::mutex> lk(l_->m);
    bits = l_->modem;
    return l_->hasModemLines;
  }
  bool counters(ph::CommCounters& c) override {
    std::lock_guard<std::mutex> lk(l_->m);
    c = l_->counters;
    return l_->hasCounters;
  }
  int escape(ph::CommEscape) override { return 0; }
  ph::CommWaitResult waitEvent(bool wantInput, int timeoutMs) override {
    std::unique_lock<std::mutex> lk(l_->m);
    ++l_->waitEvents;
    auto ready = [&] { return l_->woken || l_->hangUp || (wantInput && !l_->input.empty()); };
    if (timeoutMs < 0) l_->cv.wait(lk, ready);
    else l_->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), ready);
    ph::CommWaitResult r;
    r.woken = l_->woken;
    l_->woken = false;
    r.hungUp = l_->hangUp;
    r.readable = wantInput && !l_->input.empty();
    if (r.hungUp) hungUp_ = true;
    return r;
  }
  void waitWake() override {
    std::unique_lock<std::mutex> lk(l_->m);
    l_->idle = true;
    l_->cv.notify_all();
    l_->cv.wait(lk, [&] { return l_->woken; });
    l_->woken = false;
  }
  void wake() override {
    l_->change([](FakeLine& l) { l.woken = true; });
  }
  bool hungUp() const override { return hungUp_; }

 private:
  std::shared_ptr<FakeLine> l_;
  std::atomic<bool> hungUp_{false};
};

class FakeBackend : public ph::CommBackend {
 public:
  explicit FakeBackend(std::shared_ptr<FakeLine> l) : l_(std::move(l)) {}
  bool refuse = false;
  std::unique_ptr<ph::CommDevice> open(const std::string&) override {
    if (refuse) return nullptr;
    return std::make_unique<FakeDevice>(l_);
  }

 private:
  std::shared_ptr<FakeLine> l_;
};

}  // namespace commtest
