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

// The smallest step of the colour computation; smaller values become 1.
inline int validStep(long long v) { return v < 1 ? 1 : v > 1000000 ? 1000000 : int(v); }

}  // namespace lt
