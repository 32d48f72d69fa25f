#pragma once
// The waiting thread of an open serial port: it waits for line events and
// hands each one to the user-interface thread, waiting until the handler
// there has run.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "host/components/comm_device.h"
#include "host/components/comm_types.h"
#include "platform/handover.h"

namespace ph {

class TCommEventThread {
 public:
  // Runs on the user-interface thread; set and cleared only there.
  using SignalEvent = std::function<void(TCommEventThread& sender, std::uint32_t mask)>;

  TCommEventThread(CommDevice& device, std::uint32_t suspendTime, TCommEventTypes events,
                   std::shared_ptr<plat::HandOver> handOver);
  ~TCommEventThread();
  TCommEventThread(const TCommEventThread&) = delete;
  TCommEventThread& operator=(const TCommEventThread&) = delete;

  // Throws std::system_error when no thread can be made.
  void Start();
  // Ends the thread at once, also while a hand-over waits; no OnSignal
  // runs afterwards. Safe from inside a handler.
  void Stop();

  // The component reports what leaves the input queue (reads, purges), so
  // that only newly arrived bytes make a received-data event.
  void noteConsumed(int count) { consumed_ += static_cast<std::uint64_t>(count > 0 ? count : 0); }
  // The component wrote: an evTxEmpty follows once the output has drained.
  void noteWritten();

  std::uint32_t SuspendTime() const { return suspendTime_; }
  std::uint32_t EventMask() const { return lastMask_; }

  SignalEvent OnSignal;

  // How often line counters and a draining output queue are sampled.
  static constexpr int kSampleMs = 20;

 private:
  void Execute();
  void signal(std::uint32_t mask);

  CommDevice& dev_;
  const std::uint32_t suspendTime_;  // kept for the property; waits need no pause
  const std::uint32_t want_;
  std::shared_ptr<plat::HandOver> handOver_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> txPending_{false};
  std::atomic<std::uint64_t> consumed_{0};
  std::atomic<std::uint32_t> lastMask_{0};
  bool stopped_ = false;
  bool haveCounters_ = false;
  CommCounters base_;
};

}  // namespace ph
