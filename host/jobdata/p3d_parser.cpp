#include "host/jobdata/p3d_parser.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_reader.h"
#include "host/jobdata/stretch_pipeline.h"

namespace ph {

ParseSettings ParseSettings::take(const ConversionSettings& s, const JobLayout& layout) {
  ParseSettings p;
  p.band64 = s.band64;
  p.shiftLayer = s.shiftLayer;
  p.bridgelayers = s.bridgelayers;
  p.br32 = s.br32;
  p.addedStretch = s.addedStretch;
  p.layerMicrons = s.layerMicrons;
  p.skipstretches = s.skipstretches;
  p.bidirectional = s.bidirectional;
  p.alternating = s.alternating;
  p.pagetopmargin = layout.pagetopmargin;
  p.stretchesPerLayer = layout.stretchesPerLayer;
  return p;
}

RowParser::RowParser(HostCore& core, const LookupTables& tables, JobLayout& layout, StretchPipeline& stretches)
    : core_(core), tables_(tables), layout_(layout), stretches_(stretches) {}

void RowParser::startConversion(const ParseSettings& settings) {
  s_ = settings;
  stretches_.longRowReport = [this](int length) { reportLongRow(length); };
  widestRow_ = layout_.djmaxline;
  parseMode_ = 2;
  layerCounter = 0;
  layout_.job.backwardPass = false;
  layerParity_ = true;
  shiftAccumulator = 0;
  bandFill_ = 0;
  bandOverflowShown_ = false;
  pendingNumber_ = dataLeft_ = planeDataStart_ = planeIndex_ = previousPlane_ = 0;
  lastCode_ = 0;
  rowsLeft_ = 0;
  bandComplete_ = false;
  stretchesLeft_ = 0;
  bandPosition_ = 0;
  layerStart_.reset();
}

void RowParser::finishConversion() {
  // Rows of a band the file ended in never reached a builder; every step
  // of the conversion is taken, so their reports come now.
  for (const StretchJob::PlaneRow& row : std::exchange(stretches_.pendingRows(), {})) {
    const int length = countRow(band_.data() + row.start, row.end - row.start, row.plane);
    if (row.report) reportLongRow(length);
  }
  stretches_.longRowReport = nullptr;
  for (std::size_t p = 0; p < drops.size(); ++p) drops[p] += stretches_.rowDots()[p];
  widestRow_ = std::max(widestRow_, stretches_.widestRow());
  layout_.djmaxline = widestRow_;
}

void RowParser::storeByteSlow(std::uint8_t c) {
  if (bandFill_ >= kMaxBandBytes) {
    if (!bandOverflowShown_) {
      bandOverflowShown_ = true;
      defer([this, fill = bandFill_] {
        core_.memoPrintf("read buffer overflow (%d)", fill);
        core_.ui.showMessage(plat::format("read buffer overflow (%d)", fill));
      });
    }
    return;
  }
  // A band of a usual job takes a few kilobytes: a new buffer starts at
  // one page, as every page first touched costs a fault on the parser's
  // thread, which the whole conversion waits for.
  if (std::size_t(bandFill_) >= band_.size()) band_.resize(std::max<std::size_t>(band_.size() * 2, 1 << 12));
  band_[std::size_t(bandFill_++)] = c;
}

void RowParser::putRowEnds(int n) {
  for (int i = 0; i < n; ++i) storeByte('w');
}

namespace {

// The decoded length in bytes of a PackBits row.
int decodedLength(const std::uint8_t* data, int length) {
  int total = 0;
  forEachPackBitsRun(data, length, [&](const std::uint8_t*, int n, int copies, bool repeat) {
    total += repeat ? copies : n;
  });
  return total;
}

}  // namespace

int RowParser::countRow(const std::uint8_t* data, int length, int plane) {
  int dots = 0;
  const int decoded = rowLengthAndDots(data, length, dots, tables_);
  widestRow_ = std::max(widestRow_, decoded);
  drops[std::size_t(plane)] += dots;
  return decoded;
}

inline void RowParser::planeRowRead() {
  if (parseMode_ == 1 && stretches_.threaded()) {
    // The row goes with its band to a builder, which counts its dots and
    // its length.
    stretches_.planeRow(planeDataStart_, bandFill_, previousPlane_, s_.bidirectional);
    return;
  }
  countPlaneRowHere();
}

void RowParser::countPlaneRowHere() {
  const int length = countRow(band_.data() + planeDataStart_, bandFill_ - planeDataStart_, previousPlane_);
  if (s_.bidirectional && length > StretchPipeline::kLongRow) defer([this, length] { reportLongRow(length); });
}

void RowParser::reportLongRow(int length) {
  // Only while a backward pass is being collected, which the writing
  // thread knows when the row's turn comes.
  if (length <= StretchPipeline::kLongRow || !layout_.job.backwardPass || longRowReports_ >= 100) return;
  ++longRowReports_;
  core_.logVars("d1", length, "d2", length, "111", 111);
}

void RowParser::defer(std::function<void()> step) {
  // The reports of rows read before this step, which would come with their
  // stretch, keep their place ahead of it.
  for (StretchJob::PlaneRow& row : stretches_.pendingRows()) {
    if (!row.report) continue;
    row.report = false;
    if (const int length = decodedLength(band_.data() + row.start, row.end - row.start);
        length > StretchPipeline::kLongRow)
      stretches_.defer([this, length] { reportLongRow(length); });
  }
  stretches_.defer(std::move(step));
}

void RowParser::parsePclBlock(const std::uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    const std::uint8_t c = bytes[i];
    if (parseMode_ == 2) {
      if (layerStart_.idle()) {
        // Waiting for a layer: on to the next byte that may start one.
        const std::size_t skip = layerStart_.skippable(bytes + i, std::size_t(count - i));
        if (skip > 0) {
          i += int(skip) - 1;
          continue;
        }
      }
      if (layerStart_.feed(c)) layerStart();
    } else if (dataLeft_ > 1 && bandFill_ + dataLeft_ < kMaxBandBytes) {
      // Plane data goes into the band as it stands.
      const int k = std::min(dataLeft_, count - i);
      if (band_.size() < std::size_t(bandFill_ + k))
        band_.resize(std::max(band_.size() * 2, std::size_t(bandFill_ + k)));
      std::memcpy(band_.data() + bandFill_, bytes + i, std::size_t(k));
      bandFill_ += k;
      dataLeft_ -= k;
      i += k - 1;
      if (dataLeft_ == 0) planeRowRead();
    } else if (dataLeft_ == 0 && isRowDigit(c) && !s_.plainParsing) {
      // A row number (a few digits, into the band as they stand) and the
      // plane code after it, taken in one go: most plane rows are no more
      // than these and their data.
      int number = pendingNumber_;
      int k = i;
      for (; k < count && isRowDigit(bytes[k]); ++k) {
        storeByte(bytes[k]);
        addRowDigit(number, bytes[k]);
      }
      pendingNumber_ = number;
      if (k < count && isPlaneCode(bytes[k])) {
        storeByte(bytes[k]);
        planeCode(bytes[k]);
        i = k;
      } else {
        i = k - 1;
      }
    } else {
      storeByte(c);
      if (dataLeft_ >= 1) {
        if (--dataLeft_ == 0) planeRowRead();
      } else if (isPlaneCode(c)) {
        planeCode(c);
      } else if (isRowDigit(c)) {
        addRowDigit(pendingNumber_, c);
      } else if (c == 'y') {
        lastCode_ = 'y';
        rowsLeft_ -= pendingNumber_;
        bandComplete_ = rowsLeft_ <= 0;
        pendingNumber_ = 0;
      } else {
        std::vector<std::pair<int, int>> around;
        for (int off = -10; off <= 10; ++off)
          if (i + off >= 0 && i + off < count) around.emplace_back(off, int(bytes[i + off]));
        defer([this, c, around = std::move(around)] {
          core_.memoPrintf(" wrong char %c", int(c));
          for (const auto& [off, b] : around) core_.memoPrintf("%d %d %c", off, b, b);
        });
        return;  // the rest of the block is dropped; the state runs on
      }
    }
    if (bandComplete_ && dataLeft_ == 0) bandEnd();
  }
}

inline void RowParser::planeCode(std::uint8_t c) {
  previousPlane_ = planeIndex_;
  planeIndex_ = std::min(3, planeIndex_ + 1);
  lastCode_ = c;
  dataLeft_ = pendingNumber_;
  planeDataStart_ = bandFill_;
  pendingNumber_ = 0;
  if (c != 'v') {
    planeIndex_ = 0;
    --rowsLeft_;
    bandComplete_ = rowsLeft_ <= 0 || c == 'W';
  }
}

void RowParser::layerStart() {
  const ParseSettings& s = s_;
  const int band = s.bandRows();
  parseMode_ = 0;
  bandFill_ = 0;
  rowsLeft_ = s.pagetopmargin;
  if (s.shiftLayer != 0) {
    rowsLeft_ -= shiftAccumulator;
    shiftAccumulator = (shiftAccumulator + s.shiftLayer) % band;
  } else if (!layerParity_ && s.bridgelayers) {
    rowsLeft_ -= s.br32;
  }
  bandPosition_ = rowsLeft_ + 32 - s.pagetopmargin;
  dataLeft_ = 0;
  stretchesLeft_ = s.stretchesPerLayer + s.addedStretch;
  ++layerCounter;
  layerParity_ = !layerParity_;
  const int added = std::max(s.addedStretch, 0);
  stretches_.layerStart(bandPosition_, layerCounter, stretchesLeft_, added);
  bandPosition_ += added * s.band64;
  stretchesLeft_ -= added;
  if (rowsLeft_ <= 0) {
    rowsLeft_ += band;
    parseMode_ = 1;
    putRowEnds(band - rowsLeft_);
  }
}

void RowParser::bandEnd() {
  const int band = s_.bandRows();
  while (rowsLeft_ > 0) {
    storeByte('w');
    --rowsLeft_;
  }
  if (parseMode_ == 1) stretches_.endBand(bandPosition_, stretchesLeft_, band_, bandFill_, layerCounter);
  if (band_.size() < std::size_t(band + 1)) band_.resize(std::size_t(band + 1));
  std::fill(band_.begin(), band_.begin() + band + 1, std::uint8_t('w'));
  if (lastCode_ == 'W' && stretchesLeft_ > 0) {
    // The layer ended: its missing stretches are built empty.
    band_[std::size_t(band - 1)] = 'W';
    while (stretchesLeft_ > 0)
      stretches_.endBandCopy(bandPosition_, stretchesLeft_, band_.data(), band + 1, layerCounter);
  }
  bandComplete_ = false;
  while (stretchesLeft_ > 0 && rowsLeft_ <= -band) {  // a skip passed whole bands
    stretches_.endBandCopy(bandPosition_, stretchesLeft_, band_.data(), band + 1, layerCounter);
    rowsLeft_ += band;
  }
  bandFill_ = 0;
  rowsLeft_ += band;
  putRowEnds(clampInt(band - rowsLeft_, 0, band));
  parseMode_ = stretchesLeft_ > 0 ? 1 : 2;
}

}  // namespace ph
