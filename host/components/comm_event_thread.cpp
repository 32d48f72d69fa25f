#include "host/components/comm_event_thread.h"

namespace ph {

namespace {
constexpr std::uint32_t kCounterEvents = ev::Cts | ev::Dsr | ev::Ring | ev::Rlsd | ev::Break | ev::Err;

std::uint32_t counterEvents(const CommCounters& a, const CommCounters& b) {
  std::uint32_t m = 0;
  if (a.cts != b.cts) m |= ev::Cts;
  if (a.dsr != b.dsr) m |= ev::Dsr;
  if (a.rng != b.rng) m |= ev::Ring;
  if (a.dcd != b.dcd) m |= ev::Rlsd;
  if (a.brk != b.brk) m |= ev::Break;
  if (a.frame != b.frame || a.overrun != b.overrun || a.parity != b.parity || a.bufOverrun != b.bufOverrun)
    m |= ev::Err;
  return m;
}
}  // namespace

TCommEventThread::TCommEventThread(CommDevice& device, std::uint32_t suspendTime, TCommEventTypes events,
                                   std::shared_ptr<plat::HandOver> handOver)
    : dev_(device), suspendTime_(suspendTime), want_(eventBits(events)), handOver_(std::move(handOver)) {}

TCommEventThread::~TCommEventThread() { Stop(); }

void TCommEventThread::Start() {
  // The counters' starting point is taken here, so that a change right
  // after Open is already an event.
  haveCounters_ = (want_ & kCounterEvents) && dev_.counters(base_);
  thread_ = std::thread([this] { Execute(); });
}

void TCommEventThread::Stop() {
  if (stopped_) return;
  stopped_ = true;
  stop_ = true;
  handOver_->close();
  dev_.wake();
  if (thread_.joinable()) thread_.join();
}

void TCommEventThread::noteWritten() {
  if (!(want_ & ev::TxEmpty)) return;
  txPending_ = true;
  dev_.wake();  // the wait may be without limit; let it start sampling
}

void TCommEventThread::signal(std::uint32_t mask) {
  lastMask_ = mask;
  handOver_->callAndWait([this, mask] {
    SignalEvent fn = OnSignal;  // a copy: the handler may close the port
    if (fn) fn(*this, mask);
  });
}

void TCommEventThread::Execute() {
  const bool wantRx = (want_ & ev::RxChar) != 0;
  CommCounters base = base_;
  const bool haveCounters = haveCounters_;
  // Bytes that have arrived (read, purged or waiting) as far as events have
  // told; bytes already waiting at the start count as new.
  std::uint64_t reported = 0;

  while (!stop_) {
    // consumed before the queue: a read in between can only make the sum
    // too small, which costs at most one extra event, never a lost one.
    std::uint64_t arrived = consumed_.load();
    int in = dev_.inQueue();
    arrived += static_cast<std::uint64_t>(in);
    // Unread bytes that were already reported keep the line readable; wait
    // for growth by sampling instead of waking on them again and again.
    const bool unread = wantRx && in > 0 && arrived <= reported;
    const bool sample = haveCounters || txPending_ || unread;
    CommWaitResult w = dev_.waitEvent(wantRx && !unread, sample ? kSampleMs : -1);
    if (stop_) break;

    std::uint32_t mask = 0;
    if (w.hungUp) mask |= ev::Err;

    arrived = consumed_.load();
    in = dev_.inQueue();
    arrived += static_cast<std::uint64_t>(in);
    if (arrived > reported && in > 0) mask |= ev::RxChar;
    reported = arrived;

    if (haveCounters) {
      CommCounters now;
      if (dev_.counters(now)) {
        mask |= counterEvents(base, now);
        base = now;
      }
    }
    if (txPending_.exchange(false)) {
      if (dev_.outQueue() == 0) mask |= ev::TxEmpty;
      else txPending_ = true;
    }

    mask &= want_;
    if (mask) signal(mask);
    if (w.hungUp) {
      // The device is gone: one error event was enough. Polling it again
      // would only report the hang-up over and over, so wait for Stop.
      while (!stop_) dev_.waitWake();
      break;
    }
  }
  // Queued bytes are dropped on the way out, so closing a line that its
  // peer holds off never waits for the output to drain.
  dev_.purge(true, true);
}

}  // namespace ph
