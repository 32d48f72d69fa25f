#pragma once
// The serial-port component: opens a serial line, applies line settings and
// time-outs, reads and writes byte blocks, and reports line events through a
// waiting thread that hands each event to the user-interface thread.
//
// Everything but the event thread runs on the user-interface thread. One
// lock serialises Open, Close, Read, Write, the escape functions and the
// re-application of line settings.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "host/components/comm_device.h"
#include "host/components/comm_event_thread.h"
#include "host/components/comm_types.h"
#include "platform/handover.h"

namespace ph {

class TThreadCComm;

// XON/XOFF and the other special characters of a port. Changing one
// re-applies the owner's line settings (nothing while the port is closed).
class TCommEventChars {
 public:
  explicit TCommEventChars(TThreadCComm* owner) : owner_(owner) {}
  // Copies the five characters.
  void Assign(const TCommEventChars& other);

  std::uint8_t XOnChar() const { return xon_; }
  std::uint8_t XOffChar() const { return xoff_; }
  std::uint8_t ErrorChar() const { return error_; }
  std::uint8_t EofChar() const { return eof_; }
  std::uint8_t EvtChar() const { return evt_; }
  void SetXOnChar(std::uint8_t c) { set(xon_, c); }
  void SetXOffChar(std::uint8_t c) { set(xoff_, c); }
  void SetErrorChar(std::uint8_t c) { set(error_, c); }
  void SetEofChar(std::uint8_t c) { set(eof_, c); }
  void SetEvtChar(std::uint8_t c) { set(evt_, c); }

 private:
  void set(std::uint8_t& field, std::uint8_t c);
  TThreadCComm* owner_;
  std::uint8_t xon_ = 17, xoff_ = 19, error_ = 0, eof_ = 0, evt_ = 0;
};

class TThreadCComm {
 public:
  using TNotifyEvent = std::function<void(TThreadCComm& sender)>;
  using TCommErrorEvent = std::function<void(TThreadCComm& sender, std::uint32_t errors)>;
  using TCommRxCharEvent = std::function<void(TThreadCComm& sender, std::uint32_t count)>;
  using TCommComStatEvent = std::function<void(TThreadCComm& sender, std::uint32_t mask, const TComStat& status)>;

  // poster: how events reach the user-interface thread (plat::qtUiPoster()
  // in the programs).
  explicit TThreadCComm(plat::UiPoster poster, std::shared_ptr<CommBackend> backend = termiosCommBackend());
  virtual ~TThreadCComm();
  TThreadCComm(const TThreadCComm&) = delete;
  TThreadCComm& operator=(const TThreadCComm&) = delete;

  // A device that does not open raises nothing: Enabled() stays false.
  void Open();
  void Close();
  bool Enabled() const { return enabled_; }

  // Bytes written; -1 when closed. Gives up after about 3 s without room.
  int Write(const void* data, int count);
  // Bytes read, waiting at most ReadTimeout ms for count bytes; -1 when closed.
  int Read(void* data, int count);
  int InQueCount();
  int OutQueCount();
  void PurgeIn();
  void PurgeOut();
  // 1 CTS, 2 DSR, 3 RING, 4 RLSD (carrier). A line without modem lines
  // reports CTS on, since the senders wait for it.
  bool GetModemState(int i);
  // 1 CTS hold, 2 DSR hold, 3 RLSD hold, 4 XOFF hold, 5 XOFF sent.
  bool GetComState(int i);
  void SetDTRState(bool on);
  void SetRTSState(bool on);
  void SetBREAKState(bool on);
  void SetXONState(bool on);
  void EscapeComm(CommEscape code);

  void UpdateDataControlBlock();
  void UpdateDataControlBlockLock();
  void UpdateCommTimeouts();
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  void CheckOpen() const;
  int GetBaudValue(TCBaudRate rate) const;
  [[noreturn]] static void RaiseCommError(CommErrorKind kind, int code);

  // Properties. DeviceName, MonitorEvents, the buffer sizes and SuspendTime
  // change only while closed; the line settings re-apply at once when open;
  // CustomBaudRate and the time-outs take effect at the next Open.
  const std::string& DeviceName() const { return deviceName_; }
  void SetDeviceName(const std::string& name);
  std::uint32_t ReadTimeout() const { return readTimeout_; }
  void SetReadTimeout(std::uint32_t ms) { readTimeout_ = ms; }
  std::uint32_t WriteTimeout() const { return writeTimeout_; }
  void SetWriteTimeout(std::uint32_t ms) { writeTimeout_ = ms; }
  std::uint16_t ReadBufSize() const { return readBufSize_; }
  void SetReadBufSize(std::uint16_t n);
  std::uint16_t WriteBufSize() const { return writeBufSize_; }
  void SetWriteBufSize(std::uint16_t n);
  std::uint32_t SuspendTime() const { return suspendTime_; }
  void SetSuspendTime(std::uint32_t ms);
  TCommEventTypes MonitorEvents() const { return monitorEvents_; }
  void SetMonitorEvents(TCommEventTypes events);
  TCBaudRate BaudRate() const { return baudRate_; }
  void SetBaudRate(TCBaudRate rate);
  int CustomBaudRate() const { return customBaudRate_; }
  void SetCustomBaudRate(int baud) { customBaudRate_ = baud; }
  TParity Parity() const { return parity_; }
  void SetParity(TParity p);
  TStopBits StopBits() const { return stopBits_; }
  void SetStopBits(TStopBits s);
  TDataBits DataBits() const { return dataBits_; }
  void SetDataBits(TDataBits d);
  TCommOptions Options() const { return options_; }
  void SetOptions(TCommOptions o);
  TFlowControl FlowControl() const { return flowControl_; }
  void SetFlowControl(TFlowControl f);
  TCommEventChars& EventChars() { return eventChars_; }

  // Handlers, called on the user-interface thread in this order.
  TNotifyEvent OnBreak, OnCts, OnDsr;
  TCommErrorEvent OnError;
  TNotifyEvent OnRing, OnRlsd;
  TCommRxCharEvent OnRxChar;
  TNotifyEvent OnRxFlag, OnTxEmpty;
  TCommComStatEvent OnComStatEvent;

  // How often and how long Write waits for room before giving up.
  static constexpr int kWritePolls = 302;
  static constexpr int kWritePollMs = 10;

 protected:
  virtual void CreateHandle();
  void DestroyHandle();
  void HandleCommEvent(TCommEventThread& sender, std::uint32_t mask);

 private:
  // Reads and resets the line's error state; fills status when given.
  std::uint32_t clearError(TComStat* status);
  bool ctsHold();

  plat::UiPoster poster_;
  std::shared_ptr<CommBackend> backend_;
  std::unique_ptr<CommDevice> device_;
  std::unique_ptr<TCommEventThread> thread_;
  std::recursive_mutex lock_;
  bool enabled_ = false;
  // Counts opens, so a handler that closes (or reopens) the port stops the
  // rest of the event it was called for.
  unsigned session_ = 0;
  bool xoffHeld_ = false;
  CommCounters errorBase_;

  std::string deviceName_ = "Com2";
  std::uint32_t readTimeout_ = 1000;
  std::uint32_t writeTimeout_ = 1000;  // kept; writes are bounded by the polls
  std::uint16_t readBufSize_ = 4096;   // kept; a tty sizes its own queues
  std::uint16_t writeBufSize_ = 2048;
  std::uint32_t suspendTime_ = 5;
  TCommEventTypes monitorEvents_ = kAllCommEvents;
  TCBaudRate baudRate_ = TCBaudRate::br9600;
  int customBaudRate_ = 9600;
  TParity parity_ = TParity::paNone;
  TStopBits stopBits_ = TStopBits::sb10;
  TDataBits dataBits_ = 4;
  TCommEventChars eventChars_{this};
  TCommOptions options_;
  TFlowControl flowControl_ = TFlowControl::fcDefault;

  // Time-outs in force for the open port.
  std::uint32_t appliedReadTimeout_ = 1000;
  std::uint32_t writeMultiplier_ = 0;  // ms per byte
};

// The component as the main window holds it (CommInk, CommMarlin).
class TCommCust : public TThreadCComm {
 public:
  using TThreadCComm::TThreadCComm;
};

}  // namespace ph
