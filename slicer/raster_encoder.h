#pragma once
// One layer as one raster page of the job: a fixed page head, every row as
// four PackBits planes (water, cyan, magenta, yellow) of the dots' pattern
// bytes, runs of empty rows folded into short codes, and a fixed page tail.
#include <array>
#include <climits>
#include <cstdint>
#include <string>

#include "slicer/dither_patterns.h"
#include "slicer/span_store.h"

namespace lt {

struct PageSetup {
  int quality = 0;          // -1, 0 or 1, written into the head
  bool lowQuality = false;  // quality -1 in a job
  int widthCode = 227;      // from the model's width
  bool directOutput = false;    // to a printer: long empty runs carry the marker row
  bool markerBytesZero = false;  // -F or -V: the marker row's two 01 bytes are 00
  std::string cursorText = "\x1b*p72X";
  int copiesX = 1, copiesY = 1;
  int modelWidthDots = 10;  // x distance of copies
  int modelRows = 32767;    // rows of one copy
};

// The marker row after a page: (n + step) mod 32, 0 becoming step; a step
// of 0 means no marker row any more.
int nextMarkerRow(int markerRow, int step);
constexpr int kNoMarkerRow = INT_MAX;

class RasterEncoder {
 public:
  RasterEncoder(const ColourTables& tables, const PageSetup& setup);

  // The whole page of a sliced layer, appended to out. layerShift is this
  // page's dither shift, markerRow its marker row number.
  void encodeLayer(const SpanStore& store, int layerShift, int markerRow, std::string& out);

  // The steps, in page order.
  void pageHead(int layerShift, int markerRow, std::string& out);
  void putSpan(int xEnd, int colour);
  void endRow(std::string& out);
  void pageTail(std::string& out);

 private:
  struct PlaneRow {
    std::string data;
    std::uint8_t pending = 0;  // B: the byte of the pending run
    int run = 0;               // n: pending run length in bytes
    std::uint8_t mask = 0;     // bits of the current byte already decided
    std::uint8_t ink = 0;      // OR of every byte emitted
    int literalAt = -1;        // count byte of the open literal run, -1: none
  };
  void literal(PlaneRow& p, std::uint8_t b);
  void repeat(PlaneRow& p, int count, std::uint8_t b);
  void emitRun(PlaneRow& p);
  void clearRow();
  void writeEmptyRows(std::string& out);
  void markerRowBytes(std::string& out) const;

  const ColourTables& tables_;
  PageSetup setup_;
  PagePatterns patterns_;
  std::array<PlaneRow, 4> plane_;
  int x_ = 0;
  int emptyRows_ = 0;
  int markerRow_ = kNoMarkerRow;
  int lowQualityRow_ = 31;
};

}  // namespace lt
