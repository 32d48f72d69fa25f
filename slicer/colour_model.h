#pragma once
// From a colour to drops: every palette colour and the model's interior get
// an amount of water, cyan, magenta and yellow drops per 8 x 8 dots, with the
// colour amounts corrected through a 6 x 6 x 6 colour cube.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "slicer/palette.h"

namespace lt {

// Planes of a raster row, in the order they are written.
enum Plane { kWater = 0, kCyan = 1, kMagenta = 2, kYellow = 3 };

// Entry c x 36 + m x 6 + y holds corrected cyan (bits 10-14), magenta (5-9)
// and yellow (0-4) amounts for the grid point (c, m, y), each 0..5.
struct ColourCube {
  std::array<std::uint16_t, 216> entry{};
  static const ColourCube& standard();
};

// A cube file: 216 lines, one whole number each. A file that does not open,
// is shorter or holds a line that is not a whole number is refused whole.
std::optional<ColourCube> readColourCube(const std::string& path, std::string& error);

// Drops per 64 dots, indexed by Plane.
using InkAmounts = std::array<int, 4>;

// Cyan, magenta and yellow (0..62 each) corrected through the cube, each
// channel interpolated along its own axis.
std::array<int, 3> cubeCorrected(const ColourCube& cube, std::array<int, 3> cmy);

// The amounts of a 15-bit colour: 62 - 2 x channel per colour ink, corrected,
// and water filling up to spix what the colour (weighted by colourFactor)
// leaves free.
InkAmounts colourAmounts(std::uint16_t colour, const ColourCube& cube, int spix, double colourFactor);

// The palette entry among indices 2..count closest to a 15-bit colour (sum
// of channel differences; the first of equal ones); 2 for a smaller palette.
int nearestPaletteIndex(const Palette& palette, std::uint16_t colour);
// A window colour (red in the low byte) as a 15-bit colour with bit 15 set.
std::uint16_t windowToColour(unsigned windowColour);

// Round to nearest, halves to even, limited to the int range (NaN gives 0).
int roundEven(double v);

}  // namespace lt
