#pragma once
// One sliced layer: per raster row the spans from left to right, each a
// colour index and the dot where it ends (the start is the previous span's
// end, 0 for the first). Colour 0 is a gap (outside the model), 32752 the
// interior, anything else a palette index. Row boundaries are kept apart
// from the spans, so a row end never depends on the sign or size of a dot.
#include <cstdint>
#include <span>
#include <vector>

namespace lt {

struct Span {
  std::uint16_t colour = 0;
  std::int32_t xEnd = 0;
};

class SpanStore {
 public:
  // Empties the store for a new layer at height z (mm).
  void start(float z);
  // Adds a span to the current row; a span of the previous span's colour
  // extends it. Spans that would end at or before the current end add
  // nothing (they cover no dot).
  void add(std::uint16_t colour, std::int32_t xEnd);
  void endRow();

  bool holdsLayer() const { return holds_; }
  float z() const { return z_; }
  int rows() const { return int(rowStart_.size()) - 1; }
  std::span<const Span> row(int r) const {
    return {spans_.data() + rowStart_[std::size_t(r)], spans_.data() + rowStart_[std::size_t(r) + 1]};
  }
  void release();

 private:
  std::vector<Span> spans_;
  std::vector<std::uint32_t> rowStart_{0};
  std::int32_t rowEnd_ = 0;  // end of the last span of the current row
  float z_ = 0;
  bool holds_ = false;
};

}  // namespace lt
