#include "host/components/wait_event_thread.h"

#include <chrono>

namespace ph {

TWaitEvent2Thread::TWaitEvent2Thread(plat::NamedEvent& event, int waitMs, std::shared_ptr<plat::HandOver> handOver,
                                     std::function<void()> deliver)
    : event_(event), waitMs_(waitMs), handOver_(std::move(handOver)), deliver_(std::move(deliver)) {}

TWaitEvent2Thread::~TWaitEvent2Thread() {
  Terminate();
  WaitFor();
}

void TWaitEvent2Thread::Start() { thread_ = std::thread([this] { Execute(); }); }

void TWaitEvent2Thread::Execute() {
  const int timeout = waitMs_ == kInfinite ? -1 : waitMs_;
  while (!terminated_) {
    // Announce the wait before the last look at the stop flag: either the
    // stop sees inWait_ and wakes us, or we see terminated_ here.
    inWait_ = true;
    if (terminated_) break;
    const auto r = event_.wait(timeout);
    inWait_ = false;
    if (r == plat::NamedEvent::Wait::Failed) break;
    if (r == plat::NamedEvent::Wait::Signalled && !terminated_) handOver_->callAndWait(deliver_);
  }
  inWait_ = false;
  {
    std::lock_guard<std::mutex> lk(m_);
    finished_ = true;
  }
  cv_.notify_all();
}

void TWaitEvent2Thread::wake() {
  // POSIX cannot wait on the named event and a private one together, so
  // the stop sets the receive event, and only while the thread waits on it:
  // a thread in a hand-over is released by the hand-over's close instead.
  if (inWait_) event_.set();
}

void TWaitEvent2Thread::Terminate() {
  terminated_ = true;
  handOver_->close();
  wake();
}

void TWaitEvent2Thread::WaitFor() {
  if (!thread_.joinable()) return;
  std::unique_lock<std::mutex> lk(m_);
  // Another process waiting on the same name may take the wake-up; set it
  // again until our thread has seen it.
  while (!cv_.wait_for(lk, std::chrono::milliseconds(100), [&] { return finished_; })) {
    lk.unlock();
    wake();
    lk.lock();
  }
  lk.unlock();
  thread_.join();
}

}  // namespace ph
