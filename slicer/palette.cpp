#include "slicer/palette.h"

#include <algorithm>

namespace lt {

Palette::Palette() : colours_(kSize), lookup_(65536), use_(kSize) { reset(); }

void Palette::reset() {
  std::fill(colours_.begin(), colours_.end(), std::uint16_t(0));
  std::fill(lookup_.begin(), lookup_.end(), std::uint16_t(0));
  std::fill(use_.begin(), use_.end(), 0);
  colours_[0] = 0xBDEF;
  count_ = 0;
  full_ = false;
}

std::uint16_t Palette::assign(std::uint16_t c) {
  std::uint16_t idx = lookup_[c];
  if (idx == 0) {
    if (count_ + 1 < kSupportIndex) {
      idx = std::uint16_t(++count_);
      colours_[idx] = c;
      lookup_[c] = idx;
    } else {
      full_ = true;
      idx = kSupportIndex;
    }
  }
  ++use_[idx];
  return idx;
}

std::optional<std::uint16_t> Palette::find(std::uint16_t c) const {
  if (std::uint16_t idx = lookup_[c]) return idx;
  return std::nullopt;
}

}  // namespace lt
