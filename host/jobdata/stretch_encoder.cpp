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

constexpr std::uint64_t kAllBytes = (1ull << kColumnBytes) - 1;

// Bit i set where byte i of the column is zero, and where it equals the
// byte of the reference.
struct ByteClasses {
  std::uint64_t zero = 0, same = 0;
};

ByteClasses classify(const std::uint8_t* column, const std::uint8_t* ref) {
  ByteClasses m;
#if defined(__SSE2__)
  // Bytes 0-47 in three blocks of 16, then 38-53 for the last six.
  const __m128i nothing = _mm_setzero_si128();
  for (int at : {0, 16, 32, 38}) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(column + at));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ref + at));
    m.zero |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, nothing)))) << at;
    m.same |= std::uint64_t(unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(c, r)))) << at;
  }
#else
  for (int i = 0; i < kColumnBytes; ++i) {
    m.zero |= std::uint64_t(column[i] == 0) << i;
    m.same |= std::uint64_t(column[i] == ref[i]) << i;
  }
#endif
  return m;
}

// The zero bytes at the end of the column.
int trailingZeros(std::uint64_t zero) {
  const std::uint64_t top = ~(zero << (64 - kColumnBytes));  // byte 53 at bit 63
  return __builtin_clzll(top);  // the low bits of top are set, so it is never 0
}

}  // namespace

void StretchEncoder::drainStage() {
  out_.write(stage_.data(), std::size_t(staged_));
  bytesSinceFlush_ += staged_;
  staged_ = 0;
}

void StretchEncoder::emitDigits(std::uint8_t tag, long long n) {
  room(11);  // a 64-bit count in 6-bit digits
  for (; n > 0; n >>= 6) putByte(std::uint8_t(tag | (n & 63)));
}

void StretchEncoder::emitZeroCount(long long n) {
  // A digit's share of the count must stay within 65536: larger runs go
  // as a literal zero, 61440 zeros and a literal zero at a time.
  static constexpr std::uint8_t chunk[7] = {0x81, 0x00, 0x00, 0x00, 0x0F, 0x81, 0x00};
  while (n > 65536) {
    room(sizeof chunk);
    for (std::uint8_t b : chunk) putByte(b);
    n -= 61442;
  }
  emitDigits(0, n);
}

void StretchEncoder::emitLiterals(long long k, std::uint8_t combined) {
  if (k <= 0) return;
  assert(pendingLen_ <= kHistory);  // literals come from the history
  room(2 * k + 1);
  for (; k > 60; --k) {
    putByte(0x81);
    putByte(history_[std::size_t((streamPos_ - pendingLen_) & (kHistory - 1))]);
    --pendingLen_;
  }
  putByte(combined ? combined : std::uint8_t(0x80 + k));
  // The k oldest pending bytes, in at most two pieces of the ring.
  const auto from = std::size_t((streamPos_ - pendingLen_) & (kHistory - 1));
  const std::size_t first = std::min<std::size_t>(std::size_t(k), kHistory - from);
  std::memcpy(stage_.data() + staged_, history_.data() + from, first);
  std::memcpy(stage_.data() + staged_ + first, history_.data(), std::size_t(k) - first);
  staged_ += int(k);
  pendingLen_ -= k;
}

void StretchEncoder::startStretch() {
  pendingLen_ = zeroRun_ = sameRun_ = 0;
  for (auto& c : cols_) c.fill(0);
  colZero_.fill(true);
  trailingZeros_.fill(kColumnBytes);
  windowColumns_ = 0;
  lastRepeated_ = false;
}

void StretchEncoder::startPieceAfter(long long columns) {
  startStretch();
  zeroRun_ = columns * kColumnBytes;
}

void StretchEncoder::endSameRun(bool zeroByte) {
  const long long k = pendingLen_ - sameRun_ - 1;
  if (k == 1 && sameRun_ < 32) {
    emitLiterals(1, std::uint8_t(0xC0 + sameRun_));
    sameRun_ = 0;
  } else {
    emitLiterals(k);
  }
  emitDigits(0x40, sameRun_);
  pendingLen_ = 1;
  zeroRun_ = zeroByte ? 1 : 0;
}

void StretchEncoder::endZeroRun(bool sameByte) {
  const long long k = pendingLen_ - zeroRun_ - 1;
  if (k == 1 && zeroRun_ < 32) {
    emitLiterals(1, std::uint8_t(0xE0 + zeroRun_));
    zeroRun_ = 0;
  } else {
    emitLiterals(k);
  }
  emitZeroCount(zeroRun_);
  sameRun_ = sameByte ? 1 : 0;
  pendingLen_ = 1;
}

void StretchEncoder::encodeByte(std::uint8_t b, std::uint8_t ref) {
  ++streamPos_;  // the column's bytes are in the history already
  ++pendingLen_;
  if (b == 0) ++zeroRun_;
  if (b != ref) {
    if (sameRun_ > 1 && sameRun_ > zeroRun_) endSameRun(b == 0);
    sameRun_ = 0;
  } else {
    ++sameRun_;
  }
  if (b != 0) {
    if (zeroRun_ > 1 && zeroRun_ > sameRun_) endZeroRun(b == ref);
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

void StretchEncoder::encodeBytes(const std::uint8_t* column, const std::uint8_t* ref, std::uint64_t zero,
                                 std::uint64_t same) {
  if (plain) {
    for (int i = 0; i < kColumnBytes; ++i) encodeByte(column[i], ref[i]);
    return;
  }
  // Bytes of one class (zero or not, equal to the reference or not) after
  // the first of a run only extend the runs: the first byte of each run of
  // a class takes the steps of encodeByte, the rest are counted. The
  // counters stay in locals, stored only around what writes.
  long long pos = streamPos_, pend = pendingLen_, zr = zeroRun_, sr = sameRun_;
  auto store = [&] {
    streamPos_ = pos;
    pendingLen_ = pend;
    zeroRun_ = zr;
    sameRun_ = sr;
  };
  auto load = [&] {
    pos = streamPos_;
    pend = pendingLen_;
    zr = zeroRun_;
    sr = sameRun_;
  };
  const std::uint64_t change = ((zero ^ (zero >> 1)) | (same ^ (same >> 1))) & (kAllBytes >> 1);
  // Runs of bytes both zero and unchanged only lengthen every count: the
  // loop visits the other runs and counts those in between.
  std::uint64_t starts = ((change << 1) | 1) & ~(zero & same) & kAllBytes;
  int counted = 0;  // bytes of the column taken into the counts
  while (starts) {
    const int i = __builtin_ctzll(starts);
    starts &= starts - 1;
    const long long gap = i - counted;
    pos += gap;
    pend += gap;
    zr += gap;
    sr += gap;
    const std::uint64_t after = change >> i;
    const int end = after ? i + __builtin_ctzll(after) : kColumnBytes - 1;  // the run's last byte
    const long long more = end - i;
    const bool z = (zero >> i) & 1, e = (same >> i) & 1;
    counted = end + 1;
    ++pos;
    ++pend;
    if (z) ++zr;
    // The commonest run end: one literal byte and a short run, as one
    // combined code (what endSameRun and endZeroRun write then).
    auto combined = [&](std::uint8_t code) {
      room(2);
      putByte(code);
      putByte(history_[std::size_t((pos - pend) & (kHistory - 1))]);
      pend = 1;
    };
    if (!e) {
      if (sr > 1 && sr > zr) {
        if (pend - sr - 1 == 1 && sr < 32) {
          combined(std::uint8_t(0xC0 + sr));
          zr = z ? 1 : 0;
        } else {
          store();
          endSameRun(z);
          load();
        }
      }
      sr = 0;
    } else {
      ++sr;
    }
    if (!z) {
      if (zr > 1 && zr > sr) {
        if (pend - zr - 1 == 1 && zr < 32) {
          combined(std::uint8_t(0xE0 + zr));
          sr = e ? 1 : 0;
        } else {
          store();
          endZeroRun(e);
          load();
        }
      }
      zr = 0;
    }
    if (zr == 0 && sr == 0 && pend >= 60) {
      store();
      emitLiterals(60);
      load();
    }
    if (z || e) {
      pos += more;
      pend += more;
      (z ? zr : sr) += more;
      continue;
    }
    // Both runs are 0 now: the rest only pend, and every 60 pending bytes
    // go out as a literal block.
    for (long long left = more; left > 0;) {
      const long long step = std::max<long long>(1, 60 - pend);
      if (step > left) {
        pos += left;
        pend += left;
        break;
      }
      pos += step;
      pend += step;
      left -= step;
      store();
      emitLiterals(60);
      load();
    }
  }
  const long long gap = kColumnBytes - counted;
  pos += gap;
  pend += gap;
  zr += gap;
  sr += gap;
  store();
}

void StretchEncoder::encodeColumn(const std::uint8_t* column, bool repeatsTwoBack) {
  const int slot = (newest_ + 1) % 3;     // holds the column three back
  const int refSlot = (newest_ + 2) % 3;  // two back
  const std::uint8_t* ref = cols_[std::size_t(refSlot)].data();
  bool zero;
  int trailing;
  ByteClasses classes;
  bool classified = false;
  if (repeatsTwoBack && !plain && windowColumns_ == 2) {
    zero = colZero_[std::size_t(refSlot)];
    trailing = trailingZeros_[std::size_t(refSlot)];
  } else {
    classes = classify(column, ref);
    classified = true;
    zero = classes.zero == kAllBytes;
    trailing = trailingZeros(classes.zero);
    repeatsTwoBack = classes.same == kAllBytes;
  }
  const std::size_t at = std::size_t(streamPos_ & (kHistory - 1));
  const std::size_t first = std::min<std::size_t>(kColumnBytes, kHistory - at);
  std::memcpy(history_.data() + at, column, first);
  std::memcpy(history_.data(), column + first, kColumnBytes - first);
  if (plain) {
    encodeBytes(column, ref, 0, 0);
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
    if (!classified) classes = classify(column, ref);
    encodeBytes(column, ref, classes.zero, classes.same);
  }
  afterColumn();
  std::memcpy(cols_[std::size_t(slot)].data(), column, kColumnBytes);
  colZero_[std::size_t(slot)] = zero;
  trailingZeros_[std::size_t(slot)] = trailing;
  newest_ = slot;
  if (windowColumns_ < 2) ++windowColumns_;
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
  // Only the last kHistory bytes of the stream can still be needed.
  const long long end = streamPos_ + bytes;
  for (long long p = std::max(streamPos_, end - kHistory); p < end;) {
    const auto inColumn = std::size_t((p - streamPos_) % kColumnBytes);
    const auto at = std::size_t(p & (kHistory - 1));
    const std::size_t k =
        std::min({std::size_t(kColumnBytes) - inColumn, std::size_t(kHistory) - at, std::size_t(end - p)});
    std::memcpy(history_.data() + at, column + inColumn, k);
    p += (long long)k;
  }
  streamPos_ += bytes;
  pendingLen_ += bytes;
  sameRun_ += bytes;
  if (colZero_[std::size_t(newest_)]) zeroRun_ += bytes;
  if (n > 0) windowColumns_ = 2;
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
    room(2);
    putByte(0x81);
    putByte(0x00);
    emitZeroCount(zeroRun_ - 1);
  }
  pendingLen_ = zeroRun_ = sameRun_ = 0;
  drainStage();
  bytesSinceFlush_ = 0;
}

}  // namespace ph
