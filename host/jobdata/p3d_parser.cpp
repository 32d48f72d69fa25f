#include "host/jobdata/p3d_parser.h"

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/main_texts.h"
#include "host/core/numbers.h"
#include "host/jobdata/dmc_out.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/p3d_reader.h"
#include "host/jobdata/stretch_builder.h"
#include "host/jobdata/stretch_encoder.h"

namespace ph {

namespace {

// The band buffer grows with the band; past this a band is not a raster any
// more and its further bytes are dropped.
constexpr int kMaxBandBytes = 16 << 20;
constexpr std::uint8_t kEmptyColumn[3] = {0x81, 0x00, 0x35};

}  // namespace

RowParser::RowParser(HostCore& core, const LookupTables& tables, JobLayout& layout, StretchBuilder& builder,
                     DmcRecordWriter& records, StretchEncoder& encoder, DmcOut& out)
    : core_(core),
      tables_(tables),
      layout_(layout),
      builder_(builder),
      records_(records),
      encoder_(encoder),
      out_(out) {}

void RowParser::startConversion() {
  parseMode_ = 2;
  layerCounter = 0;
  core_.backwardPass = false;
  builder_.lastStretchBackward = false;
  records_.layerParity = true;
  shiftAccumulator = 0;
  bandFill_ = 0;
  bandOverflowShown_ = false;
  pendingNumber_ = dataLeft_ = planeDataStart_ = planeIndex_ = previousPlane_ = 0;
  lastCode_ = 0;
  rowsLeft_ = 0;
  bandComplete_ = false;
  stretchesLeft_ = 0;
  bandPosition_ = 0;
  markerMatch_ = 0;
}

void RowParser::storeByte(std::uint8_t c) {
  if (bandFill_ >= kMaxBandBytes) {
    if (!bandOverflowShown_) {
      bandOverflowShown_ = true;
      core_.memoPrintf("read buffer overflow (%d)", bandFill_);
      core_.ui.showMessage(plat::format("read buffer overflow (%d)", bandFill_));
    }
    return;
  }
  if (std::size_t(bandFill_) >= band_.size()) band_.resize(std::max<std::size_t>(band_.size() * 2, 1 << 16));
  band_[std::size_t(bandFill_++)] = c;
}

void RowParser::putRowEnds(int n) {
  for (int i = 0; i < n; ++i) storeByte('w');
}

void RowParser::planeRowRead() {
  int dots = 0;
  const int length = rowLengthAndDots(band_.data() + planeDataStart_, bandFill_ - planeDataStart_, dots, tables_);
  layout_.djmaxline = std::max(layout_.djmaxline, length);
  drops[std::size_t(previousPlane_)] += dots;
  if (core_.backwardPass && length > 175 && longRowReports_ < 100) {
    ++longRowReports_;
    core_.logVars("d1", length, "d2", length, "111", 111);
  }
}

void RowParser::parsePclBlock(const std::uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) {
    const std::uint8_t c = bytes[i];
    if (parseMode_ == 2) {
      if (markerMatch_ == 0 && c != std::uint8_t(layerStartMarker[0])) {
        // Waiting for a layer: on to the next byte that may start one.
        const void* at = std::memchr(bytes + i, layerStartMarker[0], std::size_t(count - i));
        i = at ? int(static_cast<const std::uint8_t*>(at) - bytes) - 1 : count - 1;
        continue;
      }
      if (c != std::uint8_t(layerStartMarker[markerMatch_])) {
        markerMatch_ = 0;
      } else if (++markerMatch_ == layerStartMarker.size()) {
        markerMatch_ = 0;
        layerStart();
      }
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
    } else {
      storeByte(c);
      if (dataLeft_ >= 1) {
        if (--dataLeft_ == 0) planeRowRead();
      } else if (c == 'v' || c == 'w' || c == 'W') {
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
      } else if (c >= '0' && c <= '9') {
        if (pendingNumber_ < 100000000) pendingNumber_ = pendingNumber_ * 10 + (c - '0');
      } else if (c == 'y') {
        lastCode_ = 'y';
        rowsLeft_ -= pendingNumber_;
        bandComplete_ = rowsLeft_ <= 0;
        pendingNumber_ = 0;
      } else {
        core_.memoPrintf(" wrong char %c", int(c));
        for (int off = -10; off <= 10; ++off) {
          const int at = i + off;
          if (at >= 0 && at < count) core_.memoPrintf("%d %d %c", off, int(bytes[at]), int(bytes[at]));
        }
        return;  // the rest of the block is dropped; the state runs on
      }
    }
    if (bandComplete_ && dataLeft_ == 0) bandEnd();
  }
}

void RowParser::layerStart() {
  const Settings& s = core_.s;
  const int band = clampInt(s.band64, 1, 4096);
  if (builder_.lastStretchBackward && !core_.backwardPass && s.bidirectional && !core_.patternMode) {
    // The layer before ended on a backward pass: it closes with an empty
    // forward stretch.
    builder_.lastStretchBackward = false;
    encoder_.putDataBytes(kEmptyColumn, 3);
    stretchesLeft_ = 0;
    records_.stretchColumns = 0;
    records_.writeStretchRecord(0);
  }
  core_.backwardPass = false;
  parseMode_ = 0;
  bandFill_ = 0;
  rowsLeft_ = layout_.pagetopmargin;
  if (s.shiftLayer != 0) {
    rowsLeft_ -= shiftAccumulator;
    shiftAccumulator = (shiftAccumulator + s.shiftLayer) % band;
  } else if (!records_.layerParity && s.bridgelayers) {
    rowsLeft_ -= s.br32;
  }
  bandPosition_ = rowsLeft_ + 32 - layout_.pagetopmargin;
  dataLeft_ = 0;
  stretchesLeft_ = layout_.stretchesPerLayer + s.addedStretch;
  ++layerCounter;
  records_.layerParity = !records_.layerParity;
  for (int k = 0; k < s.addedStretch; ++k) {
    out_.write(kEmptyColumn, 3);
    records_.stretchColumns = 0;  // an empty stretch of one column
    records_.powderReduceCheck(bandPosition_, layerCounter);
    --stretchesLeft_;
    records_.writeStretchRecord(stretchesLeft_);
  }
  if (rowsLeft_ <= 0) {
    rowsLeft_ += band;
    parseMode_ = 1;
    putRowEnds(band - rowsLeft_);
  }
}

void RowParser::bandEnd() {
  const int band = clampInt(core_.s.band64, 1, 4096);
  while (rowsLeft_ > 0) {
    storeByte('w');
    --rowsLeft_;
  }
  if (parseMode_ == 1) {
    builder_.endBand(bandPosition_, stretchesLeft_, band_.data(), bandFill_, layerCounter);
  }
  if (band_.size() < std::size_t(band + 1)) band_.resize(std::size_t(band + 1));
  std::fill(band_.begin(), band_.begin() + band + 1, std::uint8_t('w'));
  if (lastCode_ == 'W' && stretchesLeft_ > 0) {
    // The layer ended: its missing stretches are built empty.
    band_[std::size_t(band - 1)] = 'W';
    while (stretchesLeft_ > 0) builder_.endBand(bandPosition_, stretchesLeft_, band_.data(), band + 1, layerCounter);
  }
  bandComplete_ = false;
  while (stretchesLeft_ > 0 && rowsLeft_ <= -band) {  // a skip passed whole bands
    builder_.endBand(bandPosition_, stretchesLeft_, band_.data(), band + 1, layerCounter);
    rowsLeft_ += band;
  }
  bandFill_ = 0;
  rowsLeft_ += band;
  putRowEnds(clampInt(band - rowsLeft_, 0, band));
  parseMode_ = stretchesLeft_ > 0 ? 1 : 2;
}

}  // namespace ph
