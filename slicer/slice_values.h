#pragma once
// The slicing values of the program: the targets of the window's edit boxes,
// of the command line and of the support-file commands C and D.
#include <cstdint>

namespace lt {

struct SliceValues {
  int wpix = 64;  // water drops per 64 dots on white
  int spix = 64;  // total drops per 64 dots on coloured parts
  double colourFactor = 0.5;
  int quality = 0;  // -1, 0 or 1
  int minstepx = 1;  // dots; never below 1, a step of 0 cannot advance
  int minstepy = 1;
  int defaultColour = 32767;  // 15-bit colour code, white
  double skinDepth = 1.0;     // mm
  double surfaceClear = 0.0;  // mm
  double yShift = 0.0;        // mm
  int portValueP = 0;
  int portValueD = 0;

  // Set by a load and by model preparation.
  int copiesX = 1;
  int copiesY = 1;
  int modelWidthDots = 10;
  int modelRows = 32767;
  int traceLevel = 1;
};

// The range a slicing value may take where it enters (command line, set-up
// file, edit boxes, slice calls); anything outside is refused with a message,
// so no arithmetic on these values can overflow.
struct IntRange {
  int lo, hi;
  bool holds(long long v) const { return v >= lo && v <= hi; }
};
inline constexpr IntRange kDropsRange{0, 1000};             // wpix, spix: drops per 64 dots
inline constexpr IntRange kColourWeightRange{0, 1000};      // -C: percent
inline constexpr IntRange kLayerMicronsRange{1, 10000};     // -L
inline constexpr IntRange kSkinMicronsRange{0, 100000};     // -D, -U
inline constexpr IntRange kColourCodeRange{0, 0xFFFF};      // -E: the low 15 bits are the colour
inline constexpr IntRange kYShiftRange{-1000, 1000};        // -Y: mm
inline constexpr IntRange kInstanceRange{0, 0x7FFFFFFF};    // -I: only names the ready event
inline constexpr IntRange kStepRange{1, 1000};              // -M, edit boxes: dots
inline constexpr IntRange kCopiesRange{1, 2400};            // copies in x or y
inline constexpr IntRange kModelDotsRange{1, 2400};         // a copy's width in dots
inline constexpr IntRange kModelRowsRange{1, 32767};        // a copy's rows

// The smallest step of the colour computation; smaller values become 1.
inline int validStep(long long v) { return v < 1 ? 1 : v > 1000000 ? 1000000 : int(v); }

}  // namespace lt
