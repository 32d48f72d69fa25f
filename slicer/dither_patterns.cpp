#include "slicer/dither_patterns.h"

#include <algorithm>

namespace lt {

DitherPosition ditherPosition(int d) {
  // Pair values 0..3 step to (0, 0), (1, 1), (1, 0), (0, 1); the lowest pair
  // moves by 4 dots, the next by 2, the highest by 1.
  static constexpr int kCol[4] = {0, 1, 1, 0};
  static constexpr int kRow[4] = {0, 1, 0, 1};
  DitherPosition p;
  int weight = 4;
  for (int pair = 0; pair < 3; ++pair, weight /= 2) {
    const int v = (d >> (2 * pair)) & 3;
    p.column += weight * kCol[v];
    p.row += weight * kRow[v];
  }
  return p;
}

ColourPattern buildPatterns(const InkAmounts& amounts, int layerShift) {
  ColourPattern out{};
  int d = 0;
  for (int plane : {kMagenta, kCyan, kYellow, kWater}) {
    PlanePattern& p = out[std::size_t(plane)];
    const int a = amounts[std::size_t(plane)];
    if (a <= 0) continue;
    if (a >= 62) {
      p.constant = 255;
      continue;
    }
    p.patterned = true;
    for (int i = 0; i < a; ++i) {
      const DitherPosition pos = ditherPosition((d + i) & 63);
      p.rows[std::size_t((pos.row + layerShift) & 7)] |= std::uint8_t(1u << ((pos.column + layerShift) & 7));
    }
    d += a;
  }
  return out;
}

void ColourTables::build(const Palette& palette, const ColourCube& cube, const Settings& s) {
  std::fill(amounts_.begin(), amounts_.end(), InkAmounts{});
  std::fill(patterns_.begin(), patterns_.end(), ColourPattern{});
  for (int i = 1; i <= palette.count() && i < kSupportIndex; ++i) {
    amounts_[std::size_t(i)] = colourAmounts(palette.colour(i), cube, s.spix, s.colourFactor);
    patterns_[std::size_t(i)] = buildPatterns(amounts_[std::size_t(i)], 0);
  }
  InkAmounts& inside = amounts_[kSupportIndex];
  if (s.wpix >= 64) {
    inside[kWater] = 64;
    patterns_[kSupportIndex][kWater].constant = 255;
  } else {
    inside[kWater] = s.wpix / 2;
    patterns_[kSupportIndex] = buildPatterns(inside, 0);
  }
}

void PagePatterns::startPage(int layerShift) {
  shift_ = layerShift & 7;
  for (int i : recent_) {
    recentUse_[std::size_t(i)] = 0;
  }
  recent_.clear();
  std::fill(phase_.begin(), phase_.end(), std::uint8_t(0));
}

void PagePatterns::advance() {
  std::size_t keep = 0;
  for (std::size_t k = 0; k < recent_.size(); ++k) {
    const std::size_t i = std::size_t(recent_[k]);
    phase_[i] = std::uint8_t((phase_[i] + 1) & 7);
    if (--recentUse_[i] > 0) recent_[keep++] = recent_[k];
  }
  recent_.resize(keep);
}

}  // namespace lt
