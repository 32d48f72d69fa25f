#include "host/jobdata/p3d_reader.h"

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/lookup_tables.h"
#include "host/jobdata/job_state.h"

namespace ph {

namespace {

void endRow(PackBitsSlot& s, int* rowsWithData) {
  s.data = nullptr;
  s.delay = kRowEnded;
  if (rowsWithData) --*rowsWithData;
}

}  // namespace

bool packBitsNextBit(PackBitsSlot& s, int* rowsWithData) {
  if (--s.delay >= 0) return false;
  if (!s.data) {  // an ended row, or one never given data
    s.delay = kRowEnded;
    return false;
  }
  if (s.mask == 0) {
    s.advance = false;
    if (s.run == 0) {
      // A count byte with nothing behind it ends the row: its run has no data.
      if (s.bytesLeft < 2) {
        endRow(s, rowsWithData);
        return false;
      }
      const auto h = std::int8_t(*s.data);
      s.run = h < 0 ? h - 1 : h + 1;
      ++s.data;
      --s.bytesLeft;
    }
    s.mask = 0x80;
    if (s.run < 0) {
      ++s.run;
      s.advance = s.run == 0;
    } else {
      s.advance = true;
      --s.run;
    }
  }
  const bool dot = (*s.data & s.mask) != 0;
  s.mask >>= 1;
  if (s.advance && s.mask == 0) {
    ++s.data;
    if (--s.bytesLeft < 1) endRow(s, rowsWithData);
  }
  return dot;
}

int unpackRow(std::vector<std::uint8_t>& out, const std::uint8_t* data, int length, int maxOut, bool* dangling) {
  out.clear();
  int total = 0;
  const int left = forEachPackBitsRun(data, length, [&](const std::uint8_t* p, int n, int copies, bool repeat) {
    if (repeat) {
      const int keep = std::max(0, std::min(copies, maxOut - total));
      out.insert(out.end(), std::size_t(keep), *p);
      total += copies;
    } else {
      const int keep = std::max(0, std::min(n, maxOut - total));
      out.insert(out.end(), p, p + keep);
      total += n;
    }
  });
  if (dangling) *dangling = left == 1;
  return total;
}

int rowLengthAndDots(const std::uint8_t* data, int length, int& dots, const LookupTables& tables) {
  int total = 0;
  dots = 0;
  forEachPackBitsRun(data, length, [&](const std::uint8_t* p, int n, int copies, bool repeat) {
    if (repeat) {
      total += copies;
      dots += copies * tables.setBitCount[*p];
    } else {
      total += n;
      int i = 0;
      for (std::uint64_t w; i + 8 <= n; i += 8) {
        // Eight bytes at once (the builtin is a library call without a
        // popcount instruction).
        std::memcpy(&w, p + i, 8);
        w -= (w >> 1) & 0x5555555555555555ull;
        w = (w & 0x3333333333333333ull) + ((w >> 2) & 0x3333333333333333ull);
        w = (w + (w >> 4)) & 0x0F0F0F0F0F0F0F0Full;
        dots += int((w * 0x0101010101010101ull) >> 56);
      }
      for (; i < n; ++i) dots += tables.setBitCount[p[i]];
    }
  });
  return total;
}

void packBitsEncode(const std::uint8_t* b, int count, std::vector<std::uint8_t>& out) {
  int i = 0;
  while (i < count) {
    if (i + 1 < count && b[i + 1] == b[i]) {
      int k = 2;
      while (k < 127 && i + k < count && b[i + k] == b[i]) ++k;
      out.push_back(std::uint8_t(1 - k));
      out.push_back(b[i]);
      i += k;
    } else {
      int k = 1;
      while (k < 127 && i + k < count && (i + k == count - 1 || b[i + k] != b[i + k + 1])) ++k;
      out.push_back(std::uint8_t(k - 1));
      out.insert(out.end(), b + i, b + i + k);
      i += k;
    }
  }
}

void trimAndRepackRow(PackBitsSlot& slot, int haze, std::vector<std::uint8_t>& store) {
  // The builder trims a row before reading any dot of it, so the slot
  // stands at a count byte.
  std::vector<std::uint8_t> bytes;
  if (slot.data && slot.bytesLeft > 0) unpackRow(bytes, slot.data, slot.bytesLeft, kRepackRowBytes);
  auto getBit = [&](int i) { return (bytes[std::size_t(i >> 3)] >> (7 - (i & 7))) & 1; };
  auto clearBit = [&](int i) { bytes[std::size_t(i >> 3)] &= std::uint8_t(~(0x80 >> (i & 7))); };
  const int len = int(bytes.size()) * 8;
  int i = 0;
  while (i < len && !getBit(i)) ++i;  // leading blanks stay
  while (i < len) {
    const int runStart = i;
    while (i < len && getBit(i)) ++i;
    if (i - runStart > 2 * haze)
      for (int k = i - haze; k < i; ++k) clearBit(k);
    while (i < len && !getBit(i)) ++i;
  }
  store.clear();
  packBitsEncode(bytes.data(), int(bytes.size()), store);
  // An empty row still ends through the reader, which counts it off.
  static const std::uint8_t noData = 0;
  slot.data = store.empty() ? &noData : store.data();
  slot.bytesLeft = int(store.size());
}

bool seekLayerStart(P3dReadBuffer& in) {
  MarkerMatch marker = layerStartMatch();
  std::uint8_t c;
  while (in.next(c))
    if (marker.feed(c)) return true;
  return false;
}

int leadingEmptyRows(HostCore& core, const JobState& job) {
  FilePtr f = core.openFile(job.workFileName("p3d"), "rb").file;
  if (!f) return 0;
  P3dReadBuffer in(f.get());
  if (!seekLayerStart(in)) return 0;
  long long count = 0;  // skips are large in a damaged file
  int number = 0;
  std::uint8_t c;
  while (in.next(c)) {
    if (c == 'y') {
      count += number;
      number = 0;
    } else if (isPlaneCode(c)) {
      if (number >= 1) break;
      ++count;
      number = 0;
    } else if (isRowDigit(c)) {
      addRowDigit(number, c);
    } else {
      number = 0;
    }
  }
  return int(std::min<long long>(count, kRowNumberLimit));
}

}  // namespace ph
