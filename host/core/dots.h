#pragma once
// The printer's dot grid of 300 dots to the inch, and millimetres: 300 dots
// are 25.4 mm. Each conversion keeps the order of its arithmetic, so a
// value rounded or cut afterwards comes out the same wherever it is used.
namespace ph {

inline constexpr double kMmPerDot = 25.4 / 300.0;

constexpr double mmToDots(double mm) { return mm * 300 / 25.4; }
constexpr double dotsToMm(double dots) { return dots * 25.4 / 300; }

// Whole dots and whole millimetres in integer arithmetic, cut toward zero
// (254 mm are 3000 dots): the stretch records count their columns so.
template <class Int>
constexpr Int wholeDotsToMm(Int dots) {
  return dots * 254 / 3000;
}
template <class Int>
constexpr Int wholeMmToDots(Int mm) {
  return mm * 3000 / 254;
}

}  // namespace ph
