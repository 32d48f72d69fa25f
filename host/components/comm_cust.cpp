#include "host/components/comm_cust.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <system_error>

#include "host/components/comm_device_names.h"

namespace ph {

using Guard = std::lock_guard<std::recursive_mutex>;

void TCommEventChars::Assign(const TCommEventChars& other) {
  xon_ = other.xon_;
  xoff_ = other.xoff_;
  error_ = other.error_;
  eof_ = other.eof_;
  evt_ = other.evt_;
}

void TCommEventChars::set(std::uint8_t& field, std::uint8_t c) {
  field = c;
  if (owner_) owner_->UpdateDataControlBlockLock();
}

TThreadCComm::TThreadCComm(plat::UiPoster poster, std::shared_ptr<CommBackend> backend)
    : poster_(std::move(poster)), backend_(std::move(backend)) {}

TThreadCComm::~TThreadCComm() { Close(); }

void TThreadCComm::RaiseCommError(CommErrorKind kind, int code) { throw CommError(kind, code); }

int TThreadCComm::GetBaudValue(TCBaudRate rate) const {
  int i = static_cast<int>(rate);
  if (rate == TCBaudRate::brcustom) return customBaudRate_;
  return kBaudTable[std::clamp(i, 0, 14)];
}

void TThreadCComm::CheckOpen() const {
  if (enabled_) RaiseCommError(CommErrorKind::AlreadyOpen, -1);
}

void TThreadCComm::CreateHandle() {
  device_ = backend_->open(commDeviceNames().resolve(deviceName_));
  enabled_ = device_ != nullptr;
}

void TThreadCComm::DestroyHandle() {
  device_.reset();
  enabled_ = false;
  xoffHeld_ = false;
}

void TThreadCComm::Open() {
  std::optional<CommError> error;
  {
    Guard g(lock_);
    if (enabled_) {
      error.emplace(CommErrorKind::AlreadyOpen, -1);
    } else {
      CreateHandle();
      if (enabled_) {
        try {
          // Without line settings the port still keeps a read time-out: a
          // read must never hang the user-interface thread.
          appliedReadTimeout_ = readTimeout_;
          writeMultiplier_ = 0;
          UpdateCommTimeouts();
          UpdateDataControlBlock();
          errorBase_ = CommCounters{};
          device_->counters(errorBase_);
          ++session_;
          auto handOver = plat::HandOver::create(poster_);
          thread_ = std::make_unique<TCommEventThread>(*device_, suspendTime_, monitorEvents_, handOver);
          thread_->OnSignal = [this](TCommEventThread& sender, std::uint32_t mask) {
            HandleCommEvent(sender, mask);
          };
          thread_->Start();
        } catch (const CommError& e) {
          // A port whose settings were refused is closed again rather than
          // left half open without its event thread.
          thread_.reset();
          DestroyHandle();
          error = e;
        } catch (const std::system_error&) {
          thread_.reset();
          DestroyHandle();  // no thread: the port stays closed, as if it had not opened
        }
      }
    }
  }
  if (error) throw *error;
}

void TThreadCComm::Close() {
  if (!enabled_) return;
  Guard g(lock_);
  if (thread_) {
    thread_->OnSignal = nullptr;
    thread_->Stop();
    thread_.reset();
  }
  DestroyHandle();
}

void TThreadCComm::UpdateCommTimeouts() {
  if (customBaudRate_ <= 0) return;
  appliedReadTimeout_ = readTimeout_;
  // 2 ms per byte at 9600 baud, none from 38400 on.
  int baud = GetBaudValue(baudRate_);
  writeMultiplier_ = baud > 0 ? static_cast<std::uint32_t>(19200 / baud) : 0;
}

void TThreadCComm::UpdateDataControlBlock() {
  if (!enabled_) return;
  CommLineSettings s;
  s.full = customBaudRate_ > 0;
  s.baud = GetBaudValue(baudRate_);
  s.parity = parity_;
  s.stopBits = stopBits_;
  s.byteSize = std::clamp(dataBits_, 0, 4) + 4;
  s.flow = flowControl_;
  s.options = options_;
  s.xonChar = eventChars_.XOnChar();
  s.xoffChar = eventChars_.XOffChar();
  if (int e = device_->configure(s)) RaiseCommError(CommErrorKind::DataControlBlock, e);
}

void TThreadCComm::UpdateDataControlBlockLock() {
  Guard g(lock_);
  UpdateDataControlBlock();
}

std::uint32_t TThreadCComm::clearError(TComStat* status) {
  std::uint32_t errors = 0;
  CommCounters now;
  if (device_->counters(now)) {
    if (now.bufOverrun != errorBase_.bufOverrun) errors |= ce::RxOver;
    if (now.overrun != errorBase_.overrun) errors |= ce::Overrun;
    if (now.parity != errorBase_.parity) errors |= ce::RxParity;
    if (now.frame != errorBase_.frame) errors |= ce::Frame;
    if (now.brk != errorBase_.brk) errors |= ce::Break;
    errorBase_ = now;
  }
  if (device_->hungUp()) errors |= ce::Ioe;
  if (status) {
    *status = TComStat{};
    status->ctsHold = ctsHold();
    // No DSR or carrier flow control exists on Linux, and the tty layer
    // does not tell whether it sent XOFF.
    status->xoffHold = xoffHeld_;
    status->inQue = static_cast<std::uint32_t>(device_->inQueue());
    status->outQue = static_cast<std::uint32_t>(device_->outQueue());
  }
  return errors;
}

bool TThreadCComm::ctsHold() {
  unsigned lines = 0;
  return flowControl_ == TFlowControl::fcCTS && device_->modemLines(lines) && !(lines & ml::Cts);
}

int TThreadCComm::Write(const void* data, int count) {
  if (!enabled_) return -1;
  Guard g(lock_);
  if (count <= 0) return 0;
  // The write time-out (per byte below 38400 baud) can end the wait sooner.
  int limit = kWritePolls;
  if (writeMultiplier_ > 0) {
    long long ms = static_cast<long long>(writeMultiplier_) * count;
    limit = static_cast<int>(std::min<long long>(limit, (ms + kWritePollMs - 1) / kWritePollMs));
  }
  const auto* p = static_cast<const std::uint8_t*>(data);
  int total = 0;
  int polls = 0;
  // Every byte the driver took is in its queue when this returns; what did
  // not fit is not sent later, so the count returned is exactly what goes out.
  while (total < count) {
    int r = device_->write(p + total, count - total);
    if (r > 0) {
      total += r;
      continue;
    }
    if (r != -EAGAIN) {
      clearError(nullptr);
      break;
    }
    if (polls >= limit) break;
    device_->waitWritable(kWritePollMs);
    ++polls;
  }
  if (total > 0 && thread_) thread_->noteWritten();
  return total;
}

int TThreadCComm::Read(void* data, int count) {
  if (!enabled_) return -1;
  Guard g(lock_);
  clearError(nullptr);
  if (count <= 0) return 0;
  auto* p = static_cast<std::uint8_t*>(data);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(appliedReadTimeout_);
  int total = 0;
  while (total < count) {
    int r = device_->read(p + total, count - total);
    if (r > 0) {
      total += r;
      if (thread_) thread_->noteConsumed(r);
      continue;
    }
    if (r != -EAGAIN) {
      clearError(nullptr);
      break;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    device_->waitReadable(static_cast<int>(std::min<long long>(left, 1 << 30)));
  }
  return total;
}

int TThreadCComm::InQueCount() { return enabled_ ? device_->inQueue() : -1; }

int TThreadCComm::OutQueCount() { return enabled_ ? device_->outQueue() : -1; }

void TThreadCComm::PurgeIn() {
  if (!enabled_) return;
  Guard g(lock_);
  int n = device_->inQueue();
  device_->purge(true, false);
  if (thread_) thread_->noteConsumed(n);
}

void TThreadCComm::PurgeOut() {
  if (!enabled_) return;
  Guard g(lock_);
  device_->purge(false, true);
}

bool TThreadCComm::GetModemState(int i) {
  if (!enabled_) return false;
  unsigned lines = 0;
  if (!device_->modemLines(lines)) return i == 1;
  switch (i) {
    case 1: return lines & ml::Cts;
    case 2: return lines & ml::Dsr;
    case 3: return lines & ml::Ring;
    case 4: return lines & ml::Rlsd;
    default: return false;
  }
}

bool TThreadCComm::GetComState(int i) {
  if (!enabled_) return false;
  TComStat st;
  clearError(&st);
  switch (i) {
    case 2: return st.dsrHold;
    case 3: return st.rlsdHold;
    case 4: return st.xoffHold;
    case 5: return st.xoffSent;
    default: return st.ctsHold;
  }
}

void TThreadCComm::EscapeComm(CommEscape code) {
  if (!enabled_) RaiseCommError(CommErrorKind::NotOpen, -1);
  Guard g(lock_);
  int e = device_->escape(code);
  // EINVAL is the driver refusing the request; ENOTTY is a line without
  // that control (a pty has no DTR or RTS). Neither is worth an exception.
  if (e != 0 && e != EINVAL && e != ENOTTY) RaiseCommError(CommErrorKind::Escape, e);
  if (e == 0 && code == CommEscape::SetXOff) xoffHeld_ = true;
  if (e == 0 && code == CommEscape::SetXOn) xoffHeld_ = false;
}

void TThreadCComm::SetDTRState(bool on) { EscapeComm(on ? CommEscape::SetDtr : CommEscape::ClrDtr); }
void TThreadCComm::SetRTSState(bool on) { EscapeComm(on ? CommEscape::SetRts : CommEscape::ClrRts); }
void TThreadCComm::SetXONState(bool on) { EscapeComm(on ? CommEscape::SetXOn : CommEscape::SetXOff); }

void TThreadCComm::SetBREAKState(bool on) {
  EscapeComm(on ? CommEscape::SetBreak : CommEscape::ClrBreak);
  if (!enabled_) return;
  Guard g(lock_);
  int n = device_->inQueue();
  device_->purge(true, true);
  if (thread_) thread_->noteConsumed(n);
}

void TThreadCComm::HandleCommEvent(TCommEventThread&, std::uint32_t mask) {
  if (!enabled_) return;
  const unsigned session = session_;
  TComStat st;
  const std::uint32_t errors = clearError(&st);
  // A handler may close the port; then nothing more of this event runs.
  auto gone = [&] { return !enabled_ || session_ != session; };
  auto notify = [&](std::uint32_t bit, const TNotifyEvent& handler) {
    if (!(mask & bit) || gone()) return;
    if (TNotifyEvent fn = handler) fn(*this);
  };
  notify(ev::Break, OnBreak);
  notify(ev::Cts, OnCts);
  notify(ev::Dsr, OnDsr);
  if ((mask & ev::Err) && !gone())
    if (TCommErrorEvent fn = OnError) fn(*this, errors);
  notify(ev::Ring, OnRing);
  notify(ev::Rlsd, OnRlsd);
  if ((mask & ev::RxChar) && st.inQue > 0 && !gone())
    if (TCommRxCharEvent fn = OnRxChar) fn(*this, st.inQue);
  notify(ev::RxFlag, OnRxFlag);
  notify(ev::TxEmpty, OnTxEmpty);
  if (!gone())
    if (TCommComStatEvent fn = OnComStatEvent) fn(*this, mask, st);
}

void TThreadCComm::SetDeviceName(const std::string& name) {
  if (!enabled_) deviceName_ = name;
}
void TThreadCComm::SetReadBufSize(std::uint16_t n) {
  if (!enabled_) readBufSize_ = n;
}
void TThreadCComm::SetWriteBufSize(std::uint16_t n) {
  if (!enabled_) writeBufSize_ = n;
}
void TThreadCComm::SetSuspendTime(std::uint32_t ms) {
  if (!enabled_) suspendTime_ = ms;
}
void TThreadCComm::SetMonitorEvents(TCommEventTypes events) {
  if (!enabled_) monitorEvents_ = events;
}

void TThreadCComm::SetBaudRate(TCBaudRate rate) {
  if (rate == baudRate_) return;
  baudRate_ = rate;
  UpdateDataControlBlockLock();
}
void TThreadCComm::SetParity(TParity p) {
  if (p == parity_) return;
  parity_ = p;
  UpdateDataControlBlockLock();
}
void TThreadCComm::SetStopBits(TStopBits s) {
  if (s == stopBits_) return;
  stopBits_ = s;
  UpdateDataControlBlockLock();
}
void TThreadCComm::SetDataBits(TDataBits d) {
  if (d == dataBits_) return;
  dataBits_ = d;
  UpdateDataControlBlockLock();
}
void TThreadCComm::SetOptions(TCommOptions o) {
  if (o == options_) return;
  options_ = o;
  UpdateDataControlBlockLock();
}
void TThreadCComm::SetFlowControl(TFlowControl f) {
  if (f == flowControl_) return;
  flowControl_ = f;
  UpdateDataControlBlockLock();
}

}  // namespace ph
