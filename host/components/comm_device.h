#pragma once
// The operating-system side of one serial device. The component and its
// event thread speak only to this interface: the termios implementation
// drives real ttys and pseudo-terminals, and tests put a fake behind it to
// play modem lines, breaks and line errors that a pty cannot make.
#include <cstdint>
#include <memory>
#include <string>

#include "host/components/comm_types.h"

namespace ph {

// What the component wants of the line.
struct CommLineSettings {
  // false: only raw mode (speed, framing and flow control stay as the
  // driver has them).
  bool full = false;
  int baud = 9600;
  TParity parity = TParity::paNone;
  TStopBits stopBits = TStopBits::sb10;
  int byteSize = 8;  // 4..8
  TFlowControl flow = TFlowControl::fcDefault;
  TCommOptions options;
  std::uint8_t xonChar = 17;
  std::uint8_t xoffChar = 19;
};

// Transition and error counts kept by the driver (TIOCGICOUNT).
struct CommCounters {
  std::uint32_t cts = 0, dsr = 0, rng = 0, dcd = 0;
  std::uint32_t brk = 0, frame = 0, overrun = 0, parity = 0, bufOverrun = 0;
};

// Modem-line bits of CommDevice::modemLines.
namespace ml {
inline constexpr unsigned Cts = 1, Dsr = 2, Ring = 4, Rlsd = 8;
}

struct CommWaitResult {
  bool readable = false;
  bool hungUp = false;  // POLLHUP / POLLERR: the device is gone
  bool woken = false;   // wake() was called
};

class CommDevice {
 public:
  virtual ~CommDevice() = default;

  // Returns 0 or an errno code.
  virtual int configure(const CommLineSettings& s) = 0;

  // Non-blocking transfers: the count moved, or -errno (-EAGAIN when the
  // device cannot take or give anything now).
  virtual int read(std::uint8_t* data, int count) = 0;
  virtual int write(const std::uint8_t* data, int count) = 0;
  // Wait up to timeoutMs until the device can give or take bytes.
  virtual void waitReadable(int timeoutMs) = 0;
  virtual void waitWritable(int timeoutMs) = 0;

  virtual int inQueue() = 0;
  virtual int outQueue() = 0;
  virtual void purge(bool input, bool output) = 0;

  // False when the device has no modem lines (a pseudo-terminal).
  virtual bool modemLines(unsigned& bits) = 0;
  // False when the driver keeps no counts.
  virtual bool counters(CommCounters& c) = 0;
  // Returns 0 or an errno code.
  virtual int escape(CommEscape code) = 0;

  // Event thread: waits for input (when wantInput), a hang-up, wake(), or
  // timeoutMs (< 0: no limit).
  virtual CommWaitResult waitEvent(bool wantInput, int timeoutMs) = 0;
  // Event thread, after a hang-up: waits for wake() only.
  virtual void waitWake() = 0;
  // Any thread: ends the current or next wait.
  virtual void wake() = 0;
  // True once a wait has seen the device hang up.
  virtual bool hungUp() const = 0;
};

// Opens devices by path.
class CommBackend {
 public:
  virtual ~CommBackend() = default;
  // Null when the device does not open, is already in use, or is not a
  // serial line.
  virtual std::unique_ptr<CommDevice> open(const std::string& path) = 0;
};

// The backend on termios (real serial lines and pseudo-terminals).
std::shared_ptr<CommBackend> termiosCommBackend();

}  // namespace ph
