#pragma once
// Where the drops of a colour land: each ink amount becomes an 8 x 8 one-bit
// pattern laid out in one ordered-dither sequence that the four inks of a
// colour share, so their drops fill different dots while they fit in 64.
// Every page shifts the patterns by one dot in x and y.
#include <array>
#include <cstdint>
#include <vector>

#include "slicer/colour_model.h"
#include "slicer/palette.h"

namespace lt {

struct DitherPosition {
  int column = 0, row = 0;
};
// The dot of dither number d (0..63).
DitherPosition ditherPosition(int d);

// One plane of a colour: a constant byte (0 or 255) or eight pattern rows;
// bit k of a row byte is column k.
struct PlanePattern {
  bool patterned = false;
  std::uint8_t constant = 0;
  std::array<std::uint8_t, 8> rows{};
};
using ColourPattern = std::array<PlanePattern, 4>;

// The patterns of one colour's amounts at a dither shift (0..7): planes in
// the order magenta, cyan, yellow, water take consecutive dither numbers;
// 0 or less is an empty plane, 62 or more a full one.
ColourPattern buildPatterns(const InkAmounts& amounts, int layerShift);

// The amounts and unshifted patterns of every palette index and of the
// interior (kSupportIndex); built once per job, read by every page.
class ColourTables {
 public:
  struct Settings {
    int wpix = 64, spix = 64;
    double colourFactor = 0.5;
  };
  void build(const Palette& palette, const ColourCube& cube, const Settings& s);
  const InkAmounts& amounts(int index) const { return amounts_[std::size_t(index)]; }
  const ColourPattern& pattern(int index) const { return patterns_[std::size_t(index)]; }

 private:
  std::vector<InkAmounts> amounts_ = std::vector<InkAmounts>(Palette::kSize);
  std::vector<ColourPattern> patterns_ = std::vector<ColourPattern>(Palette::kSize);
};

// The pattern state of one page: each index walks its pattern rows while it
// has been used within the last five rows and stands still otherwise. A page
// starts with every index at row 0 and unused, so a page never depends on
// the page before it.
class PagePatterns {
 public:
  explicit PagePatterns(const ColourTables& tables) : tables_(tables) {}
  void startPage(int layerShift);
  // The byte of the index's current pattern row in a plane; marks the index
  // as used.
  std::uint8_t planeByte(int index, int plane) const {
    const PlanePattern& p = tables_.pattern(index)[std::size_t(plane)];
    if (!p.patterned) return p.constant;
    const std::uint8_t b = p.rows[std::size_t((phase_[std::size_t(index)] - shift_) & 7)];
    return std::uint8_t(b << shift_ | b >> ((8 - shift_) & 7));
  }
  void use(int index) {
    if (recentUse_[std::size_t(index)] == 0) recent_.push_back(index);
    recentUse_[std::size_t(index)] = 5;
  }
  // After every raster row.
  void advance();

 private:
  const ColourTables& tables_;
  int shift_ = 0;
  std::vector<std::uint8_t> phase_ = std::vector<std::uint8_t>(Palette::kSize);
  std::vector<std::uint8_t> recentUse_ = std::vector<std::uint8_t>(Palette::kSize);
  std::vector<int> recent_;  // the indices whose recentUse is above 0
};

}  // namespace lt
