#include "host/jobdata/stretch_encoder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cassert>
#include <cstring>

#include "host/jobdata/dmc_out.h"

namespace ph {

std::string literalRunCode(std::uint8_t byte, int n) {
  std::string s(1, char(0x80 + n));
  s.append(std::size_t(std::max(n, 0)), char(byte));
  return s;
}

std::string sixBitCount(std::uint8_t tag, long long n) {
  std::string s;
  for (; n > 0; n >>= 6) s += char(tag | (n & 63));
  return s;
}

namespace {

bool allZero(const std::uint8_t* p) {
  std::uint64_t acc = 0, w;
  for (int i = 0; i + 8 <= kColumnBytes; i += 8) {
    std::memcpy(&w, p + i, 8);
    acc |= w;
  }
  std::uint32_t tail;
  std::memcpy(&tail, p + kColumnBytes - 4, 4);  // the last 6 bytes, overlapping
  acc |= tail;
  std::uint16_t t2;
  std::memcpy(&t2, p + 48, 2);
  return (acc | t2) == 0;
}

}  // namespace

void StretchEncoder::emitDigits(std::uint8_t tag, long long n) {
  for (; n > 0; n >>= 6) putByte(std::uint8_t(tag | (n & 63)));
}

void StretchEncoder::emitZeroCount(long long n) {
  // A digit's share of the count must stay within 65536: larger runs go
  // as a literal zero, 61440 zeros and a literal zero at a time.
  static constexpr std::uint8_t chunk[7] = {0x81, 0x00, 0x00, 0x00, 0x0F, 0x81, 0x00};
  while (n > 65536) {
    for (std::uint8_t b : chunk) putByte(b);
    n -= 61442;
  }
  emitDigits(0, n);
}

void StretchEncoder::emitLiterals(long long k, std::uint8_t combined) {
  auto oldest = [this]() {
    assert(pendingLen_ <= kHistory);
    const std::uint8_t b = history_[std::size_t((streamPos_ - pendingLen_) & (kHistory - 1))];
    --pendingLen_;
    return b;
  };
  while (k > 60) {
    putByte(0x81);
    putByte(oldest());
    --k;
  }
  if (k <= 0) return;
  putByte(combined ? combined : std::uint8_t(0x80 + k));
  for (; k > 0; --k) putByte(oldest());
}

void StretchEncoder::startStretch() {
  pendingLen_ = zeroRun_ = sameRun_ = 0;
  for (auto& c : cols_) c.fill(0);
  colZero_.fill(true);
  trailingZeros_.fill(kColumnBytes);
  lastRepeated_ = false;
}

void StretchEncoder::startPieceAfter(long long columns) {
  startStretch();
  zeroRun_ = columns * kColumnBytes;
}

void StretchEncoder::putDataBytes(const std::uint8_t* bytes, int count) {
  out_.write(bytes, std::size_t(count));
  bytesSinceFlush_ += count;
}

void StretchEncoder::encodeByte(std::uint8_t b, std::uint8_t ref) {
  ++streamPos_;  // the column's bytes are in the history already
  ++pendingLen_;
  if (b == 0) ++zeroRun_;
  if (b != ref) {
    if (sameRun_ > 1 && sameRun_ > zeroRun_) {
      const long long k = pendingLen_ - sameRun_ - 1;
      if (k == 1 && sameRun_ < 32) {
        emitLiterals(1, std::uint8_t(0xC0 + sameRun_));
        sameRun_ = 0;
      } else {
        emitLiterals(k);
      }
      emitDigits(0x40, sameRun_);
      pendingLen_ = 1;
      zeroRun_ = b == 0 ? 1 : 0;
    }
    sameRun_ = 0;
  } else {
    ++sameRun_;
  }
  if (b != 0) {
    if (zeroRun_ > 1 && zeroRun_ > sameRun_) {
      const long long k = pendingLen_ - zeroRun_ - 1;
      if (k == 1 && zeroRun_ < 32) {
        emitLiterals(1, std::uint8_t(0xE0 + zeroRun_));
        zeroRun_ = 0;
      } else {
        emitLiterals(k);
      }
      emitZeroCount(zeroRun_);
      sameRun_ = b == ref ? 1 : 0;
      pendingLen_ = 1;
    }
    zeroRun_ = 0;
  }
  if (zeroRun_ == 0 && sameRun_ == 0 && pendingLen_ >= 60) emitLiterals(60);
}

void StretchEncoder::afterColumn() {
  // Keeps every byte that may still go out as a literal inside the window.
  const long long r = std::max(sameRun_, zeroRun_);
  if (pendingLen_ > 106 && r < pendingLen_) {
    const long long k = pendingLen_ - r;
    std::uint8_t combined = 0;
    if (k == 1 && r < 32) combined = std::uint8_t(sameRun_ > zeroRun_ ? 0xC0 + sameRun_ : 0xE0 + zeroRun_);
    emitLiterals(k, combined);
    if (combined) sameRun_ = zeroRun_ = 0;
    pendingLen_ = std::max(sameRun_, zeroRun_);
  }
}

void StretchEncoder::encodeBytes(const std::uint8_t* column, const std::uint8_t* ref) {
  if (plain) {
    for (int i = 0; i < kColumnBytes; ++i) encodeByte(column[i], ref[i]);
    return;
  }
  // Bytes of one class (zero or not, equal to the reference or not) after
  // the first of a run only extend the runs: the first byte of each run of
  // a class goes through encodeByte, the rest are counted.
  std::uint64_t zero = 0, same = 0;
#if defined(__SSE2__)
  // Bytes 0-47 in three blocks of 16, then 38-53 for the last six.
  const __m128i nothing = _mm_setzero_si128();
  for (int at : {0, 16, 32, 38}) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + at));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ref + at));
    zero |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, nothing)))) << at;
    same |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, r)))) << at;
  }
#else
  for (int i = 0; i < kColumnBytes; ++i) {
    zero |= std::uint64_t(column[i] == 0) << i;
    same |= std::uint64_t(column[i] == ref[i]) << i;
  }
#endif
  const std::uint64_t change = ((zero ^ (zero >> 1)) | (same ^ (same >> 1))) & ((1ull << (kColumnBytes - 1)) - 1);
  for (int i = 0; i < kColumnBytes;) {
    const std::uint64_t after = change >> i;
    const int end = after ? i + __builtin_ctzll(after) : kColumnBytes - 1;  // the run's last byte
    const long long more = end - i;
    const bool z = (zero >> i) & 1, e = (same >> i) & 1;
    if (z && e) {
      streamPos_ += more + 1;
      pendingLen_ += more + 1;
      zeroRun_ += more + 1;
      sameRun_ += more + 1;
    } else if (!z && !e) {
      for (int k = i; k <= end; ++k) encodeByte(column[k], ref[k]);
    } else {
      encodeByte(column[i], ref[i]);
      streamPos_ += more;
      pendingLen_ += more;
      (z ? zeroRun_ : sameRun_) += more;
    }
    i = end + 1;
  }
}

void StretchEncoder::encodeColumn(const std::uint8_t* column, bool repeatsTwoBack) {
  const int slot = (newest_ + 1) % 3;     // holds the column three back
  const int refSlot = (newest_ + 2) % 3;  // two back
  const std::uint8_t* ref = cols_[std::size_t(refSlot)].data();
  bool zero;
  int trailing;
  if (repeatsTwoBack && !plain) {
    zero = colZero_[std::size_t(refSlot)];
    trailing = trailingZeros_[std::size_t(refSlot)];
  } else {
    zero = allZero(column);
    trailing = 0;
    while (trailing < kColumnBytes && column[kColumnBytes - 1 - trailing] == 0) ++trailing;
    repeatsTwoBack = zero ? colZero_[std::size_t(refSlot)] : std::memcmp(column, ref, kColumnBytes) == 0;
  }
  const std::size_t at = std::size_t(streamPos_ & (kHistory - 1));
  const std::size_t first = std::min<std::size_t>(kColumnBytes, kHistory - at);
  std::memcpy(history_.data() + at, column, first);
  std::memcpy(history_.data(), column + first, kColumnBytes - first);
  if (plain) {
    encodeBytes(column, ref);
  } else if (zero && repeatsTwoBack) {
    // Every byte extends both runs.
    streamPos_ += kColumnBytes;
    pendingLen_ += kColumnBytes;
    zeroRun_ += kColumnBytes;
    sameRun_ += kColumnBytes;
  } else if (repeatsTwoBack && sameRun_ >= zeroRun_) {
    // The unchanged run covers the zero run: nothing is written, the
    // unchanged run grows and the zero run is the column's zero tail.
    streamPos_ += kColumnBytes;
    pendingLen_ += kColumnBytes;
    sameRun_ += kColumnBytes;
    zeroRun_ = trailing;
  } else {
    encodeBytes(column, ref);
  }
  afterColumn();
  std::memcpy(cols_[std::size_t(slot)].data(), column, kColumnBytes);
  colZero_[std::size_t(slot)] = zero;
  trailingZeros_[std::size_t(slot)] = trailing;
  newest_ = slot;
  lastRepeated_ = repeatsTwoBack;
}

bool StretchEncoder::canRepeat() const {
  if (plain || !lastRepeated_) return false;
  const bool zero = colZero_[std::size_t(newest_)];
  return pendingLen_ == std::max(sameRun_, zeroRun_) && (zero || sameRun_ >= zeroRun_);
}

void StretchEncoder::repeatColumns(long long n) {
  // The newest column again, n times: in the steady state of canRepeat()
  // this only lengthens the runs and writes nothing.
  const std::uint8_t* column = cols_[std::size_t(newest_)].data();
  const long long bytes = n * kColumnBytes;
  const long long from = std::max(streamPos_, streamPos_ + bytes - kHistory);
  for (long long p = from; p < streamPos_ + bytes; ++p)
    history_[std::size_t(p & (kHistory - 1))] = column[(p - streamPos_) % kColumnBytes];
  streamPos_ += bytes;
  pendingLen_ += bytes;
  sameRun_ += bytes;
  if (colZero_[std::size_t(newest_)]) zeroRun_ += bytes;
}

void StretchEncoder::flushStretch() {
  while (zeroRun_ > kColumnBytes && zeroRun_ == pendingLen_ && sameRun_ > kColumnBytes) {
    zeroRun_ -= kColumnBytes;
    sameRun_ -= kColumnBytes;
    pendingLen_ -= kColumnBytes;
  }
  const long long r = std::max(sameRun_, zeroRun_);
  if (r < pendingLen_) emitLiterals(pendingLen_ - r);
  if (zeroRun_ < sameRun_) {
    emitDigits(0x40, sameRun_);
  } else {
    putByte(0x81);
    putByte(0x00);
    emitZeroCount(zeroRun_ - 1);
  }
  pendingLen_ = zeroRun_ = sameRun_ = 0;
  bytesSinceFlush_ = 0;
}

}  // namespace ph
