#pragma once
// The waiting thread of an open couple: it waits on the couple's receive
// event and hands each setting of it to the user-interface thread, waiting
// until the handler there has run.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/handover.h"
#include "platform/named_event.h"

namespace ph {

class TWaitEvent2Thread {
 public:
  // The wait time that means "without time-out".
  static constexpr int kInfinite = 1234;

  // deliver runs on the user-interface thread once per wake.
  TWaitEvent2Thread(plat::NamedEvent& event, int waitMs, std::shared_ptr<plat::HandOver> handOver,
                    std::function<void()> deliver);
  ~TWaitEvent2Thread();
  TWaitEvent2Thread(const TWaitEvent2Thread&) = delete;
  TWaitEvent2Thread& operator=(const TWaitEvent2Thread&) = delete;

  // Waits without time-out; only the private stop ends such a wait early.
  void setInfinite() { waitMs_ = kInfinite; }
  int waitTime() const { return waitMs_; }

  // Throws std::system_error when no thread can be made.
  void Start();
  // Marks the thread terminated and ends its wait at once; a hand-over in
  // flight is released without running. Safe from inside the handler.
  void Terminate();
  // Returns when the thread has ended.
  void WaitFor();
  bool Terminated() const { return terminated_; }

 private:
  void Execute();
  void wake();

  plat::NamedEvent& event_;
  int waitMs_;
  std::shared_ptr<plat::HandOver> handOver_;
  std::function<void()> deliver_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  // Set while the thread is in (or about to enter) its wait: only then does
  // the stop need to wake it through the event.
  std::atomic<bool> inWait_{false};
  std::mutex m_;
  std::condition_variable cv_;
  bool finished_ = false;
};

}  // namespace ph
