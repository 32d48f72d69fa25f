#pragma once
// The step-wise decoder of .dmc stretch data: turns the encoded stream back
// into 54-byte nozzle columns and the 22 head words of each column.
#include <array>
#include <cstdint>
#include <cstdio>

namespace ph {

class HostCore;

struct DecodedHeadWord {
  std::uint16_t water = 0;
  std::uint16_t colour = 0;
};

class DmcDecoder {
 public:
  explicit DmcDecoder(HostCore& core) : core_(core) {}

  // The file decoded from (the caller opens, positions and closes it).
  std::FILE* dmcFile = nullptr;

  // Zeroes the window and every count, position, flag and the running sum;
  // rebuilds the water map when primgrens changed since it was built.
  void resetDecoder();
  bool readDataByte(std::uint8_t& b);
  int readDataBytes(std::uint8_t* dst, int n);
  // One step at the file's current position.
  void decodeDmcStep();
  // Decodes one stretch from the current position without keeping it and
  // puts the file back; longest receives the largest pending zero count.
  int scanStretch(int& longest);

  bool decoding = false;     // set by the caller, cleared by the end code
  bool columnReady = false;  // a half was completed in the last step
  bool columnEmpty = false;  // ... and it held only zeros
  bool atEnd = false;        // a read met the end of the file
  // The completed half (valid while columnReady).
  const std::uint8_t* completedColumn() const { return window_.data() + completedHalf_ * 54; }
  std::array<DecodedHeadWord, 22> decodedColumn{};
  long long pendingZeros() const { return zeroRun_; }
  // Takes one whole empty column off a long zero run without stepping
  // through it (the viewers skip the empty stretch of a head's travel).
  void dropEmptyColumn() { zeroRun_ = zeroRun_ > 54 ? zeroRun_ - 54 : 0; }
  long long pendingUnchanged() const { return sameRun_; }
  long long pendingLiterals() const { return literals_; }
  // Water byte of the colour layout -> the head's 16-bit wiring.
  const std::array<std::uint16_t, 256>& waterMap() const { return waterMap_; }

 private:
  void buildWaterMap(int primgrens);
  void applyRun(int halfEnd);
  void completeHalf(int half);

  HostCore& core_;
  std::array<std::uint8_t, 108> window_{};
  int pos_ = 0;
  long long zeroRun_ = 0, sameRun_ = 0, literals_ = 0;
  int zeroShift_ = 0, sameShift_ = 0;
  long long savedZero_ = 0, savedSame_ = 0;  // counts of a combined code waiting for its literal
  bool repeat_ = false;
  int completedHalf_ = 0;
  unsigned long long runningSum_ = 0;
  long long decodedBytes_ = 0;
  std::array<std::uint16_t, 256> waterMap_{};
  int waterMapPrimgrens_ = -99999;
};

}  // namespace ph
