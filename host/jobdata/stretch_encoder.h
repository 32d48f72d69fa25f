#pragma once
// The run-length encoder of a stretch's 54-byte nozzle columns. The unit of
// the grammar is one byte of a column; its reference is the byte at the
// same place two columns back:
//   00-3F  6-bit digit of a zero-run count (least significant first)
//   40-7F  6-bit digit of an unchanged-run count
//   80     empty literal block;  81-BC  literal block of 1..60 bytes
//   BD     window reset;  BE  repeat flag;  BF  end of the stretch
//   C0-DF  one literal byte, then 0..31 unchanged bytes
//   E0-FF  one literal byte, then 0..31 zero bytes
#include <array>
#include <cstdint>
#include <string>

#include "host/jobdata/dmc_out.h"

namespace ph {

inline constexpr int kColumnBytes = 54;

// 0x80 + n, then n copies of byte.
std::string literalRunCode(std::uint8_t byte, int n);
// The 6-bit digits of n, least significant first, each OR-ed with tag (0
// for zero runs, 0x40 for unchanged runs); empty when n <= 0.
std::string sixBitCount(std::uint8_t tag, long long n);

class StretchEncoder {
 public:
  explicit StretchEncoder(DmcOut& out) : out_(out) {}

  // A stretch starts with no pending runs and, so that it decodes on its
  // own, with an empty window.
  void startStretch();
  // Encodes the next column (kColumnBytes bytes); repeatsTwoBack tells
  // that the caller knows it equals the column two back. The hint is taken
  // only while the window holds two columns given since it was cleared:
  // the caller's columns before a split are not the window's.
  void encodeColumn(const std::uint8_t* column, bool repeatsTwoBack = false);
  // True when encoding the newest column again (it repeated the one two
  // back) would write nothing: repeatColumns may then take many at once.
  bool canRepeat() const;
  void repeatColumns(long long n);
  // Every byte through the plain byte-by-byte steps (the reference that the
  // shortcuts are tested against).
  bool plain = false;
  // Writes what is pending; whole empty columns at the end are not sent.
  void flushStretch();
  // After a split: the next piece opens with as many empty columns as the
  // stretch has sent so far, and an empty window.
  void startPieceAfter(long long columns);
  long long bytesSinceFlush() const { return bytesSinceFlush_ + staged_; }
  // A stretch built apart from the ones before it takes over their count.
  void setBytesSinceFlush(long long n) { bytesSinceFlush_ = n - staged_; }

 private:
  // Written bytes go through a staging buffer, handed on when it is full
  // and at every flush; room(n) makes space for n more.
  void putByte(std::uint8_t b) { stage_[std::size_t(staged_++)] = b; }
  void room(long long n) {
    if (staged_ + n > kStage) drainStage();
  }
  void drainStage();
  void emitDigits(std::uint8_t tag, long long n);
  void emitZeroCount(long long n);
  // The oldest k pending bytes as literal blocks of at most 60 bytes; the
  // last block may be a combined code when combined != 0.
  void emitLiterals(long long k, std::uint8_t combined = 0);
  void encodeByte(std::uint8_t b, std::uint8_t ref);
  // The column's bytes with bit masks of its zero bytes and of the bytes
  // equal to the reference.
  void encodeBytes(const std::uint8_t* column, const std::uint8_t* ref, std::uint64_t zero, std::uint64_t same);
  // A byte ends the pending unchanged run, or zero run, that is long
  // enough to be sent as a count.
  void endSameRun(bool zeroByte);
  void endZeroRun(bool sameByte);
  void afterColumn();

  DmcOut& out_;
  // The last three columns, oldest first, by rotating index.
  std::array<std::array<std::uint8_t, kColumnBytes>, 3> cols_{};
  std::array<bool, 3> colZero_{true, true, true};
  std::array<int, 3> trailingZeros_{kColumnBytes, kColumnBytes, kColumnBytes};
  int newest_ = 2;
  int windowColumns_ = 0;  // columns given since the window was cleared, up to 2
  bool lastRepeated_ = false;
  // Every column byte seen, by stream position, for literals.
  static constexpr int kHistory = 1024;
  std::array<std::uint8_t, kHistory> history_{};
  long long streamPos_ = 0;
  long long pendingLen_ = 0, zeroRun_ = 0, sameRun_ = 0;
  long long bytesSinceFlush_ = 0;  // not counting the staged bytes
  static constexpr int kStage = 8192;
  std::array<std::uint8_t, kStage> stage_;
  int staged_ = 0;
};

}  // namespace ph
