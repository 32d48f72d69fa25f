#include "host/jobdata/stretch_builder.h"

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/lookup_tables.h"
#include "host/core/numbers.h"
#include "host/jobdata/dmc_out.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/nozzle_tables.h"
#include "host/jobdata/p3d_reader.h"
#include "host/jobdata/stretch_encoder.h"

namespace ph {

namespace {

constexpr int kSlotsPerRow = 5;
// Records hold six-digit lengths: stretch data is split well below that.
constexpr long long kMaxStretchBytes = 900000;

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
  for (int i = 0; i < length - 1;) {
    const std::uint8_t count = row[i++];
    const auto h = std::int8_t(count);
    if (h < 0) {
      runs.push_back({true, i, 1, count, 1 - int(h)});
      i += 1;
    } else {
      const int n = std::min(int(h) + 1, length - i);
      runs.push_back({false, i, n, count, n});
      i += n;
    }
    decoded += runs.back().decoded;
  }
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

StretchBuilder::StretchBuilder(HostCore& core, const LookupTables& tables, const NozzleTables& nozzles,
                               JobLayout& layout, StretchEncoder& encoder, DmcRecordWriter& records, DmcOut& out)
    : core_(core),
      tables_(tables),
      nozzles_(nozzles),
      layout_(layout),
      encoder_(encoder),
      records_(records),
      out_(out) {}

int StretchBuilder::bandRows() const { return clampInt(core_.s.band64, 1, 4096); }

void StretchBuilder::startConversion() {
  lastStretchBackward = false;
  stretchColumns_ = forwardColumns_ = alignedColumns_ = 0;
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
  const Settings& s = core_.s;
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

int StretchBuilder::buildStretch(std::uint8_t* rows, int length, int& rowsToSkip, bool& layerEnded) {
  const Settings& s = core_.s;
  const int band = bandRows();
  slots_.assign(std::size_t(band * kSlotsPerRow), Slot{});
  if (int(repacked_.size()) < band) repacked_.resize(std::size_t(band));
  records_.splitList.clear();
  rowsWithData_ = 0;
  forwardRebuild_ = false;
  backward_ = core_.backwardPass;
  int maxOffset = s.kcmyoff[0];
  for (int v : s.kcmyoff) maxOffset = std::max(maxOffset, v);
  maxOffset += s.CartridgeDist;

  int p = 0, row = 0, plane = 0, number = 0;
  while (row < band) {
    if (rowsToSkip > 0 || layerEnded) {
      if (rowsToSkip > 0) --rowsToSkip;
      ++row;
      plane = 0;
      continue;
    }
    if (p >= length) break;
    const std::uint8_t c = rows[p++];
    if (c >= '0' && c <= '9') {
      if (number < 100000000) number = number * 10 + (c - '0');
    } else if (c == 'y') {
      rowsToSkip = number;
      number = 0;
    } else if (c == 'v' || c == 'w' || c == 'W') {
      const int n = std::min(number, length - p);
      number = 0;
      // A fifth plane code within a row (not written by the slicer) is ignored.
      if (plane < 4) placePlane(row, plane, rows + p, n, backward_, maxOffset);
      p += n;
      ++plane;
      if (c != 'v') {
        ++row;
        plane = 0;
        if (c == 'W') layerEnded = true;
      }
    } else {
      layerEnded = true;
    }
  }

  const Control* picture = core_.controls.find("picturemode1");
  if (picture && picture->checked) {
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
  columnsSent_ = 0;
  if (bitReport) report();
  if (backward_) backwardAlign();
  encoder_.plain = slowColumnLoop;
  if (slowColumnLoop)
    columnLoopSlow();
  else
    columnLoopFast();
  stretchColumns_ = backward_ ? alignedColumns_ : columnsSent_;
  if (!backward_) forwardColumns_ = columnsSent_;
  core_.s.maxstretchlen = int(std::max<long long>(core_.s.maxstretchlen, columnsSent_));
  encoder_.flushStretch();
  return p;
}

void StretchBuilder::backwardAlign() {
  int m = kEmptySlot;
  for (const Slot& slot : slots_)
    if (slot.start != kEmptySlot) m = std::min(m, slot.start);
  if (m >= 90000) {
    alignedColumns_ = forwardColumns_;
    return;
  }
  long long columns = forwardColumns_ - 8;
  int tries = m < 0 ? 1501 : 1500;
  long long shift = 100000;
  while (shift > m && tries > 0) {
    columns += 8;
    const long long c = std::clamp<long long>(columns * 254 / 3000, 0, 560);
    shift = core_.s.moveBackAlign - c * 3000 / 254;
    --tries;
  }
  if (tries == 0) core_.memoPrintf("blstrip error!");
  for (Slot& slot : slots_)
    if (slot.start != kEmptySlot) slot.start -= int(shift);
  alignedColumns_ = columns;
}

void StretchBuilder::report() {
  bitReport = false;
  const Settings& s = core_.s;
  const bool colourLayout = s.band64 == 64;
  auto bitOf = [](std::uint8_t mask) {
    int b = 0;
    while (mask > 1) mask >>= 1, ++b;
    return b;
  };
  for (int r = 0; r < bandRows(); ++r) {
    for (int w = 0; w < 2 && r < NozzleTables::kWaterRows; ++w) {
      const ColumnBit cb = waterColumnBit(nozzles_.waterNozzle[std::size_t(w)][std::size_t(r)], colourLayout);
      if (cb.byte >= 0)
        core_.memoPrintf("%3d:%1d %c %3d %3d", cb.byte, bitOf(cb.mask), 'W', r, s.kcmyoff[std::size_t(2 * w + r % 2)]);
    }
    for (int c = 0; c < 3 && colourLayout && r < NozzleTables::kColorRows; ++c) {
      const ColumnBit cb = colourColumnBit(nozzles_.colorNozzle[std::size_t(c)][std::size_t(r)]);
      if (cb.byte >= 0)
        core_.memoPrintf("%3d:%1d %c %3d %3d", cb.byte, bitOf(cb.mask), "CMY"[c], r,
                         s.kcmyoff[std::size_t(4 + 2 * c + r % 2)]);
    }
  }
}

bool StretchBuilder::columnDone() {
  ++columnsSent_;
  const long long limit = std::min<long long>(core_.s.stretchSizeLim, kMaxStretchBytes);
  if (encoder_.bytesSinceFlush() <= limit) return true;
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
  core_.s.maxstretchlen = int(std::max<long long>(core_.s.maxstretchlen, columnsSent_));
  records_.splitList.push_back(out_.tell());
  out_.write(kPlaceholderHeader, kStretchHeaderBytes);
  // Every piece is a pass of its own over the band from its start: it opens
  // with all the columns the stretch has sent so far.
  encoder_.startPieceAfter(columnsSent_);
}

namespace {

// The column byte and bit a slot fires, if any.
ColumnBit slotTarget(const NozzleTables& nz, const Settings& s, int row, int slotNo) {
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
  const Settings& s = core_.s;
  const int limit = layout_.endx1200;
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
  unsigned previous = 0;  // the last dot of the byte before
  int column = start;     // the column of the next byte's first dot
  auto addByte = [&](unsigned b) {
    unsigned change = (b ^ ((b >> 1) | (previous << 7))) & 0xFF;
    previous = b & 1;
    while (change) {
      const int i = __builtin_clz(change) - 24;
      if (column + i <= last) toggles_.push_back({column + i, byte, mask});
      change &= ~(0x80u >> i);
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
  if (previous && column <= last) toggles_.push_back({column, byte, mask});
}

void StretchBuilder::columnLoopFast() {
  const Settings& s = core_.s;
  const int limit = layout_.endx1200;
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

  toggles_.clear();
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& sl = slots_[i];
    if (sl.start == kEmptySlot || sl.length <= 0) continue;
    const ColumnBit target = slotTarget(nozzles_, s, int(i) / kSlotsPerRow, int(i) % kSlotsPerRow);
    const int start = std::max(sl.start, 0);
    if (target.byte < 0 || start > last) continue;
    addRuns(sl.data, sl.length, start, last, std::uint8_t(target.byte), target.mask);
  }
  // The toggles in column order (counting sort).
  togglesAt_.assign(std::size_t(last) + 2, 0);
  for (const Toggle& t : toggles_) ++togglesAt_[std::size_t(t.column) + 1];
  for (std::size_t c = 1; c < togglesAt_.size(); ++c) togglesAt_[c] += togglesAt_[c - 1];
  sorted_.resize(toggles_.size());
  fillAt_.assign(togglesAt_.begin(), togglesAt_.end() - 1);
  for (const Toggle& t : toggles_) sorted_[std::size_t(fillAt_[std::size_t(t.column)]++)] = t;

  std::uint8_t column[kColumnBytes] = {};
  int lastChange = -2;   // the column state was last changed here
  std::size_t next = 0;  // the next toggle in column order
  for (int col = 0; col <= last;) {
    for (; next < sorted_.size() && sorted_[next].column == col; ++next)
      column[sorted_[next].byte] ^= sorted_[next].mask;
    if (togglesAt_[std::size_t(col)] < togglesAt_[std::size_t(col) + 1]) lastChange = col;
    // Unchanged for two columns: the column repeats the one two back, and
    // so do all up to the next change.
    const bool repeats = col - lastChange >= 2;
    if (repeats && encoder_.canRepeat()) {
      const int upTo = next < sorted_.size() ? std::min(sorted_[next].column - 1, last) : last;
      encoder_.repeatColumns(upTo - col + 1);
      columnsSent_ += upTo - col + 1;
      col = upTo + 1;
      continue;
    }
    encoder_.encodeColumn(column, repeats);
    if (!columnDone()) last = std::min(last, std::max(col + 1, 4));
    ++col;
  }
}

void StretchBuilder::endBand(int& position, int& stretchesLeft, std::uint8_t* band, int length, int layer) {
  int rowsToSkip = 0;
  bool layerEnded = false;
  const long long start = out_.tell();
  if (core_.backwardPass) bandCopy_.assign(band, band + length);  // the mirror rewrites the rows
  buildStretch(band, length, rowsToSkip, layerEnded);
  if (forwardRebuild_ && core_.backwardPass) {
    out_.seek(start);
    core_.backwardPass = false;
    rowsToSkip = 0;
    layerEnded = false;
    buildStretch(bandCopy_.data(), length, rowsToSkip, layerEnded);
  }
  records_.stretchColumns = stretchColumns_;
  records_.powderReduceCheck(position, layer);
  --stretchesLeft;
  if (layerEnded && layer > 750 / notnul(core_.s.layerMicrons))
    stretchesLeft = clampInt(stretchesLeft - core_.s.skipstretches, 0, 999);
  lastStretchBackward = core_.backwardPass;
  records_.writeStretchRecord(stretchesLeft);
  out_.settle();
}

}  // namespace ph
