#pragma once
// The row parser of the conversion: takes the .p3d in blocks, cuts every
// layer into bands of band64 rows and hands each band on to become a
// stretch, adding the empty stretches the layout asks for. It may run on a
// thread of its own: what it tells the operator goes through the stretch
// pipeline, which keeps it in its place among the stretches written, and
// it reads the settings as they stood when the conversion started.
#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/jobdata/p3d_stream.h"

namespace ph {

class HostCore;
class StretchPipeline;
struct ConversionSettings;
struct JobLayout;
struct LookupTables;

// What the row parser reads of the settings and the layout.
struct ParseSettings {
  int band64 = 64;
  int shiftLayer = 0;
  bool bridgelayers = false;
  int br32 = 0;
  int addedStretch = 0;
  int layerMicrons = 250;
  int skipstretches = 0;
  bool bidirectional = false;
  bool alternating = false;  // bidirectional and no pattern printed
  int pagetopmargin = 0;
  int stretchesPerLayer = 0;
  // Every byte through the one-byte steps (the reference for the tests).
  bool plainParsing = false;

  static ParseSettings take(const ConversionSettings& settings, const JobLayout& layout);
  int bandRows() const { return band64; }
};

class RowParser {
 public:
  RowParser(HostCore& core, const LookupTables& tables, JobLayout& layout, StretchPipeline& stretches);

  // Before the first block of a conversion.
  void startConversion(const ParseSettings& settings);
  // Parses count bytes; the state runs on from block to block.
  void parsePclBlock(const std::uint8_t* bytes, int count);
  // After the last block (and after the parser's thread ended): the
  // widest row goes to the layout.
  void finishConversion();
  // Work of the writing thread that keeps its place after the rows read
  // so far (log lines, messages, progress).
  void defer(std::function<void()> step);

  // Set dots per plane: water, cyan, magenta, yellow.
  std::array<long long, 4> drops{};
  int layerCounter = 0;
  int shiftAccumulator = 0;

 private:
  void layerStart();
  void bandEnd();
  void putRowEnds(int n);
  void storeByte(std::uint8_t c) {
    if (std::size_t(bandFill_) < band_.size() && bandFill_ < kMaxBandBytes)
      band_[std::size_t(bandFill_++)] = c;
    else
      storeByteSlow(c);
  }
  // The band buffer grows with the band; past this a band is not a raster
  // any more and its further bytes are dropped.
  static constexpr int kMaxBandBytes = 16 << 20;
  void storeByteSlow(std::uint8_t c);
  // A plane row's data is complete: statistics, here or with its band.
  void planeRowRead();
  void countPlaneRowHere();
  // A plane code ("v", "w", "W") read after its number.
  void planeCode(std::uint8_t c);
  // A long row read while a backward pass is collected is logged (the
  // writing thread's; at most 100 a program run).
  void reportLongRow(int length);
  // Counts a row into drops and the widest row; returns its decoded length.
  int countRow(const std::uint8_t* data, int length, int plane);

  HostCore& core_;
  const LookupTables& tables_;
  JobLayout& layout_;
  StretchPipeline& stretches_;
  ParseSettings s_;
  int widestRow_ = 0;  // djmaxline so far

  int parseMode_ = 2;  // 2 waiting for a layer, 0 top margin, 1 collecting a band
  std::vector<std::uint8_t> band_;
  int bandFill_ = 0;
  bool bandOverflowShown_ = false;
  int pendingNumber_ = 0;
  int dataLeft_ = 0;
  int planeDataStart_ = 0;
  int planeIndex_ = 0;
  int previousPlane_ = 0;
  std::uint8_t lastCode_ = 0;
  int rowsLeft_ = 0;
  bool bandComplete_ = false;
  int stretchesLeft_ = 0;
  int bandPosition_ = 0;
  bool layerParity_ = true;  // inverted at every layer start
  MarkerMatch layerStart_ = layerStartMatch();
  int longRowReports_ = 0;  // over the program run; the writing thread's
};

}  // namespace ph
