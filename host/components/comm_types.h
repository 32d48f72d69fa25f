#pragma once
// Types of the serial-port component: line settings, options, events, the
// line status and the component's exception.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace ph {

// A small set over an enumeration with at most 32 values (the component's
// option and event sets).
template <class E>
class EnumSet {
 public:
  constexpr EnumSet() = default;
  constexpr EnumSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= bit(e);
  }
  constexpr bool has(E e) const { return (bits_ & bit(e)) != 0; }
  constexpr EnumSet& insert(E e) { bits_ |= bit(e); return *this; }
  constexpr EnumSet& erase(E e) { bits_ &= ~bit(e); return *this; }
  constexpr bool empty() const { return bits_ == 0; }
  constexpr std::uint32_t raw() const { return bits_; }
  friend constexpr bool operator==(EnumSet a, EnumSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint32_t bit(E e) { return 1u << static_cast<unsigned>(e); }
  std::uint32_t bits_ = 0;
};

// Declared order is the stored value (settings and forms keep the index).
enum class TCBaudRate {
  brcustom, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
  br38400, br56000, br57600, br115200, br128000, br256000
};
enum class TParity { paNone, paEven, paOdd, paMark, paSpace };
enum class TStopBits { sb10, sb15, sb20 };
// 0..4 stand for 4..8 data bits.
using TDataBits = int;
enum class TFlowControl { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum class TCommOption { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum class TCommEventType { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };

using TCommOptions = EnumSet<TCommOption>;
using TCommEventTypes = EnumSet<TCommEventType>;

// The rate table behind TCBaudRate; entry 0 stands where brcustom is and is
// never used for a line.
inline constexpr int kBaudTable[15] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                       19200, 38400, 56000, 57600, 115200, 128000, 256000};

// Event bits as handed to the event handlers (OnSignal, OnComStatEvent).
namespace ev {
inline constexpr std::uint32_t RxChar = 0x01, RxFlag = 0x02, TxEmpty = 0x04, Cts = 0x08, Dsr = 0x10,
                               Rlsd = 0x20, Break = 0x40, Err = 0x80, Ring = 0x100;
}
constexpr std::uint32_t eventBit(TCommEventType t) {
  constexpr std::uint32_t bits[] = {ev::Break, ev::Cts, ev::Dsr,    ev::Err,    ev::Ring,
                                    ev::Rlsd,  ev::RxChar, ev::RxFlag, ev::TxEmpty};
  return bits[static_cast<int>(t)];
}
constexpr std::uint32_t eventBits(TCommEventTypes set) {
  std::uint32_t m = 0;
  for (int i = 0; i <= static_cast<int>(TCommEventType::evTxEmpty); ++i)
    if (set.has(static_cast<TCommEventType>(i))) m |= eventBit(static_cast<TCommEventType>(i));
  return m;
}
inline constexpr TCommEventTypes kAllCommEvents = {
    TCommEventType::evBreak, TCommEventType::evCts,    TCommEventType::evDsr,
    TCommEventType::evError, TCommEventType::evRing,   TCommEventType::evRlsd,
    TCommEventType::evRxChar, TCommEventType::evRxFlag, TCommEventType::evTxEmpty};

// Line error bits handed to OnError.
namespace ce {
inline constexpr std::uint32_t RxOver = 0x0001, Overrun = 0x0002, RxParity = 0x0004, Frame = 0x0008,
                               Break = 0x0010,
                               // the device went away (unplugged, or the other end of a pty closed)
                               Ioe = 0x0400;
}

// The line status that goes with an event or a status query.
struct TComStat {
  bool ctsHold = false;   // output waits for CTS
  bool dsrHold = false;   // output waits for DSR
  bool rlsdHold = false;  // output waits for the carrier
  bool xoffHold = false;  // output stopped as if XOFF had been received
  bool xoffSent = false;  // XOFF was sent
  std::uint32_t inQue = 0;
  std::uint32_t outQue = 0;
};

// Escape functions of EscapeComm.
enum class CommEscape { SetXOff = 1, SetXOn = 2, SetRts = 3, ClrRts = 4, SetDtr = 5, ClrDtr = 6,
                        SetBreak = 8, ClrBreak = 9 };

// The component's failures; each text ends in "(Error: %d)".
enum class CommErrorKind { AlreadyOpen, Buffers, DataControlBlock, Timeouts, NotOpen, Escape };

class CommError : public std::runtime_error {
 public:
  CommError(CommErrorKind kind, int code);
  CommErrorKind kind() const { return kind_; }
  int code() const { return code_; }

 private:
  CommErrorKind kind_;
  int code_;
};

std::string commErrorText(CommErrorKind kind, int code);

}  // namespace ph
