#include "host/jobdata/stretch_builder.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cassert>
#include <cstring>

#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/lookup_tables.h"
#include "host/core/numbers.h"
#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/nozzle_tables.h"
#include "host/jobdata/p3d_reader.h"

namespace ph {

namespace {

constexpr int kSlotsPerRow = 5;
constexpr char kBlstripError[] = "blstrip error!";
// The fast loop keeps one row of kDeltaStride bytes per column (a column
// and its padding, for whole 16-byte steps).
constexpr int kDeltaStride = 64;
static_assert(kDeltaStride >= kColumnBytes && kDeltaStride % 16 == 0);

struct Run {
  bool repeat;
  int at;  // offset of the run's data
  int n;   // data bytes (1 for a repeat)
  std::uint8_t count;
  int decoded;
};

}  // namespace

int mirrorRow(std::uint8_t* row, int length, const LookupTables& tables, int* usedLength) {
  std::vector<Run> runs;
  int decoded = 0;
  forEachPackBitsRun(row, length, [&](const std::uint8_t* p, int n, int copies, bool repeat) {
    runs.push_back({repeat, int(p - row), n, p[-1], repeat ? copies : n});
    decoded += runs.back().decoded;
  });
  // Leading zero bytes would only trail after mirroring.
  std::size_t first = 0;
  while (first < runs.size() && ((runs[first].repeat && row[runs[first].at] == 0) ||
                                 (!runs[first].repeat && runs[first].n == 1 && row[runs[first].at] == 0)))
    ++first;
  std::vector<std::uint8_t> out;
  out.reserve(std::size_t(length));
  for (std::size_t r = runs.size(); r-- > first;) {
    const Run& run = runs[r];
    // A literal run cut short by the row's end keeps its true length.
    out.push_back(run.repeat ? run.count : std::uint8_t(run.n - 1));
    for (int k = run.n - 1; k >= 0; --k) out.push_back(tables.reversedBits[row[run.at + k]]);
  }
  std::memset(row, 0, std::size_t(length));
  std::memcpy(row, out.data(), out.size());
  if (usedLength) *usedLength = int(out.size());
  return 8 * (125 - decoded);
}

namespace {

// Walks the rows of a band as the builder reads them: plane(row, plane,
// data, n) for each plane code of the first `band` rows. Returns the bytes
// consumed.
template <class Byte, class Plane>
int walkBandRows(Byte* rows, int length, int band, bool& layerEnded, Plane plane) {
  int rowsToSkip = 0;
  int p = 0, row = 0, planeNo = 0, number = 0;
  while (row < band) {
    if (rowsToSkip > 0 || layerEnded) {
      if (rowsToSkip > 0) --rowsToSkip;
      ++row;
      planeNo = 0;
      continue;
    }
    if (p >= length) break;
    const std::uint8_t c = rows[p++];
    if (isRowDigit(c)) {
      addRowDigit(number, c);
    } else if (c == 'y') {
      rowsToSkip = number;
      number = 0;
    } else if (isPlaneCode(c)) {
      const int n = std::min(number, length - p);
      number = 0;
      // A fifth plane code within a row (not written by the slicer) is ignored.
      if (planeNo < 4) plane(row, planeNo, rows + p, n);
      p += n;
      ++planeNo;
      if (c != 'v') {
        ++row;
        planeNo = 0;
        if (c == 'W') layerEnded = true;
      }
    } else {
      layerEnded = true;
    }
  }
  return p;
}

}  // namespace

bool bandEndsLayer(const std::uint8_t* rows, int length, int band) {
  bool layerEnded = false;
  walkBandRows(rows, length, band, layerEnded, [](int, int, const std::uint8_t*, int) {});
  return layerEnded;
}

BuildSettings BuildSettings::take(const ConversionSettings& s, const JobLayout& layout, bool slowColumnLoop) {
  BuildSettings b;
  b.band64 = s.band64;
  b.endx1200 = layout.endx1200;
  b.kcmyoff = s.kcmyoff;
  b.CartridgeDist = s.CartridgeDist;
  b.hazeRemove = s.hazeRemove;
  b.moveBackAlign = s.moveBackAlign;
  b.sizeLimit = s.stretchSizeLim;
  b.blackPrint = s.blackPrint;
  b.skipwater = s.skipwater;
  b.pictureMode = s.pictureMode;
  b.slowColumnLoop = slowColumnLoop;
  return b;
}

void StretchJob::publishColumns(long long columns) {
  if (columnsPublished) return;
  columnsPublished = true;
  publishedColumns = columns;
  this->columns->publish(columns);
}

StretchBuilder::StretchBuilder(const LookupTables& tables, const NozzleTables& nozzles)
    : tables_(tables), nozzles_(nozzles) {
  out_.open(nullptr);
}

bool StretchBuilder::skipLeadingZeros(Slot& slot) {
  if (slot.length >= 2 && slot.data[0] >= 0x80 && slot.data[1] == 0) {
    slot.start += 8 * (257 - slot.data[0]);
    slot.data += 2;
    slot.length -= 2;
    if (slot.length == 0) {
      slot = Slot{};
      --rowsWithData_;
      return false;
    }
  }
  return true;
}

void StretchBuilder::placePlane(int row, int plane, std::uint8_t* data, int n, bool backward, int maxOffset) {
  const BuildSettings& s = *cfg_;
  int slotNo = plane == 0 ? 0 : plane + 1;
  if (s.blackPrint) {
    slotNo = plane == 1 ? 0 : 2;
    if (slotNo == 2) return;  // only the first colour plane prints, through the water slots
  }
  if (n == 0 || (n == 2 && data[0] == 0 && data[1] == 0)) return;
  ++rowsWithData_;
  const int odd = row % 2;
  const int cartridge = slotNo >= 2 ? s.CartridgeDist : 0;
  const int offset = s.kcmyoff[std::size_t(2 * slotNo + odd)];
  // A row that nothing survives still ends through the dot reader.
  static const std::uint8_t noData = 0;
  Slot slot{0, data, n};
  if (slotNo == 0 && s.hazeRemove > 0) {
    auto& store = repacked_[std::size_t(row)];
    PackBitsSlot reader{data, 0, 0, n, 0, false};
    trimAndRepackRow(reader, s.hazeRemove, store);
    slot.data = store.empty() ? &noData : store.data();
    slot.length = int(store.size());
  }
  if (backward) {
    int used = 0;
    const int mirrored =
        slot.length > 0 ? mirrorRow(const_cast<std::uint8_t*>(slot.data), slot.length, tables_, &used) : 8 * 125;
    slot.length = used;
    if (used == 0) slot.data = &noData;
    slot.start = mirrored + maxOffset + 24 - cartridge - offset;
  } else {
    slot.start = offset + cartridge + 24;
  }
  const int startBeforeSkip = slot.start;
  Slot& target = slots_[std::size_t(row * kSlotsPerRow + slotNo)];
  target = slot;
  if (target.length > 0) skipLeadingZeros(target);
  if (slotNo != 0) return;
  // The second water line fires the same row.
  ++rowsWithData_;
  Slot copy = slot;
  copy.start = backward ? startBeforeSkip - s.kcmyoff[std::size_t(2 + odd)] + s.kcmyoff[std::size_t(odd)]
                        : s.kcmyoff[std::size_t(2 + odd)] + 24;
  if (copy.length > 0) skipLeadingZeros(copy);
  slots_[std::size_t(row * kSlotsPerRow + 1)] = copy;
}

void StretchBuilder::build(StretchJob& job, const BuildSettings& settings) {
  cfg_ = &settings;
  job_ = &job;
  job.log.clear();
  job.maxColumns = 0;
  job.rebuiltForward = false;
  if (job.state.backward) {
    // The mirror rewrites rows in place: a backward pass reads a copy, and
    // the band stays as it was for a rebuild.
    mirrored_.assign(job.band.begin(), job.band.begin() + job.length);
    buildStretch(mirrored_.data(), true, job.state.initialBytes);
    if (forwardRebuild_) {
      // Outgrew the size limit: built again as a forward pass. The count of
      // the data bytes was cleared by the flush of the first attempt.
      job.rebuiltForward = true;
      buildStretch(job.band.data(), false, 0);
    }
  } else {
    buildStretch(job.band.data(), false, job.state.initialBytes);
  }
  if (!backward_) {
    job.publishColumns(columnsSent_);
    assert(job.publishedColumns == columnsSent_);  // the early count held
  }
  job.columnsSent = columnsSent_;
  job.stretchColumns = backward_ ? alignedColumns_ : columnsSent_;
  // A copy: the builder's buffer keeps its room for the next stretch.
  job.data.assign(out_.memory().begin(), out_.memory().end());
  job_ = nullptr;
}

void StretchBuilder::buildStretch(std::uint8_t* rows, bool backward, long long initialBytes) {
  const BuildSettings& s = *cfg_;
  const int band = s.bandRows();
  slots_.assign(std::size_t(band * kSlotsPerRow), Slot{});
  if (int(repacked_.size()) < band) repacked_.resize(std::size_t(band));
  out_.open(nullptr);
  job_->splits.clear();
  rowsWithData_ = 0;
  forwardRebuild_ = false;
  backward_ = backward;
  int maxOffset = s.kcmyoff[0];
  for (int v : s.kcmyoff) maxOffset = std::max(maxOffset, v);
  maxOffset += s.CartridgeDist;

  bool layerEnded = false;
  walkBandRows(rows, job_->length, band, layerEnded, [&](int row, int plane, std::uint8_t* data, int n) {
    placePlane(row, plane, data, n, backward, maxOffset);
  });

  if (s.pictureMode) {
    rowsWithData_ = 0;
    const int back = s.kcmyoff[4] + s.CartridgeDist;
    for (int r = 0; r < band; ++r)
      for (int k = 0; k < kSlotsPerRow; ++k) {
        Slot& slot = slots_[std::size_t(r * kSlotsPerRow + k)];
        if (slot.start == kEmptySlot) continue;
        if (k < 2) {
          slot = Slot{};
        } else {
          slot.start -= back;
          ++rowsWithData_;
        }
      }
  }

  encoder_.startStretch();
  encoder_.setBytesSinceFlush(initialBytes);
  columnsSent_ = 0;
  if (backward_) backwardAlign();
  encoder_.plain = s.slowColumnLoop;
  if (s.slowColumnLoop)
    columnLoopSlow();
  else
    columnLoopFast();
  job_->maxColumns = std::max(job_->maxColumns, columnsSent_);
  encoder_.flushStretch();
}

void StretchBuilder::backwardAlign() {
  int m = kEmptySlot;
  for (const Slot& slot : slots_)
    if (slot.start != kEmptySlot) m = std::min(m, slot.start);
  // The forward stretch before this one: known, or built on another thread.
  if (job_->partner) job_->state.forwardColumns = job_->partner->get();
  const long long forwardColumns = job_->state.forwardColumns;
  if (m >= 90000) {
    alignedColumns_ = forwardColumns;
    return;
  }
  long long columns = forwardColumns - 8;
  int tries = m < 0 ? 1501 : 1500;
  long long shift = 100000;
  while (shift > m && tries > 0) {
    columns += 8;
    const long long c = std::clamp<long long>(wholeDotsToMm(columns), 0, 560);
    shift = cfg_->moveBackAlign - wholeMmToDots(c);
    --tries;
  }
  if (tries == 0) job_->log.emplace_back(kBlstripError);
  for (Slot& slot : slots_)
    if (slot.start != kEmptySlot) slot.start -= int(shift);
  alignedColumns_ = columns;
}

void reportBits(HostCore& core, const BuildSettings& s, const NozzleTables& nozzles) {
  const bool colourLayout = s.band64 == 64;
  auto bitOf = [](std::uint8_t mask) {
    int b = 0;
    while (mask > 1) mask >>= 1, ++b;
    return b;
  };
  for (int r = 0; r < s.bandRows(); ++r) {
    for (int w = 0; w < 2 && r < NozzleTables::kWaterRows; ++w) {
      const ColumnBit cb = waterColumnBit(nozzles.waterNozzle[std::size_t(w)][std::size_t(r)], colourLayout);
      if (cb.byte >= 0)
        core.memoPrintf("%3d:%1d %c %3d %3d", cb.byte, bitOf(cb.mask), 'W', r, s.kcmyoff[std::size_t(2 * w + r % 2)]);
    }
    for (int c = 0; c < 3 && colourLayout && r < NozzleTables::kColorRows; ++c) {
      const ColumnBit cb = colourColumnBit(nozzles.colorNozzle[std::size_t(c)][std::size_t(r)]);
      if (cb.byte >= 0)
        core.memoPrintf("%3d:%1d %c %3d %3d", cb.byte, bitOf(cb.mask), "CMY"[c], r,
                        s.kcmyoff[std::size_t(4 + 2 * c + r % 2)]);
    }
  }
}

bool StretchBuilder::columnDone() {
  ++columnsSent_;
  if (encoder_.bytesSinceFlush() <= cfg_->sizeLimit) return true;
  if (!backward_) {
    finishStretchData();
    return true;
  }
  // A backward pass cannot be split: it ends and is built again forward.
  forwardRebuild_ = true;
  return false;
}

void StretchBuilder::finishStretchData() {
  encoder_.flushStretch();
  job_->maxColumns = std::max(job_->maxColumns, columnsSent_);
  job_->splits.push_back(out_.tell());
  out_.write(kPlaceholderHeader, kStretchHeaderBytes);
  // Every piece is a pass of its own over the band from its start: it opens
  // with all the columns the stretch has sent so far.
  encoder_.startPieceAfter(columnsSent_);
}

namespace {

// column ^= delta, and delta := 0 (kDeltaStride bytes each).
void xorAndClear(std::uint8_t* column, std::uint8_t* delta) {
#if defined(__SSE2__)
  for (int at = 0; at < kDeltaStride; at += 16) {
    auto* c = reinterpret_cast<__m128i*>(column + at);
    auto* d = reinterpret_cast<__m128i*>(delta + at);
    _mm_store_si128(c, _mm_xor_si128(_mm_load_si128(c), _mm_load_si128(d)));
    _mm_store_si128(d, _mm_setzero_si128());
  }
#else
  for (int k = 0; k < kDeltaStride; ++k) {
    column[k] ^= delta[k];
    delta[k] = 0;
  }
#endif
}

// The column byte and bit a slot fires, if any.
ColumnBit slotTarget(const NozzleTables& nz, const BuildSettings& s, int row, int slotNo) {
  const bool colourLayout = s.band64 == 64;
  if (slotNo < 2) {
    if (s.skipwater || row >= NozzleTables::kWaterRows) return {};
    return waterColumnBit(nz.waterNozzle[std::size_t(slotNo)][std::size_t(row)], colourLayout);
  }
  if (!colourLayout || row >= NozzleTables::kColorRows) return {};
  return colourColumnBit(nz.colorNozzle[std::size_t(slotNo - 2)][std::size_t(row)]);
}

}  // namespace

void StretchBuilder::columnLoopSlow() {
  const BuildSettings& s = *cfg_;
  const int limit = s.endx1200;
  struct Reader {
    PackBitsSlot slot;
    ColumnBit target;
  };
  std::vector<Reader> readers;
  int rows = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& sl = slots_[i];
    if (sl.start == kEmptySlot) continue;
    ++rows;
    readers.push_back({PackBitsSlot{sl.data, sl.start, 0, sl.length, 0, false},
                       slotTarget(nozzles_, s, int(i) / kSlotsPerRow, int(i) % kSlotsPerRow)});
  }
  std::uint8_t column[kColumnBytes];
  bool stopAfterNext = false;
  for (int col = 0; col <= limit; ++col) {
    const bool last = (rows == 0 || stopAfterNext) && col > 3;
    std::memset(column, 0, sizeof column);
    for (Reader& r : readers)
      if (packBitsNextBit(r.slot, &rows) && r.target.byte >= 0) column[r.target.byte] |= r.target.mask;
    encoder_.encodeColumn(column);
    if (!columnDone()) stopAfterNext = true;
    if (last) break;
  }
}

void StretchBuilder::addRuns(const std::uint8_t* data, int length, int start, int last, std::uint8_t byte,
                             std::uint8_t mask) {
  // Dot i of the row fires at column start + i; the nozzle bit toggles
  // wherever a dot differs from the one before it.
  std::uint8_t* delta = delta_.data() + byte;  // the byte of column c is delta[c * kDeltaStride]
  std::uint8_t* changed = changed_.data();
  unsigned previous = 0;  // the last dot of the byte before
  int column = start;     // the column of the next byte's first dot
  auto addByte = [&](unsigned b) {
    unsigned change = (b ^ ((b >> 1) | (previous << 7))) & 0xFF;
    previous = b & 1;
    for (; change; change &= change - 1) {
      const int at = column + 7 - __builtin_ctz(change);
      if (at > last) continue;
      delta[std::size_t(at) * kDeltaStride] ^= mask;
      changed[at] = 1;
    }
    column += 8;
  };
  forEachPackBitsRun(data, length, [&](const std::uint8_t* p, int n, int copies, bool repeat) {
    if (column > last) return;
    if (!repeat) {
      for (int k = 0; k < n && column <= last; ++k) addByte(p[k]);
      return;
    }
    const unsigned b = *p;
    addByte(b);
    if (b == 0 || b == 0xFF) {  // copies of a uniform byte change nothing
      column += 8 * (copies - 1);
      return;
    }
    for (int k = 1; k < copies && column <= last; ++k) addByte(b);
  });
  if (previous && column <= last) {
    delta[std::size_t(column) * kDeltaStride] ^= mask;
    changed[column] = 1;
  }
}

void StretchBuilder::columnLoopFast() {
  const BuildSettings& s = *cfg_;
  const int limit = s.endx1200;
  long long lastData = -1;
  bool any = false;
  // The last column: the one after every row has been read to its end.
  for (const Slot& sl : slots_) {
    if (sl.start == kEmptySlot) continue;
    any = true;
    const int start = std::max(sl.start, 0);
    long long length = 0;
    const int left = forEachPackBitsRun(sl.data, sl.length, [&](const std::uint8_t*, int n, int copies, bool repeat) {
      length += repeat ? copies : n;
    });
    const bool dangling = left == 1;
    lastData = std::max(lastData, length == 0 ? start : start + 8 * length - 1 + (dangling ? 1 : 0));
  }
  long long lastColumn = any ? std::max<long long>(lastData + 1, 4) : 4;
  int last = int(std::min<long long>(lastColumn, limit));
  // A forward pass sends every column up to the last: a backward pass
  // built on another thread may align on the count now.
  if (!backward_) job_->publishColumns(last + 1);

  // What changes from each column to the next, as XOR masks. The image is
  // all zero between stretches: each row is cleared as it is used.
  const std::size_t rows = std::size_t(last) + 1;
  if (!deltaClean_) std::fill(delta_.begin(), delta_.end(), std::uint8_t(0));
  if (delta_.size() < rows * kDeltaStride) delta_.resize(rows * kDeltaStride, 0);
  deltaClean_ = false;
  changed_.assign(rows + 1, 0);
  changed_[rows] = 1;  // stops the search for the next change
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& sl = slots_[i];
    if (sl.start == kEmptySlot || sl.length <= 0) continue;
    const ColumnBit target = slotTarget(nozzles_, s, int(i) / kSlotsPerRow, int(i) % kSlotsPerRow);
    const int start = std::max(sl.start, 0);
    if (target.byte < 0 || start > last) continue;
    addRuns(sl.data, sl.length, start, last, std::uint8_t(target.byte), target.mask);
  }

  alignas(16) std::uint8_t column[kDeltaStride] = {};  // the bytes past kColumnBytes stay 0
  int lastChange = -2;  // the column state was last changed here
  int col = 0;
  for (; col <= last;) {
    if (changed_[std::size_t(col)]) {
      xorAndClear(column, delta_.data() + std::size_t(col) * kDeltaStride);
      lastChange = col;
    }
    // Unchanged for two columns: the column repeats the one two back, and
    // so do all up to the next change.
    const bool repeats = col - lastChange >= 2;
    if (repeats && encoder_.canRepeat()) {
      // changed_[last + 1] is set, so a change is always found.
      const auto* next =
          static_cast<const std::uint8_t*>(std::memchr(changed_.data() + col + 1, 1, std::size_t(last - col + 1)));
      assert(next);
      const int upTo = int(next - changed_.data()) - 1;
      encoder_.repeatColumns(upTo - col + 1);
      columnsSent_ += upTo - col + 1;
      col = upTo + 1;
      continue;
    }
    encoder_.encodeColumn(column, repeats);
    if (!columnDone() && last > std::max(col + 1, 4)) {
      // The stretch ends after the next column: the search for the next
      // change stops at the new end.
      last = std::max(col + 1, 4);
      changed_[std::size_t(last) + 1] = 1;
    }
    ++col;
  }
  // A stretch cut short leaves rows behind it.
  for (std::size_t c = std::size_t(col); c < rows; ++c)
    if (changed_[c]) std::memset(delta_.data() + c * kDeltaStride, 0, kDeltaStride);
  deltaClean_ = true;
}

}  // namespace ph
