#include "host/jobdata/dmc_decoder.h"

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/jobdata/nozzle_tables.h"

namespace ph {

void DmcDecoder::buildWaterMap(int primgrens) {
  // Positions past the head's 14 wired ones drive nothing.
  for (int v = 0; v < 256; ++v) {
    unsigned w = 0;
    for (int i = 0; i < 8; ++i) {
      const long long a = (long long)primgrens + i;
      if ((v & (1 << i)) && a >= 0 && a < int(headBitPosition.size())) w |= 1u << headBitPosition[std::size_t(a)];
    }
    waterMap_[std::size_t(v)] = std::uint16_t(w);
  }
  waterMapPrimgrens_ = primgrens;
}

void DmcDecoder::resetDecoder() {
  if (waterMapPrimgrens_ != core_.s.primgrens) buildWaterMap(core_.s.primgrens);
  window_.fill(0);
  pos_ = 0;
  zeroRun_ = sameRun_ = literals_ = 0;
  zeroShift_ = sameShift_ = 0;
  savedZero_ = savedSame_ = 0;
  repeat_ = false;
  decoding = columnReady = columnEmpty = atEnd = false;
  runningSum_ = 0;
  decodedBytes_ = 0;
}

bool DmcDecoder::readDataByte(std::uint8_t& b) {
  const int c = dmcFile ? getc_unlocked(dmcFile) : EOF;
  if (c == EOF) {
    atEnd = true;
    return false;
  }
  b = std::uint8_t(c);
  return true;
}

int DmcDecoder::readDataBytes(std::uint8_t* dst, int n) {
  if (!dmcFile || n <= 0) return 0;
  const int got = int(std::fread(dst, 1, std::size_t(n), dmcFile));
  if (got < n) atEnd = true;
  return got;
}

// Pending zeros, then pending unchanged bytes, up to halfEnd.
void DmcDecoder::applyRun(int halfEnd) {
  const int room = halfEnd - pos_;
  if (room <= 0) return;
  if (zeroRun_ > 0) {
    const int n = int(std::min<long long>(zeroRun_, room));
    std::memset(window_.data() + pos_, 0, std::size_t(n));
    pos_ += n;
    zeroRun_ -= n;
    decodedBytes_ += n;
  } else if (sameRun_ > 0) {
    const int n = int(std::min<long long>(sameRun_, room));
    if (repeat_) {
      for (int i = 0; i < n; ++i, ++pos_) window_[std::size_t(pos_)] = window_[std::size_t((pos_ + 107) % 108)];
      sameShift_ = 0;
      repeat_ = false;
    } else {
      pos_ += n;  // the half keeps the bytes of two columns back
    }
    sameRun_ -= n;
    decodedBytes_ += n;
  }
}

void DmcDecoder::completeHalf(int half) {
  const std::uint8_t* p = window_.data() + half * 54;
  unsigned long long sum = 0;
  for (int i = 0; i < 54; ++i) sum += p[i];
  runningSum_ += sum;
  columnReady = true;
  completedHalf_ = half;
  columnEmpty = sum == 0;
  if (columnEmpty) return;
  if (core_.s.band64 == 64) {
    for (int k = 0; k < 22; ++k) {
      decodedColumn[std::size_t(k)].water = waterMap_[p[32 + k]];
      if (k < 16) decodedColumn[std::size_t(k)].colour = std::uint16_t(p[2 * k] | p[2 * k + 1] << 8);
    }
  } else {
    for (int k = 0; k < 22; ++k) decodedColumn[std::size_t(k)].water = std::uint16_t(p[2 * k] | p[2 * k + 1] << 8);
  }
}

void DmcDecoder::decodeDmcStep() {
  columnReady = false;
  const int before = pos_;
  int halfEnd = pos_ < 54 ? 54 : 108;
  if (zeroRun_ > 0 || sameRun_ > 0) {
    applyRun(halfEnd);
  } else {
    std::uint8_t b;
    if (readDataByte(b)) {
      if (literals_ > 0) {
        window_[std::size_t(pos_++)] = b;
        ++decodedBytes_;
        if (--literals_ == 0) {
          zeroRun_ = savedZero_;
          sameRun_ = savedSame_;
          savedZero_ = savedSame_ = 0;
        }
      } else if (b >= 0x80 && b <= 0xBF) {
        zeroShift_ = sameShift_ = 0;
        int count = b - 0x80;
        if (count > 60) count = 0;
        repeat_ = b == 0xBE;
        if (b == 0xBD) {
          window_.fill(0);
          pos_ = 0;
          halfEnd = 54;
        }
        if (b == 0xBF) decoding = false;
        const int now = std::min(count, halfEnd - pos_);
        const int got = readDataBytes(window_.data() + pos_, now);
        pos_ += got;
        decodedBytes_ += got;
        literals_ = count - got;
      } else if (b < 0x40) {
        sameShift_ = 0;
        zeroRun_ = (long long)(b & 63) << zeroShift_;
        zeroShift_ += 6;
        if (zeroRun_ > 65536) {
          core_.memoPrintf(" nuls overflow %d %d %d\n", zeroRun_, int(b), decodedBytes_);
          core_.logVars("pos(fc)", dmcFile ? int(std::ftell(dmcFile)) : 0);
          zeroRun_ = 1;
          zeroShift_ = 0;
        }
      } else if (b < 0x80) {
        zeroShift_ = 0;
        sameRun_ = (long long)(b - 0x40) << sameShift_;
        if (sameShift_ < 48) sameShift_ += 6;
      } else {
        zeroShift_ = sameShift_ = 0;
        const long long count = b & 31;
        const bool zeros = (b & 0x20) != 0;
        std::uint8_t lit;
        if (readDataByte(lit)) {
          window_[std::size_t(pos_++)] = lit;
          ++decodedBytes_;
          (zeros ? zeroRun_ : sameRun_) = count;
          applyRun(halfEnd);
        } else {
          literals_ = 1;
          (zeros ? savedZero_ : savedSame_) = count;
        }
      }
    }
  }
  if (pos_ >= 108) {
    pos_ = 0;
    completeHalf(1);
  } else if (pos_ == 54 && before != 54) {
    completeHalf(0);
  }
}

int DmcDecoder::scanStretch(int& longest) {
  const long pos = dmcFile ? std::ftell(dmcFile) : 0;
  resetDecoder();
  decoding = true;
  int steps = 0;
  longest = 0;
  while (decoding) {
    decodeDmcStep();
    ++steps;
    longest = int(std::max<long long>(longest, zeroRun_));
    // Data that ends before its end code ends the stretch here.
    if (atEnd && zeroRun_ == 0 && sameRun_ == 0) break;
  }
  if (dmcFile) std::fseek(dmcFile, pos, SEEK_SET);
  return steps;
}

}  // namespace ph
